#pragma once
// The byte table text built the plain way, line by line, for the source
// array targets.

#include "common/text.h"
#include "tools/hexbin/source_array.h"

#include <cstdio>
#include <string>
#include <vector>

namespace quillon::fuzz {

inline hexbin::ArrayStyle styleFrom(uint8_t b, std::string directive, std::string marker)
{
    hexbin::ArrayStyle s;
    s.assembler = b & 1;
    s.prefix = b & 2;
    s.directive = std::move(directive);
    s.marker = std::move(marker);
    return s;
}

// `digits` holds each byte's digit text as it goes into the line (the
// assembler form's leading 0 included by the caller's choice of text).
inline std::string referenceArray(const hexbin::ArrayStyle& style, const std::vector<std::string>& digits,
                                  const std::string& nl)
{
    const std::string db = trim(style.directive), fix = trim(style.marker);
    std::string out = style.assembler ? "BinTable:" : "const unsigned char BinCode[]={";
    for (size_t k = 0; k < digits.size(); ++k) {
        char index[32];
        std::snprintf(index, sizeof index, "%zX", k);
        out += nl;
        if (style.assembler)
            out += "\t" + db + "\t" + (style.prefix ? fix : "") + "0" + digits[k] + (style.prefix ? "" : fix) +
                   "\t\t; " + index;
        else
            out += "\t0x" + digits[k] + (k + 1 < digits.size() ? ",\t\t// " : "\t\t// ") + index;
    }
    out += nl;
    if (!style.assembler) out += "};";
    out += nl;
    return out;
}

} // namespace quillon::fuzz
