// The value dialogs: what they propose, what they store, and what a cancel
// or a bad field leaves alone; and the event pacing of the progress window.
#include "host/core/value_dialogs.h"

#include <gtest/gtest.h>

#include "host/core/host_core.h"
#include "host/core/testing/fake_ui.h"

using namespace ph;

namespace {
// Records what the dialogs proposed.
struct RecordingUi : FakeUi {
  struct Box {
    std::string caption, prompt, initial;
  };
  std::vector<Box> boxes;
  struct FieldBox {
    std::string caption;
    int width, height;
    std::vector<DialogField> fields;
  };
  std::vector<FieldBox> fieldBoxes;

  std::optional<std::string> inputBox(const std::string& c, const std::string& p, const std::string& i) override {
    boxes.push_back({c, p, i});
    return FakeUi::inputBox(c, p, i);
  }
  bool fieldDialog(const std::string& c, int w, int h, std::vector<DialogField>& f) override {
    fieldBoxes.push_back({c, w, h, f});
    return FakeUi::fieldDialog(c, w, h, f);
  }
};
}  // namespace

class ValueDialogs : public ::testing::Test {
 protected:
  RecordingUi ui;
  plat::ManualClock clock;
  HostCore core{ui, clock};
};

TEST_F(ValueDialogs, EditIntValues) {
  int a = 1, b = 2, c = -3;
  ui.inputs = {" 5 , 6", std::nullopt};
  EXPECT_TRUE(editIntValues(core, {{"a", &a}, {"skipped", nullptr}, {"c", &c}}));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].caption, "enter integer values");
  EXPECT_EQ(ui.boxes[0].prompt, "a,c");
  EXPECT_EQ(ui.boxes[0].initial, "1 , -3");
  EXPECT_EQ(a, 5);
  EXPECT_EQ(c, 6);

  EXPECT_FALSE(editIntValues(core, {{"a", &a}, {"b", &b}}));  // cancelled
  EXPECT_EQ(a, 5);
  EXPECT_EQ(b, 2);

  ui.inputs = {"5 , 2", "9"};
  EXPECT_FALSE(editIntValues(core, {{"a", &a}, {"b", &b}}));  // the proposal itself
  editIntValues(core, {{"a", &a}, {"b", &b}});  // a missing item stores 0
  EXPECT_EQ(a, 9);
  EXPECT_EQ(b, 0);
}

TEST_F(ValueDialogs, EditBoolValues) {
  bool x = true, y = false, z = true;
  ui.inputs = {"0, 1 ,yes", std::nullopt};
  editBoolValues(core, {{"x", &x}, {"y", &y}, {"z", &z}});
  EXPECT_EQ(ui.boxes[0].caption, "enter boolean values");
  EXPECT_EQ(ui.boxes[0].prompt, "x,y,z");
  EXPECT_EQ(ui.boxes[0].initial, "1 , 0 , 1");
  EXPECT_FALSE(x);
  EXPECT_TRUE(y);
  EXPECT_FALSE(z);  // only "1" is true
  editBoolValues(core, {{"x", &x}, {"y", &y}});
  EXPECT_FALSE(x);
  EXPECT_TRUE(y);
}

TEST_F(ValueDialogs, AskIntArrayTakesExpressions) {
  int v[4] = {-5, 0, 7, 9};
  ui.inputs = {"2*3, (1+1)", std::nullopt};
  askIntArray(core, v, "offsets", 3);
  EXPECT_EQ(ui.boxes[0].caption, "");
  EXPECT_EQ(ui.boxes[0].prompt, "offsets");
  EXPECT_EQ(ui.boxes[0].initial, "-5,0,7");
  EXPECT_EQ(v[0], 6);
  EXPECT_EQ(v[1], 2);
  EXPECT_EQ(v[2], 0);  // missing item
  EXPECT_EQ(v[3], 9);  // beyond the count
  askIntArray(core, v, "offsets", 3);  // cancelled: the proposal again
  EXPECT_EQ(v[0], 6);
  EXPECT_EQ(v[1], 2);
}

