#include "tools/hexbin/source_array.h"

#include "common/text.h"
#include "tools/hexbin/file_io.h"
#include "tools/hexbin/intel_hex.h"

#include <cstring>

namespace quillon::hexbin {

namespace {
const char kHex[] = "0123456789ABCDEF";
}

ArrayEmitter::ArrayEmitter(ArrayStyle style, std::string_view newline) : style_(std::move(style)), nl_(newline)
{
    const std::string db = trim(style_.directive);
    const std::string fix = trim(style_.marker);
    asmHead_ = "\t" + db + "\t" + (style_.prefix ? fix : std::string()) + "0";
    asmTail_ = (style_.prefix ? std::string() : fix) + "\t\t; ";
    std::memset(index_, '0', sizeof index_);
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
            if (i < indexStart_)
                indexStart_ = i;
            return;
        }
        index_[i] = '0';
    }
}

void ArrayEmitter::writeLine(bool last, std::string& out)
{
    char line[96];
    char* p = line;
    auto put = [&p](const char* s, std::size_t n) {
        std::memcpy(p, s, n);
        p += n;
    };
    put(nl_.data(), nl_.size());
    if (style_.assembler) {
        out.append(line, static_cast<std::size_t>(p - line));
        out += asmHead_;
        p = line;
        *p++ = pending_[0];
        *p++ = pending_[1];
        out.append(line, 2);
        out += asmTail_;
        p = line;
    } else {
        put("\t0x", 3);
        *p++ = pending_[0];
        *p++ = pending_[1];
        if (last)
            put("\t\t// ", 5);
        else
            put(",\t\t// ", 6);
    }
    put(index_ + indexStart_, 16 - static_cast<std::size_t>(indexStart_));
    out.append(line, static_cast<std::size_t>(p - line));
    nextIndex();
}

void ArrayEmitter::add(char hi, char lo, std::string& out)
{
    if (hasPending_)
        writeLine(false, out);
    pending_[0] = hi;
    pending_[1] = lo;
    hasPending_ = true;
    ++count_;
}

void ArrayEmitter::finish(std::string& out)
{
    if (hasPending_)
        writeLine(true, out);
    hasPending_ = false;
    out += nl_;
    if (!style_.assembler)
        out += "};";
    out += nl_;
}

ArrayOutcome arrayFromBinary(const std::string& path, const ArrayStyle& style, std::string_view newline,
                             std::string& out, const ArrayFlush& flush)
{
    InputFile in;
    if (!in.open(path))
        return ArrayOutcome::OpenFailed;
    ArrayEmitter em(style, newline);
    em.begin(out);
    for (std::string_view block = in.readBlock(); !block.empty(); block = in.readBlock()) {
        for (unsigned char b : block)
            em.add(kHex[b >> 4], kHex[b & 0xF], out);
        if (flush)
            flush(out);
    }
    em.finish(out);
    return ArrayOutcome::Done;
}

HexArrayResult arrayFromHex(const std::string& path, const ArrayStyle& style, std::string_view newline,
                            std::string& out, const ArrayFlush& flush)
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
        if (!piece.empty() && (piece.back() == '\n' || piece.back() == '\r'))
            piece.remove_suffix(1);
        const RecordCheck check = checkRecord(piece, false, rec);
        if (check == RecordCheck::Skip)
            continue;
        if (check == RecordCheck::EndOfFile)
            break;
        if (check == RecordCheck::UnknownType || check == RecordCheck::BadChecksum) {
            result.outcome = check == RecordCheck::UnknownType ? ArrayOutcome::UnknownType : ArrayOutcome::BadChecksum;
            result.line = lines.lineNumber();
            break;
        }
        for (std::size_t i = 0; i + 1 < rec.digits.size(); i += 2)
            em.add(rec.digits[i], rec.digits[i + 1], out);
        sinceFlush += rec.length;
        if (flush && sinceFlush >= kBlockSize) {
            flush(out);
            sinceFlush = 0;
        }
    }
    em.finish(out);
    return result;
}

} // namespace quillon::hexbin
