// The settings interpreter: one path for settings files and "?" texts, the
// jetting-unit codes of int settings, and the settings file writer.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/core/settings_files.h"
#include "host/core/texts.h"
#include "platform/atomic_file.h"

namespace ph {

namespace {
// The longest piece of an input a message repeats: a settings line may be
// megabytes long, and the operator needs only enough to find it.
constexpr std::size_t kMaxEchoedChars = 200;

std::string echoed(const std::string& input) {
  if (input.size() <= kMaxEchoedChars) return input;
  return plat::format("%s... (%zu characters)", input.substr(0, kMaxEchoedChars), input.size());
}
}  // namespace


// ---- tokeniser ----

namespace {
const char* kOperatorChars = "/*-+=&%><";
bool isOperatorChar(char c) { return c && std::strchr(kOperatorChars, c) != nullptr; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isWordChar(char c) { return inCharRanges(c, "azAZ09__"); }
}  // namespace

std::string_view Tokenizer::nextToken(std::string_view& rest) { return next(rest, false); }
std::string_view Tokenizer::nextObjToken(std::string_view& rest) { return next(rest, true); }

std::string Tokenizer::getToken(std::string& line) {
  std::string_view rest(line);
  std::string tok(next(rest, false));
  line.erase(0, line.size() - rest.size());
  return tok;
}

std::string Tokenizer::getObjToken(std::string& line) {
  std::string_view rest(line);
  std::string tok(next(rest, true));
  line.erase(0, line.size() - rest.size());
  return tok;
}

std::string_view Tokenizer::next(std::string_view& line, bool obj) {
  // Takes n characters off the front of the line and returns them.
  auto take = [&line](std::size_t n) {
    std::string_view tok = line.substr(0, n);
    line.remove_prefix(tok.size());
    return tok;
  };
  if (inBlockComment) {
    auto end = line.find("*/");
    if (end == std::string_view::npos) return take(line.size());
    inBlockComment = false;
    return take(end + 2);
  }
  auto first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    line = {};
    return {};
  }
  line.remove_prefix(first);
  if (line.substr(0, 2) == "//") {
    line = {};
    return {};
  }
  if (line.substr(0, 2) == "/*") {
    auto end = line.find("*/", 2);
    if (end == std::string_view::npos) {
      inBlockComment = true;
      return take(line.size());
    }
    // Cut the comment out and go on right behind it.
    line.remove_prefix(end + 2);
    if (line.empty()) return {};
  }
  const char c = line[0];
  std::size_t n = 1;
  if (c == '"' || c == '\'') {
    auto close = line.find(c, 1);
    n = close == std::string_view::npos ? 1 : close + 1;
  } else if (obj && (c == '-' || isDigit(c))) {
    while (n < line.size() && (isDigit(line[n]) || line[n] == '.' || line[n] == '-' || line[n] == 'e')) ++n;
  } else if (inCharRanges(c, "azAZ09$$__")) {
    if (isDigit(c))
      while (n < line.size() && (isDigit(line[n]) || line[n] == '.')) ++n;
    else
      while (n < line.size() && isWordChar(line[n])) ++n;
  } else if (isOperatorChar(c)) {
    if (line.size() > 1 && isOperatorChar(line[1])) {
      n = 2;
      if (line.size() > 2 && line[2] == '=') n = 3;
    }
  }
  return take(n);
}

// ---- interpreter ----

namespace {
// A text in double quotes cannot hold a double quote: "a"b" would be taken
// as "a" and stray words. Every quoted token must be a whole value: right
// behind "=", closed, and ended by a blank or the end of the text.
bool quotedTextsIntact(std::string_view line) {
  Tokenizer tok;
  std::string_view prev;
  for (;;) {
    std::string_view t = tok.nextToken(line);
    if (t.empty()) {
      if (line.empty()) return true;
      continue;
    }
    if (t[0] == '"' && (t.size() < 2 || prev != "=" || (!line.empty() && line[0] != ' ' && line[0] != '\t')))
      return false;
    prev = t;
  }
}
}  // namespace

struct AssignState {
  std::string oldText;
  bool haveText = false;
  float oldFloat = 0;
  bool haveFloat = false;
  int oldInt = -9999;
  // element list of an int array
  IntArrayRef target{nullptr, 0};
  int targetIndex = -1;
  bool listOpen = false;
  int listIndex = 0;
  bool listOverflowReported = false;
  // Refusals and other notes, logged after the tail so that the old values
  // still continue the "setting" line.
  std::vector<std::string> notes;
};

bool HostCore::applySettings(const std::string& textOrFile, bool report) {
  const std::string input = expandCurrentDir(textOrFile);
  const bool reversdirBefore = s.reversdir;
  const bool question = !input.empty() && input[0] == '?';
  AssignState st;
  Tokenizer tok;  // comment state belongs to this one text or file
  // The last three tokens: name, "=" and value.
  std::string recent[3];
  int recentCount = 0;
  bool minus = false;

  auto feed = [&](std::string_view line) {
    for (;;) {
      std::string_view view = tok.nextToken(line);
      if (view.empty()) {
        if (line.empty()) return;
        continue;
      }
      std::string t(view);
      if (t == "-" && !minus) {
        minus = true;
        continue;
      }
      if (minus) {
        t = "-" + t;
        minus = false;
      }
      recent[0].swap(recent[1]);
      recent[1].swap(recent[2]);
      recent[2] = t;
      if (recentCount < 3) ++recentCount;
      if (recentCount == 3 && recent[1] == "=") applyAssignment(recent[0], recent[2], question, report, st);
      if (st.target.first) {
        if (t == "{" && !st.listOpen) {
          st.listOpen = true;
          st.listIndex = 0;
        } else if (st.listOpen && t == "}") {
          st.target = {nullptr, 0};
          st.listOpen = false;
        } else if (st.listOpen && t != ",") {
          const std::string& name = params.entry(st.targetIndex).paramName;
          if (st.listIndex < st.target.count) {
            const int v = textToInt(intPartText(t));
            const std::string refusal = params.rangeRefusal(st.targetIndex, v);
            if (refusal.empty()) st.target.first[st.listIndex] = v;
            else st.notes.push_back(plat::format("%s[%d] = %s not set: %s", name, st.listIndex, t, refusal));
          } else if (!st.listOverflowReported) {
            st.listOverflowReported = true;
            st.notes.push_back(plat::format("%s takes %d values: the rest is passed over", name, st.target.count));
          }
          ++st.listIndex;
        }
      }
    }
  };

  bool read = true;
  if (question) {
    std::string_view body(input);
    body.remove_prefix(1);
    memoPrintf("setting %s ", std::string(body.substr(0, 999)));
    // Refused whole rather than stored cut short or half applied.
    if (quotedTextsIntact(body)) feed(body);
    else memoPrintf("not set: a text in double quotes cannot hold a double quote");
    if (tok.inBlockComment)
      st.notes.push_back("the comment opened with /* is never closed with */; the settings after it were not read");
  } else {
    memoPrintf("loading ini %s ", input);
    std::string text;
    if (!fileExists(input)) {
      ui.showMessage("file not found: " + input);
      read = false;
    } else if (!readSettingsFile(input, text)) {
      read = false;
    } else {
      // Whole lines, however long, so a long quoted text is never split.
      std::string_view rest(text);
      int lineNumber = 0, commentLine = 0;
      while (!rest.empty()) {
        const auto nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++lineNumber;
        const bool inComment = tok.inBlockComment;
        feed(line);
        if (!inComment && tok.inBlockComment) commentLine = lineNumber;
      }
      // Everything after an unclosed comment was passed over: say so.
      if (tok.inBlockComment)
        st.notes.push_back(plat::format("%s line %d: the comment opened with /* there is never closed with */; "
                                        "the settings after it were not read",
                                        input, commentLine));
    }
  }
  settingsTail(question, reversdirBefore, st);
  for (const std::string& note : st.notes) memoPrintf("%s", note);
  return read;
}

void HostCore::applyAssignment(const std::string& name, const std::string& value, bool question, bool report,
                               AssignState& st) {
  if (question && std::string("?layerMicrons?waterpixel?sumpixel?colorweight?skinmicrons?defaultcolor?depleteFile?")
                          .find("?" + name + "?") != std::string::npos)
    slicingSettingChanged.notify();
  const int idx = params.find(name);
  if (idx < 0) {
    if (report) memoPrintf("unknown parameter %s = %s", echoed(name), echoed(value));
    return;
  }
  if (params.mergeMode && params.isNoMerge(name)) return;
  const ParamEntry& e = params.entry(idx);
  if (!value.empty() && value[0] == '"' && e.isText()) {
    std::string* p = std::get<std::string*>(e.paramPtr);
    st.oldText = *p;
    st.haveText = true;
    std::string v = value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string();
    if (v.size() == 2 && v[0] == '@') v = " ";
    *p = v;
    return;
  }
  auto refused = [&](double v) {
    const std::string refusal = params.rangeRefusal(idx, v);
    if (refusal.empty()) return false;
    st.notes.push_back(plat::format("%s = %s not set: %s", name, echoed(value), refusal));
    return true;
  };
  std::visit(
      [&](auto p) {
        using T = decltype(p);
        if constexpr (std::is_same_v<T, int*>) {
          const int v = textToInt(value);
          if (refused(v)) return;
          st.oldInt = *p;
          setParam(*p, v);
        } else if constexpr (std::is_same_v<T, double*>) {
          char* end = nullptr;
          const std::string v = trimmed(value);
          double d = v.empty() ? 0 : std::strtod(v.c_str(), &end);
          if (v.empty() || *end != 0 || !std::isfinite(d)) {
            st.notes.push_back(plat::format("'%s' is not a valid floating point value for %s", echoed(value), name));
            return;
          }
          if (refused(d)) return;
          st.oldFloat = static_cast<float>(*p);
          st.haveFloat = true;
          *p = d;
        } else if constexpr (std::is_same_v<T, bool*>) {
          *p = value == "true";
        } else if constexpr (std::is_same_v<T, Control*>) {
          p->setChecked(value == "true");
        } else if constexpr (std::is_same_v<T, IntArrayRef>) {
          st.target = p;
          st.targetIndex = idx;
          st.listOpen = false;
          st.listOverflowReported = false;
        }
        // An unquoted value for a text stores nothing.
      },
      e.paramPtr);
}

void HostCore::settingsTail(bool question, bool reversdirBefore, const AssignState& st) {
  if (Control* c = controls.find("LabPwdr")) c->setCaption(std::to_string(s.powderPercentage));
  if (s.band64 != lastBand64) {
    lastBand64 = s.band64;
    unitCodes().queueUnitCode(s.band64 == 64 ? " 40n" : " 41n");
  }
  if (s.bidirectional && s.powderReduce) {
    memoPrintf("PowderReduce set to false because of bidirectional");
    s.powderReduce = false;
  }
  if (!s.formCaption.empty()) ui.setCaption(s.formCaption);
  if (s.reversdir != reversdirBefore)
    unitCodes().queueUnitCode(plat::format(" %dn%dn", s.reversdir + 42, s.reversdir + 48));
  if (s.shakerspeed != lastShakerSpeed) {
    lastShakerSpeed = s.shakerspeed;
    if (Control* c = controls.find("shakeLabel")) c->setCaption(plat::format("shake %d +/-", s.shakerspeed));
  }
  if (question) {
    if (st.haveText) memoPrintf("%n (was \"%s\")", st.oldText);
    if (st.haveFloat) memoPrintf("%n(was %s)", plat::format("%.7g", double(st.oldFloat)));
    if (st.oldInt > -9999) memoPrintf("%n(was %d)", st.oldInt);
  }
  settingsSettle_->start();
}

// ---- jetting-unit codes ----

void HostCore::setParam(int& variable, int value) {
  for (const ParamEntry& e : params.entries()) {
    auto p = std::get_if<int*>(&e.paramPtr);
    if (p && *p == &variable && !e.paramCode.empty()) queueParamCode(value, e.paramCode);
  }
  variable = value;
}

void HostCore::queueParamCode(int value, const std::string& code) {
  std::string t = code;
  if (t.compare(0, 6, "<spec>") == 0) {
    t.erase(0, 6);
    if (value > 10) {
      value -= 10;
      t += "3,25o";
    }
  }
  auto star = t.find('*');
  if (star != std::string::npos) {
    value = static_cast<int>(static_cast<long long>(value) * leadingInt(t.substr(0, star)));
    t.erase(0, star + 1);
  }
  // The template holds one "%d" for the value (templates come from the
  // table, never from outside, but are filled without printf all the same).
  auto d = t.find("%d");
  if (d != std::string::npos) t.replace(d, 2, std::to_string(value));
  unitCodes().queueUnitCode(t);
}

// ---- writer ----

std::string HostCore::settingsSaveTarget() {
  if (!folderExists(driveDir(expandCurrentDir(s.settingsFile))))
    s.settingsFile = currentDir() + "/" + fileNamePart(s.settingsFile);
  return nativePath(expandCurrentDir(s.settingsFile));
}

bool HostCore::saveWouldReplaceUnreadFile() {
  const std::string target = settingsSaveTarget();
  return fileExists(target) && (settingsOwner.empty() || !sameSettingsFile(target, settingsOwner));
}

bool HostCore::saveSettings() {
  const std::string target = settingsSaveTarget();
  if (saveWouldReplaceUnreadFile()) {
    ui.showMessage("settings not saved to " + s.settingsFile +
                   ": that file was never read, so its own settings would be lost (save inifile as "
                   "saves them under a name you choose)");
    return false;
  }
  const bool full = fileCore(s.settingsFile) == "full";
  std::string text;
  params.putBackCurrentDir = true;
  for (int i = 0; i < params.paramCount(); ++i) {
    std::string line = params.formatParamLine(i, !full);
    if (line.empty()) continue;
    if (!params.writable(i)) {
      memoPrintf("%s not saved: a text setting cannot hold a double quote", params.entry(i).paramName);
      continue;
    }
    text += line + "\r\n";
  }
  params.putBackCurrentDir = false;

  // Write beside the file and rename over it, so a failed or interrupted
  // save never leaves a truncated settings file.
  std::string why;
  const bool ok = plat::writeFileAtomically(target, text, why);
  if (!ok) {
    ui.showMessage("unable to write to file: " + s.settingsFile);
  } else {
    settingsOwner = s.settingsFile;
    settingsEditedUnsaved = false;
  }
  return ok;
}

}  // namespace ph
