#pragma once
// The small text tools both machine links share: device texts, keyword
// matching of replies, and showing device bytes in the log.
#include <cstddef>
#include <string>

namespace ph {

// The device name of a port text, with an in-out baud rate: "@br" followed
// by a number sets the baud (no number: 0) and is cut off with what
// follows; a trailing "-" sets baud 0 (the port keeps its line settings);
// a "COM" name of at least 5 characters gets the "\\.\" prefix.
std::string parseCommDevice(const std::string& text, int& baud);

// Feeds one character to a keyword match; true when it completes the
// keyword. A character that does not continue the match resets it without
// being tried as the keyword's first character.
bool matchKeyword(char c, const std::string& keyword, int& state);

// The same, then the number after the keyword: on a full match the three
// values shift (v2 := v1, v1 := v0, v0 := 0) and the digits that follow
// build v0 ("-" makes it negative); the first other character after a digit
// ends the number and returns true. Other characters before the first digit
// are skipped.
bool matchKeywordNumber(char c, const std::string& keyword, int& state, int& v0, int& v1, int& v2);

// How many bytes of stretch data (the run-length codes that follow "973j")
// reach up to and including the stretch-end code 0xBF; all of them when
// the end code is not among them. A 0xBF inside a literal block is data.
std::size_t inlineStretchLength(const std::string& data);

// Every character below 32 shown as "?".
std::string printableText(const std::string& text);
// Every control character except the kept ones shown as "^" and the
// character plus 64.
std::string caretText(const std::string& text, bool keepLf, bool keepCr);

}  // namespace ph
