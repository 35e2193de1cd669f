#include "tools/hexbin/source_array.h"

#include "common/file_io.h"
#include "common/text.h"
#include "tools/hexbin/intel_hex.h"

#include <algorithm>
#include <cstring>

namespace quillon::hexbin {

namespace {
const char kHex[] = "0123456789ABCDEF";
}

ArrayEmitter::ArrayEmitter(ArrayStyle style, std::string_view newline) : style_(std::move(style)), nl_(newline)
{
    const std::string db = trim(style_.directive);
    const std::string fix = trim(style_.marker);
    if (style_.assembler) {
        lead_ = nl_ + "\t" + db + "\t" + (style_.prefix ? fix : std::string()) + "0";
        sep_ = sepLast_ = (style_.prefix ? std::string() : fix) + "\t\t; ";
    } else {
        lead_ = nl_ + "\t0x";
        sep_ = ",\t\t// ";
        sepLast_ = "\t\t// ";
    }
    leadLen_ = lead_.size();
    sepLen_ = sep_.size();
    sepLastLen_ = sepLast_.size();
    lead_.append(16, '\0');
    sep_.append(16, '\0');
    sepLast_.append(16, '\0');
    std::memset(index_, '0', sizeof index_);
    maxLine_ = leadLen_ + sepLen_ + 2 + 32 + 16;
    buf_.resize(std::max<std::size_t>(1 << 16, 4 * maxLine_));
}

void ArrayEmitter::begin(std::string& out)
{
    out += style_.assembler ? "BinTable:" : "const unsigned char BinCode[]={";
}

void ArrayEmitter::nextIndex()
{
    // Counting in the text itself beats formatting every index anew.
    for (int i = 15;; --i) {
        const char c = index_[i];
        if (c != 'F') {
            index_[i] = c == '9' ? 'A' : static_cast<char>(c + 1);
            if (i < indexStart_) indexStart_ = i;
            return;
        }
        index_[i] = '0';
    }
}

void ArrayEmitter::drain(std::string& out)
{
    out.append(buf_.data(), used_);
    used_ = 0;
}

namespace {
// Copies n bytes from a source with at least 16 readable bytes; the
// destination has room for 16 more than n.
inline char* put(char* p, const char* src, std::size_t n)
{
    if (n <= 16)
        std::memcpy(p, src, 16);
    else
        std::memcpy(p, src, n);
    return p + n;
}
} // namespace

void ArrayEmitter::writeLine(bool last, std::string& out)
{
    if (used_ + maxLine_ > buf_.size()) drain(out);
    char* p = buf_.data() + used_;
    p = put(p, lead_.data(), leadLen_);
    *p++ = pending_[0];
    *p++ = pending_[1];
    p = last ? put(p, sepLast_.data(), sepLastLen_) : put(p, sep_.data(), sepLen_);
    p = put(p, index_ + indexStart_, 16 - static_cast<std::size_t>(indexStart_));
    used_ = static_cast<std::size_t>(p - buf_.data());
    nextIndex();
}

void ArrayEmitter::add(char hi, char lo, std::string& out)
{
    if (hasPending_) writeLine(false, out);
    pending_[0] = hi;
    pending_[1] = lo;
    hasPending_ = true;
    ++count_;
}

void ArrayEmitter::finish(std::string& out)
{
    if (hasPending_) writeLine(true, out);
    hasPending_ = false;
    drain(out);
    out += nl_;
    if (!style_.assembler) out += "};";
    out += nl_;
}

ArrayOutcome arrayFromBinary(const std::string& path, const ArrayStyle& style, std::string_view newline,
                             std::string& out, const ArrayFlush& flush)
{
    InputFile in;
    if (!in.open(path)) return ArrayOutcome::OpenFailed;
    ArrayEmitter em(style, newline);
    em.begin(out);
    for (std::string_view block = in.readBlock(); !block.empty(); block = in.readBlock()) {
        // Small slices keep the text produced between flushes in the cache.
        while (!block.empty()) {
            const std::string_view slice = block.substr(0, 1 << 15);
            block.remove_prefix(slice.size());
            for (unsigned char b : slice) em.add(kHex[b >> 4], kHex[b & 0xF], out);
            if (flush) {
                em.drain(out);
                flush(out);
            }
        }
    }
    em.finish(out);
    return ArrayOutcome::Done;
}

HexArrayResult arrayFromHex(const std::string& path, const ArrayStyle& style, std::string_view newline,
                            std::string& out, const ArrayFlush& flush, bool extended)
{
    HexArrayResult result;
    InputFile in;
    if (!in.open(path)) {
        result.outcome = ArrayOutcome::OpenFailed;
        return result;
    }
    ArrayEmitter em(style, newline);
    em.begin(out);
    LineReader lines(in, kHexLineChars);
    std::string_view piece;
    HexRecord rec;
    std::size_t sinceFlush = 0;
    while (lines.next(piece)) {
        if (lines.continuesLine()) continue;
        if (!piece.empty() && (piece.back() == '\n' || piece.back() == '\r')) piece.remove_suffix(1);
        const RecordCheck check = checkRecord(piece, extended, rec);
        if (check == RecordCheck::Skip) continue;
        if (check == RecordCheck::EndOfFile) break;
        if (check == RecordCheck::UnknownType || check == RecordCheck::BadChecksum) {
            result.outcome = check == RecordCheck::UnknownType ? ArrayOutcome::UnknownType : ArrayOutcome::BadChecksum;
            result.line = lines.lineNumber();
            break;
        }
        if (rec.type != 0) continue;
        for (std::size_t i = 0; i + 1 < rec.digits.size(); i += 2) em.add(rec.digits[i], rec.digits[i + 1], out);
        sinceFlush += rec.length;
        if (flush && sinceFlush >= kBlockSize) {
            em.drain(out);
            flush(out);
            sinceFlush = 0;
        }
    }
    em.finish(out);
    return result;
}

} // namespace quillon::hexbin
