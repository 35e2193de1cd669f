#include "common/stored_text.h"

#include "common/numbers.h"

namespace quillon {

namespace {

bool isTrimmedByte(unsigned char c) { return c <= ' '; }
bool isLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool looksQuoted(std::string_view s) { return s.size() >= 2 && s.front() == '"' && s.back() == '"'; }

// Bytes that may never stand raw inside a quoted text: the escape itself, the
// quote, the entry's separator and every control character.
bool mustEscape(unsigned char c) { return c < ' ' || c == 0x7F || c == '\\' || c == '"' || c == '='; }

bool needsQuoting(std::string_view text, StoredAs as)
{
    if (text.empty()) return false;
    const auto first = static_cast<unsigned char>(text.front());
    if (isTrimmedByte(first) || isTrimmedByte(static_cast<unsigned char>(text.back()))) return true;
    // A quoted text is quoted again only when it would be read as quoted.
    if (looksQuoted(text) && textOfStored(text) != text) return true;
    if (as == StoredAs::Key && (first == ';' || first == '[')) return true;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < ' ' || c == 0x7F || (as == StoredAs::Key && c == '=')) return true;
    }
    return false;
}

void appendEscape(std::string& out, unsigned char c)
{
    static const char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 0xF];
}

} // namespace

std::string storedText(std::string_view text, StoredAs as, bool escapeLetters)
{
    const bool letters = escapeLetters && as == StoredAs::Key;
    bool hasLetter = false;
    for (char ch : text) hasLetter = hasLetter || isLetter(static_cast<unsigned char>(ch));
    if (!needsQuoting(text, as) && !(letters && hasLetter)) return std::string(text);

    std::string out = "\"";
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // Blanks at the ends would be trimmed away; ';' and '[' are escaped
        // at the start so the quoted form always holds an escape.
        const bool atEnd = i == 0 || i + 1 == text.size();
        if (mustEscape(c) || (atEnd && isTrimmedByte(c)) || (i == 0 && (c == ';' || c == '[')) ||
            (letters && isLetter(c)))
            appendEscape(out, c);
        else
            out += static_cast<char>(c);
    }
    out += '"';
    return out;
}

std::string textOfStored(std::string_view stored)
{
    if (!looksQuoted(stored)) return std::string(stored);
    const std::string_view body = stored.substr(1, stored.size() - 2);
    std::string out;
    out.reserve(body.size());
    bool escaped = false;
    for (size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '"') return std::string(stored);
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 3 >= body.size()) return std::string(stored);
        if (body[i + 1] != 'x') return std::string(stored);
        const int hi = hexDigitValue(body[i + 2]), lo = hexDigitValue(body[i + 3]);
        if (hi < 0 || lo < 0) return std::string(stored);
        out += static_cast<char>(hi * 16 + lo);
        escaped = true;
        i += 3;
    }
    return escaped ? out : std::string(stored);
}

} // namespace quillon
