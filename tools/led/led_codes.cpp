#include "tools/led/led_codes.h"

#include "common/numbers.h"
#include "common/text.h"

#include <array>

namespace quillon::led {

namespace {

// The tables are laid out by hand, glyph by glyph.
// clang-format off
constexpr std::array<const char*, 7> kNames7 = {"A", "B", "C", "D", "E", "F", "G"};
constexpr std::array<const char*, 14> kNames14 = {"A", "B", "C", "D", "E", "F", "G1",
                                                  "G2", "H", "J", "K", "L", "M", "N"};
constexpr std::array<const char*, 16> kNames16 = {"A1", "A2", "B", "C", "D1", "D2", "E", "F",
                                                  "G1", "G2", "H", "J", "K", "L", "M", "N"};

// 16-segment glyphs as bits over the 16-segment computation order.
enum : uint16_t {
    A1 = 1 << 0, A2 = 1 << 1, B = 1 << 2, C = 1 << 3, D1 = 1 << 4, D2 = 1 << 5, E = 1 << 6, F = 1 << 7,
    G1 = 1 << 8, G2 = 1 << 9, H = 1 << 10, J = 1 << 11, K = 1 << 12, L = 1 << 13, M = 1 << 14, N = 1 << 15,
};

// "A" to "Z"; "B" is the lower-case shape b.
constexpr std::array<uint16_t, 26> kLetters16 = {
    A1 | A2 | B | C | E | F | G1 | G2,      // A
    C | D1 | D2 | E | F | G1 | G2,          // B
    A1 | A2 | D1 | D2 | E | F,              // C
    A1 | A2 | B | C | D1 | D2 | J | M,      // D
    A1 | A2 | D1 | D2 | E | F | G1 | G2,    // E
    A1 | A2 | E | F | G1 | G2,              // F
    A1 | A2 | C | D1 | D2 | E | F | G2,     // G
    B | C | E | F | G1 | G2,                // H
    A1 | A2 | D1 | D2 | J | M,              // I
    B | C | D1 | D2,                        // J
    E | F | G1 | K | L,                     // K
    D1 | D2 | E | F,                        // L
    B | C | E | F | H | K,                  // M
    B | C | E | F | H | L,                  // N
    A1 | A2 | B | C | D1 | D2 | E | F,      // O
    A1 | A2 | B | E | F | G1 | G2,          // P
    A1 | A2 | B | C | D1 | D2 | E | F | L,  // Q
    A1 | A2 | B | E | F | G1 | G2 | L,      // R
    A1 | A2 | C | D1 | D2 | F | G1 | G2,    // S
    A1 | A2 | J | M,                        // T
    B | C | D1 | D2 | E | F,                // U
    E | F | K | N,                          // V
    B | C | E | F | L | N,                  // W
    H | K | L | N,                          // X
    B | C | D1 | D2 | F | G1 | G2,          // Y
    A1 | A2 | D1 | D2 | K | N,              // Z
};

constexpr std::array<uint16_t, 10> kDigits16 = {
    A1 | A2 | B | C | D1 | D2 | E | F,           // 0
    B | C,                                       // 1
    A1 | A2 | B | D1 | D2 | E | G1 | G2,         // 2
    A1 | A2 | B | C | D1 | D2 | G1 | G2,         // 3
    B | C | F | G1 | G2,                         // 4
    A1 | A2 | C | D1 | D2 | F | G1 | G2,         // 5
    A1 | A2 | C | D1 | D2 | E | F | G1 | G2,     // 6
    A1 | A2 | B | C,                             // 7
    A1 | A2 | B | C | D1 | D2 | E | F | G1 | G2, // 8
    A1 | A2 | B | C | D1 | D2 | F | G1 | G2,     // 9
};

// 7-segment digits "0" to "F" over A..G; "B" and "D" are the shapes b and d.
constexpr uint16_t a = 1, b = 2, c = 4, d = 8, e = 16, f = 32, g = 64;
constexpr std::array<uint16_t, 16> kDigits7 = {
    a | b | c | d | e | f,     b | c,         a | b | d | e | g,     a | b | c | d | g,
    b | c | f | g,             a | c | d | f | g, a | c | d | e | f | g, a | b | c,
    a | b | c | d | e | f | g, a | b | c | d | f | g, a | b | c | e | f | g, c | d | e | f | g,
    a | d | e | f,             b | c | d | e | g, a | d | e | f | g,     a | e | f | g,
};
// clang-format on

// A 16-segment glyph on the 14-segment display: the halves of the top and
// bottom bars merge, the other segments keep their order.
uint16_t to14(uint16_t g16)
{
    constexpr std::array<int, 16> target = {0, 0, 1, 2, 3, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    uint16_t out = 0;
    for (int i = 0; i < 16; ++i)
        if (g16 & (1u << i)) out |= static_cast<uint16_t>(1u << target[i]);
    return out;
}

uint16_t glyph16(char ch)
{
    if (ch >= 'A' && ch <= 'Z') return kLetters16[ch - 'A'];
    if (ch >= '0' && ch <= '9') return kDigits16[ch - '0'];
    return 0;
}

int hexValue(char ch)
{
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    return -1;
}

// How one code is cut into lines: (value, suffix) pairs, low part first.
struct Part {
    uint32_t value;
    const char* suffix;
};

std::vector<Part> partsOf(LedType type, uint16_t code, bool fourBits)
{
    if (type == LedType::Seg7) {
        if (fourBits) return {{code & 0xFu, " LSB"}, {(code >> 4) & 0xFu, " MSB"}};
        return {{code, ""}};
    }
    if (fourBits)
        return {{code & 0xFu, " LSB"},
                {(code >> 4) & 0xFu, " ..."},
                {(code >> 8) & 0xFu, " ..."},
                {(code >> 12) & 0xFu, " MSB"}};
    return {{code & 0xFFu, " LSB"}, {(code >> 8) & 0xFFu, " MSB"}};
}

class Emitter {
public:
    Emitter(LedType type, const EmitOptions& o) : type_(type), o_(o)
    {
        db_ = trim(o.dataDefine);
        std::string marker = trim(o.hexMarker);
        (o.prefix ? pre_ : post_) = marker;
    }

    // The lines of a run of codes; in C the very last line has no comma.
    void codes(std::span<const uint16_t> codes, std::span<const std::string> labels)
    {
        for (size_t i = 0; i < codes.size(); ++i) {
            auto parts = partsOf(type_, codes[i], o_.fourBits);
            for (size_t p = 0; p < parts.size(); ++p) {
                bool last = i + 1 == codes.size() && p + 1 == parts.size();
                line(parts[p], labels[i], last);
            }
        }
    }

    void add(std::string text) { lines_.push_back(std::move(text)); }
    std::vector<std::string> take() { return std::move(lines_); }

private:
    void line(const Part& part, const std::string& label, bool lastOfArray)
    {
        // Nibbles always take two digits; bytes and whole 7-segment codes take
        // three in assembler so that a leading letter digit still reads as a number.
        int width = (o_.assembler && !o_.fourBits) ? 3 : 2;
        std::string digits = hexN(part.value, width);
        if (o_.assembler)
            add("\t" + db_ + "\t" + pre_ + digits + post_ + "\t\t; " + label + part.suffix);
        else
            add("\t0x" + digits + (lastOfArray ? "\t\t// " : ",\t\t// ") + label + part.suffix);
    }

    LedType type_;
    const EmitOptions& o_;
    std::string db_, pre_, post_;
    std::vector<std::string> lines_;
};

} // namespace

std::span<const char* const> segmentNames(LedType type)
{
    switch (type) {
    case LedType::Seg7: return kNames7;
    case LedType::Seg14: return kNames14;
    case LedType::Seg16: break;
    }
    return kNames16;
}

uint16_t codeWidthMask(LedType type) { return type == LedType::Seg7 ? 0xFF : 0xFFFF; }

uint16_t segmentMask(int32_t position)
{
    uint32_t shift = static_cast<uint32_t>(position) & 31u;
    return shift < 16 ? static_cast<uint16_t>(1u << shift) : 0;
}

std::optional<std::vector<int32_t>> readSegmentMap(LedType type, std::span<const std::string> texts)
{
    std::vector<int32_t> positions;
    if (static_cast<int>(texts.size()) != segmentCount(type)) return std::nullopt;
    for (const auto& text : texts) {
        auto p = parseWholeNumber(trimmed(text));
        if (!p || !isValidPosition(*p)) return std::nullopt;
        positions.push_back(*p);
    }
    return positions;
}

uint16_t glyph(LedType type, char ch)
{
    switch (type) {
    case LedType::Seg7: {
        int v = hexValue(ch);
        return (v >= 0 && !(ch >= 'a' && ch <= 'f')) ? kDigits7[v] : 0;
    }
    case LedType::Seg14: return to14(glyph16(ch));
    case LedType::Seg16: break;
    }
    return glyph16(ch);
}

std::vector<std::string> tableLabels(LedType type)
{
    std::vector<std::string> labels;
    if (type != LedType::Seg7)
        for (char ch = 'A'; ch <= 'Z'; ++ch) labels.emplace_back(1, ch);
    for (int i = 0; i < 16; ++i) labels.push_back(hexN(static_cast<uint32_t>(i), 1));
    return labels;
}

std::vector<uint16_t> codeTable(LedType type, std::span<const int32_t> positions)
{
    std::vector<uint16_t> codes;
    for (const auto& label : tableLabels(type)) {
        uint16_t lit = glyph(type, label[0]);
        uint16_t code = 0;
        for (size_t s = 0; s < positions.size() && s < 16; ++s)
            if (lit & (1u << s)) code |= segmentMask(positions[s]);
        codes.push_back(code);
    }
    return codes;
}

void invertCodes(LedType type, std::vector<uint16_t>& codes)
{
    for (auto& code : codes) code ^= codeWidthMask(type);
}

std::vector<std::string> emitCodeTable(LedType type, std::span<const uint16_t> codes, const EmitOptions& options)
{
    Emitter out(type, options);
    auto labels = tableLabels(type);
    if (type == LedType::Seg7) {
        out.add(options.assembler ? "LED7Code:" : "const unsigned char LED7Code[]={\n");
        out.codes(codes, labels);
        if (!options.assembler) out.add("};");
        out.add(" ");
        return out.take();
    }
    const std::string name = type == LedType::Seg14 ? "LED14" : "LED16";
    auto letters = codes.subspan(0, 26);
    auto digits = codes.subspan(26);
    auto letterLabels = std::span<const std::string>(labels).subspan(0, 26);
    auto digitLabels = std::span<const std::string>(labels).subspan(26);
    if (options.assembler) {
        out.add(name + "Char:\t\t; Character Encode");
        out.codes(letters, letterLabels);
        out.add(" ");
        out.add(name + "Num:\t\t; Number Encode");
        out.codes(digits, digitLabels);
        out.add(" ");
    } else {
        out.add("const unsigned char " + name + "Char[]={\t\t// Character Encode");
        out.codes(letters, letterLabels);
        out.add("};");
        out.add(" ");
        out.add("const unsigned char " + name + "Num[]={\t\t// Number Encode");
        out.codes(digits, digitLabels);
        out.add("};");
        out.add(" ");
    }
    return out.take();
}

std::vector<std::string> encodeTable(LedType type, std::span<const int32_t> positions, bool invert,
                                     const EmitOptions& options)
{
    auto codes = codeTable(type, positions);
    if (invert) invertCodes(type, codes);
    return emitCodeTable(type, codes, options);
}

std::string patternString(LedType type, std::span<const int32_t> positions)
{
    std::string out;
    for (size_t i = positions.size(); i-- > 0;) out += hexN(static_cast<uint32_t>(positions[i]), 1);
    return out;
}

PatternRead readPattern(LedType type, std::string_view pattern)
{
    PatternRead r;
    const size_t n = static_cast<size_t>(segmentCount(type));
    for (size_t i = 0; i < n; ++i) {
        if (i >= pattern.size()) return r;
        int v = hexValue(pattern[i]);
        if (v < 0) return r;
        r.onScreen.push_back(v);
    }
    r.complete = true;
    return r;
}

std::optional<std::vector<int32_t>> patternPositions(LedType type, std::string_view pattern)
{
    PatternRead read = readPattern(type, pattern);
    if (!read.complete) return std::nullopt;
    return std::vector<int32_t>(read.onScreen.rbegin(), read.onScreen.rend());
}

bool isStorablePatternName(std::string_view name)
{
    std::string_view t = trimmed(name);
    if (t.empty() || t.front() == ';' || t.front() == '[') return false;
    for (char ch : t)
        if (ch == '=' || static_cast<unsigned char>(ch) < ' ') return false;
    return true;
}

} // namespace quillon::led
