// The configuration editor's window on Qt's offscreen platform: what its
// fields, labels and buttons show.
#include "host/ui/config_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <algorithm>

#include "host/core/settings_files.h"
#include "host/core/testing/core_fixture.h"
#include "host/core/testing/fake_editor_machine.h"

namespace ph {
namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "prismhost_config_dialog_tests";
  static char* argv[] = {name, nullptr};
  // Kept to the end: Qt's own objects must not outlive it at exit.
  static QApplication* a = new QApplication(argc, argv);
  return *a;
}

class ConfigDialogTest : public ::testing::Test, public CoreFixture {
 protected:
  void SetUp() override {
    app();
    editor.view = &dialog;
  }
  void TearDown() override { delete window_; }

  // The editor's window on a group's page, built as opening it builds it
  // (not run modally: the test looks at it).
  QDialog* page(const std::string& group) {
    const auto tabs = editor.tabs();
    editor.pendingValues.assign(std::size_t(core.params.paramCount()), ConfigEditor::kUnchanged);
    editor.buildPage(int(std::find(tabs.begin(), tabs.end(), group) - tabs.begin()));
    window_ = dialog.build();  // in place of the one built before
    return window_;
  }
  template <class W>
  W* child(const std::string& name) {
    return window_->findChild<W*>(QString::fromStdString(name));
  }
  std::string pending(const std::string& name) const {
    return editor.pendingValues[std::size_t(core.params.find(name))];
  }
  static void type(QWidget* w, const QString& text) {
    for (const QChar c : text) {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(w, &press);
    }
  }

  SettingsFiles files{core};
  FakeEditorMachine machine;
  ConfigEditor editor{core, files, machine};
  ConfigDialog dialog{nullptr, editor};

 private:
  QDialog* window_ = nullptr;
};

// On every page: each caption whole and clear of the buttons, each tab and
// button whole, each field's tooltip its setting's help text.
TEST_F(ConfigDialogTest, EveryCaptionShowsWhole) {
  // A caption longer than the page has room for widens the window.
  int spare = 0;
  core.params.beginParamGroup("various");
  core.params.addparint("spareSetting", spare, "{a caption far longer than the room a page has beside its fields}");
  for (const auto& group : editor.tabs()) {
    QDialog* w = page(group);
    ASSERT_EQ(w->findChildren<QPushButton*>().size(), 2);
    int buttonsLeft = w->width();
    for (auto* b : w->findChildren<QPushButton*>()) {
      EXPECT_GE(b->width(), b->sizeHint().width()) << b->text().toStdString();
      EXPECT_LE(b->geometry().right(), w->width()) << b->text().toStdString();
      buttonsLeft = std::min(buttonsLeft, b->geometry().left());
    }
    for (const EditorField& f : editor.page().fields) {
      auto* label = child<QLabel>(f.name + "_label");
      ASSERT_NE(label, nullptr) << f.name;
      EXPECT_EQ(label->text().toStdString(), f.label);
      EXPECT_GE(label->width(), label->sizeHint().width()) << f.name;
      EXPECT_LT(label->geometry().right(), buttonsLeft) << f.name;
      auto* field = child<QWidget>(f.name);
      ASSERT_NE(field, nullptr) << f.name;
      EXPECT_EQ(field->toolTip().toStdString(), f.hint) << f.name;
    }
    auto* tabs = w->findChild<QTabBar*>();
    ASSERT_NE(tabs, nullptr);
    for (int i = 0; i < tabs->count(); ++i) {
      EXPECT_LE(tabs->tabRect(i).right(), tabs->width()) << tabs->tabText(i).toStdString();
      EXPECT_GT(tabs->tabRect(i).width(), tabs->fontMetrics().horizontalAdvance(tabs->tabText(i))) << tabs->tabText(i).toStdString();
    }
  }
  page("various");
  EXPECT_GT(child<QLabel>("spareSetting_label")->geometry().right(), 530 - 80);
}

// A help text that leaves the caption empty: the label names the setting,
// and an emptied field still says which setting it edits.
TEST_F(ConfigDialogTest, AFieldWithoutCaptionShowsItsSettingsName) {
  int spare = 0;
  core.params.beginParamGroup("various");
  core.params.addparint("spareSetting", spare, "what it does{}");
  page("various");
  EXPECT_EQ(child<QLabel>("spareSetting_label")->text(), "spareSetting  +/-");
  auto* edit = child<QLineEdit>("spareSetting");
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->placeholderText(), "spareSetting");
  EXPECT_EQ(edit->accessibleName(), "spareSetting");
}

// The unit stands inside the number's field at its right end; the typed
// text stops before it. Settings without a unit show none.
TEST_F(ConfigDialogTest, NumbersShowTheirUnit) {
  page("slicing");
  auto* edit = child<QLineEdit>("layerMicrons");
  ASSERT_NE(edit, nullptr);
  auto* unit = edit->findChild<QLabel*>("unit");
  ASSERT_NE(unit, nullptr);
  EXPECT_EQ(unit->text(), QString::fromUtf8("\u00b5m"));
  EXPECT_TRUE(edit->rect().contains(unit->geometry()));
  EXPECT_GE(edit->textMargins().right(), unit->width());
  EXPECT_EQ(edit->text().toStdString(), std::to_string(core.s.layerMicrons));  // the value stays the number alone
  EXPECT_EQ(child<QLineEdit>("defaultcolor")->findChild<QLabel*>("unit"), nullptr);
  page("fdm");
  EXPECT_EQ(child<QLineEdit>("printspeed")->findChild<QLabel*>("unit")->text(), "mm/min");
}

// The port fields offer the ports the Host lists, and still take any text.
TEST_F(ConfigDialogTest, PortFieldsOfferTheDetectedPorts) {
  const std::vector<std::string> found = {"/dev/serial/by-id/usb-Prism_Bay_unit_0042-if00", "/dev/ttyS4"};
  machine.ports = [&] { return found; };
  core.s.CommInkDevice = "COM3";
  page("inkjet");
  auto* ink = child<QComboBox>("CommInkDevice");
  ASSERT_NE(ink, nullptr);
  EXPECT_TRUE(ink->isEditable());
  ASSERT_EQ(ink->count(), 2);
  EXPECT_EQ(ink->itemText(0).toStdString(), found[0]);
  EXPECT_EQ(ink->itemText(1).toStdString(), found[1]);
  EXPECT_EQ(ink->currentText(), "COM3");  // the setting as it is, until the operator picks
  EXPECT_EQ(pending("CommInkDevice"), ConfigEditor::kUnchanged);
  EXPECT_GE(ink->view()->minimumWidth(), ink->fontMetrics().horizontalAdvance(ink->itemText(0)));
  ink->setCurrentIndex(0);
  emit ink->textActivated(ink->itemText(0));
  EXPECT_EQ(pending("CommInkDevice"), found[0]);
  EXPECT_EQ(child<QComboBox>("InkjetIni"), nullptr);  // other texts are plain fields

  page("fdm");
  auto* marlin = child<QComboBox>("CommPortMarlin");
  ASSERT_NE(marlin, nullptr);
  ASSERT_EQ(marlin->count(), 2);
  marlin->lineEdit()->selectAll();
  type(marlin->lineEdit(), "127.0.0.1:8250");
  EXPECT_EQ(pending("CommPortMarlin"), "127.0.0.1:8250");
  EXPECT_EQ(marlin->count(), 2);  // typing adds nothing to the list
}

}  // namespace
}  // namespace ph
