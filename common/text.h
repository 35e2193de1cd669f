#pragma once
// Small text helpers shared by the pages' logic.

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// Blanks (spaces, tabs and other control characters up to ' ') removed at both ends.
std::string_view trimmed(std::string_view s);
std::string trim(std::string_view s);

// A field is "filled" when it is not empty after trimming.
inline bool isFilled(std::string_view s) { return !trimmed(s).empty(); }

std::string toUpperAscii(std::string_view s);
std::string toLowerAscii(std::string_view s);
bool equalsNoCase(std::string_view a, std::string_view b);

// UTF-8 text measured and cut in characters (code points), not bytes.
size_t utf8Chars(std::string_view utf8);
std::string utf8Prefix(std::string_view utf8, size_t maxChars);

// Splits on '\n'; a '\r' before it is dropped. A trailing line end gives no empty last line.
std::vector<std::string> splitLines(std::string_view text);

} // namespace quillon
