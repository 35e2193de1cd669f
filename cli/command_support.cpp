#include "cli/commands.h"

#include <string>

namespace quillon::cli {

std::string withLineEnds(const std::string& memoText, bool lf)
{
    if (lf) return memoText;
    std::string out;
    out.reserve(memoText.size() + memoText.size() / 16);
    for (char ch : memoText) {
        if (ch == '\n') out += '\r';
        out += ch;
    }
    return out;
}

} // namespace quillon::cli
