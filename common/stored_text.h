#pragma once
// Keys and values the user typed freely (auto-reply commands and answers,
// command texts) as the settings file can hold them. A text the file would
// change on the way back (an '=' or a line end, blanks at an end, a key
// starting with ';' or '[') is stored quoted, with the bytes that matter
// written as \xHH; every other text is stored exactly as it was before, so
// files with ordinary entries keep their bytes.

#include <string>
#include <string_view>

namespace quillon {

enum class StoredAs { Key, Value };

// The text to write. `escapeLetters` writes every ASCII letter as \xHH too:
// keys are matched without regard to case, so a key that differs from another
// only in case needs a stored form of its own.
std::string storedText(std::string_view text, StoredAs as, bool escapeLetters = false);

// The text a stored entry stands for. Only a quoted text holding at least one
// valid \xHH escape and nothing malformed is read as quoted, so entries the
// program never quoted (old files, hand edits) come back as they stand.
std::string textOfStored(std::string_view stored);

} // namespace quillon
