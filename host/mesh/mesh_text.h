#pragma once
// Small text helpers of the mesh tools: strict number reading, blank
// splitting and file extensions.
#include <string>
#include <string_view>

namespace ph {

// A whole text as a finite number (an optional sign, digits, ".", exponent);
// false for anything else, "nan" and "inf" included.
bool parseNumber(std::string_view text, double& out);
// The text without leading and trailing blanks and control characters.
std::string_view trimView(std::string_view text);
// Cuts the next word (up to a blank or tab) off the front of the text.
std::string_view cutWordView(std::string_view& text);
// The extension of a file name: after the last "." of its name part,
// lower-cased; "" when the name has no ".". "a.b.png" gives "png".
std::string extensionOf(const std::string& path);
// The name part (after the last "/" or "\") without its extension.
std::string coreNameOf(const std::string& path);

}  // namespace ph
