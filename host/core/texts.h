#pragma once
// Small text helpers. Positions count from 1; 0 means "not found".
#include <string>

namespace ph {

// The part before the first separator; `text` loses it and the separator.
// Without a separator: the whole text, and `text` is left empty.
std::string popToken(std::string& text, char sep);
// after == false: the part before the first `c` (whole text when absent);
// after == true: the part after it ("" when absent).
std::string splitAt(const std::string& text, char c, bool after);
// Replaces left to right, at most 99 times, resuming behind each insertion.
void replaceAllIn(std::string& text, const std::string& search, const std::string& repl);
std::string replaceAll(std::string text, const std::string& search, const std::string& repl);
std::string reversed(const std::string& text);
// Position of the last character of the last occurrence; 0 when absent.
int lastPosEnd(const std::string& text, const std::string& part);
// Start position of the last occurrence; 0 when absent.
int lastPos(const std::string& text, const std::string& part);
// The character at a 1-based position; a blank outside the text.
char charAt(const std::string& text, int pos);
inline char charAt2(const std::string& text, int pos) { return charAt(text, pos); }
// Pairs lo,hi in `ranges`; characters compare as signed 8-bit values.
bool inCharRanges(char c, const std::string& ranges);
const char* boolText(bool b);
// The path in double quotes when it holds a blank, then one blank.
std::string quotedArg(const std::string& path);
// The characters of a text for a C interface ("" for an empty text).
inline const char* cText(const std::string& text) { return text.c_str(); }
// Text operations of the settings interpreter, 1-based like the others.
std::string subText(const std::string& text, int start, int count);
void deleteText(std::string& text, int start, int count);
// The text before the first "."; the whole text when it has none.
std::string intPartText(const std::string& text);
// Blanks and tabs off both ends.
std::string trimmed(const std::string& text);
// A line feed for the first blank after more than `width` characters since
// the last break.
std::string wrapText(const std::string& text, int width);
std::string upperCase(std::string s);
std::string lowerCase(std::string s);

}  // namespace ph