TEST(FloatText, Cases) {
  struct Case {
    const char* text;
    bool ok;
  };
  const Case cases[] = {{"12", true},   {"-0.5", true}, {"5.", true},   {"-12.25", true}, {"", false},
                        {"-", false},   {"-.5", false}, {".5", false},  {"1.2.3", false}, {"1..2", false},
                        {"1e5", false}, {" 1", false},  {"1-2", false}, {"0", true}};
  for (const auto& c : cases) EXPECT_EQ(isFloatText(c.text), c.ok) << c.text;
}

TEST_F(ValueDialogs, EditFloatValuesStoresOnlyValidChanges) {
  float scale = 1.2345678f, angle = 90.0f, shift = -2.5f;
  // The scale field keeps the text it showed: its float must not be touched
  // (7 digits do not give the same float back).
  ui.fieldAnswers.push_back({"1.234568", "x1", "3."});
  editFloatValues(core, "scale and rotate", {&scale, &angle, &shift}, "scale,angle,shift");
  ASSERT_EQ(ui.fieldBoxes.size(), 1u);
  const auto& box = ui.fieldBoxes[0];
  EXPECT_EQ(box.caption, "scale and rotate");
  EXPECT_EQ(box.width, 300);
  EXPECT_EQ(box.height, 300);
  ASSERT_EQ(box.fields.size(), 3u);
  EXPECT_EQ(box.fields[0].label, "scale");
  EXPECT_EQ(box.fields[0].text, "1.234568");
  EXPECT_EQ(box.fields[1].text, "90");
  EXPECT_EQ(box.fields[2].text, "-2.5");
  EXPECT_TRUE(box.fields[2].validate("-0.5"));
  EXPECT_FALSE(box.fields[2].validate("-.5"));
  EXPECT_EQ(scale, 1.2345678f);
  EXPECT_EQ(angle, 90.0f);  // invalid text is never stored
  EXPECT_EQ(shift, 3.0f);
}

TEST_F(ValueDialogs, EditFloatValuesHasAtMostTenFields) {
  float v[12] = {};
  editFloatValues(core, "many", {&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11]},
                  "a,b,c,d,e,f,g,h,i,j,k,l");
  ASSERT_EQ(ui.fieldBoxes.size(), 1u);
  EXPECT_EQ(ui.fieldBoxes[0].fields.size(), 10u);
  editFloatValues(core, "fewer names", {&v[0], &v[1]}, "a");
  EXPECT_EQ(ui.fieldBoxes[1].fields.size(), 1u);
}

TEST_F(ValueDialogs, Edit2int) {
  int a = 3, b = 4;
  EXPECT_FALSE(edit2int(core, a, b, "size", "width", "height"));  // closed without Ok
  EXPECT_EQ(a, 3);
  ASSERT_EQ(ui.fieldBoxes.size(), 1u);
  EXPECT_EQ(ui.fieldBoxes[0].width, 240);
  EXPECT_EQ(ui.fieldBoxes[0].height, 130);
  EXPECT_EQ(ui.fieldBoxes[0].fields[0].label, "width");
  EXPECT_EQ(ui.fieldBoxes[0].fields[1].text, "4");

  ui.fieldAnswers.push_back({"12", " -3 "});
  EXPECT_TRUE(edit2int(core, a, b, "size", "width", "height"));
  EXPECT_EQ(a, 12);
  EXPECT_EQ(b, -3);

  ui.fieldAnswers.push_back({"7", "abc"});
  EXPECT_FALSE(edit2int(core, a, b, "size", "width", "height"));
  EXPECT_EQ(a, 7);  // converted before the bad field
  EXPECT_EQ(b, -3);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "'abc' is not a valid integer value");
}

TEST_F(ValueDialogs, ProgressLetsEventsRunAtMostOnceASecond) {
  showProgress(core, 0);  // closing without a window: no events, nothing shown
  EXPECT_EQ(ui.events, 0);
  EXPECT_EQ(ui.progressShown, 0);
  showProgress(core, 10);
  EXPECT_EQ(ui.events, 1);
  clock.advance(1000);
  showProgress(core, 20);
  EXPECT_EQ(ui.events, 1);  // not more than 1000 ms yet
  clock.advance(1);
  showProgress(core, 30);
  EXPECT_EQ(ui.events, 2);
  EXPECT_EQ(ui.progress, 30);
  EXPECT_EQ(ui.progressShown, 3);
  clock.advance(5000);
  showProgress(core, 100);
  EXPECT_EQ(ui.events, 2);
  EXPECT_EQ(ui.progress, 100);
}
