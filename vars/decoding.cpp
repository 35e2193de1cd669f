#include "vars/decoding.h"

#include "common/codepage.h"
#include "common/numbers.h"
#include "vars/sample_store.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quillon::vars {

namespace {

constexpr std::string_view kCrLf = "\r\n";

bool storeMark(std::string_view text, std::array<uint8_t, 8>& mark, int32_t& len)
{
    if (text.empty()) return true; // an empty field keeps the mark as it was
    auto bytes = MarkFromHex(text);
    if (!bytes) return false;
    mark = {};
    std::copy(bytes->begin(), bytes->end(), mark.begin());
    len = static_cast<int32_t>(bytes->size());
    return true;
}

template <typename T>
T readLittle(std::span<const uint8_t> body, size_t at)
{
    std::array<uint8_t, sizeof(T)> raw{};
    std::copy_n(body.begin() + static_cast<std::ptrdiff_t>(at), sizeof(T), raw.begin());
    if constexpr (std::endian::native == std::endian::big) std::reverse(raw.begin(), raw.end());
    T value;
    std::memcpy(&value, raw.data(), sizeof(T));
    return value;
}

std::string inBase(uint32_t value, unsigned base)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), digits[value % base]);
        value /= base;
    } while (value != 0);
    return out;
}

int64_t sizeOf(const VarRow& row)
{
    switch (row.def.type) {
    case VarType::Char:
    case VarType::BitMask: return 1;
    case VarType::Int: return 2;
    case VarType::Long:
    case VarType::Float: return 4;
    case VarType::Double: return 8;
    case VarType::Array: return row.length;
    }
    return -1;
}

std::string arrayText(std::span<const uint8_t> elements, DisplayFormat format)
{
    std::string out;
    out.reserve(elements.size() * 5);
    for (size_t i = 0; i < elements.size(); ++i) {
        if (i) out += ',';
        if (format == DisplayFormat::Dec)
            out += std::to_string(elements[i]);
        else
            out += "0x" + hexN(elements[i], 2);
    }
    return out;
}

// The longest end of `data` that is the start of `head`, shorter than the head.
size_t headPrefixAtEnd(std::span<const uint8_t> data, std::span<const uint8_t> head)
{
    for (size_t k = std::min(head.size() - 1, data.size()); k > 0; --k)
        if (std::equal(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(k),
                       data.end() - static_cast<std::ptrdiff_t>(k)))
            return k;
    return 0;
}

void dropUnfinishedBlock(const serial::DataModeSettings& s, serial::Accumulator& acc)
{
    // The accumulator is full of a block whose end mark never came. Only
    // that block goes: the data from the next head on may hold a whole
    // block that the rest of the chunk completes.
    const auto headLen = static_cast<size_t>(std::clamp(s.headLen, 0, 8));
    const std::span<const uint8_t> head(s.headMark.data(), headLen);
    const auto data = acc.bytes();
    size_t from = data.size();
    if (headLen > 0 && !data.empty()) {
        if (const auto next = serial::FindPattern(data.subspan(1), head))
            from = *next + 1;
        else
            from = data.size() - headPrefixAtEnd(data, head);
    }
    const size_t kept = data.size() - from;
    std::copy_n(acc.data.begin() + static_cast<std::ptrdiff_t>(from), kept, acc.data.begin());
    acc.count = kept;
}

} // namespace

std::optional<std::vector<uint8_t>> MarkFromHex(std::string_view text)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < text.size() && out.size() < 8; i += 2) {
        auto byte = parseHexField(text.substr(i, 2));
        if (!byte) return std::nullopt;
        out.push_back(static_cast<uint8_t>(*byte));
    }
    return out;
}

ApplyError ApplyDataModeSettings(serial::DataModeSettings& s, const DataModeInput& in)
{
    s.mode = in.mode;
    if (in.mode == serial::DataMode::MultiVars) {
        s.stringVars = in.stringVars;
        if (in.stringVars)
            s.separator = in.separator.empty() || in.separator == "\n" ? std::string(kCrLf) : utf8ToGbk(in.separator);
    }
    const auto start = parseHexField(in.memStart);
    if (!start) return ApplyError::StartAddress;
    s.startAddress = *start;

    s.fixedLength = in.fixedLength;
    if (in.fixedLength) {
        const auto count = parseWholeNumber(in.fixedCount);
        if (!count) return ApplyError::FixedCountText;
        if (*count == 0) return ApplyError::FixedCountZero;
        s.fixedCount = *count;
        return ApplyError::None;
    }
    if (!storeMark(in.headMark, s.headMark, s.headLen)) return ApplyError::HeadMark;
    if (!storeMark(in.endMark, s.endMark, s.endLen)) return ApplyError::EndMark;
    return ApplyError::None;
}

namespace {

// Where the variable starts in the body; none when it does not lie wholly inside.
std::optional<size_t> placeOf(std::span<const uint8_t> body, const VarRow& row, bool memoryMap, int32_t startAddress)
{
    int64_t offset = row.def.offset;
    if (memoryMap) offset = std::max<int64_t>(offset, startAddress) - startAddress;
    const int64_t size = sizeOf(row);
    if (offset < 0 || size < 0 || offset + size > static_cast<int64_t>(body.size())) return std::nullopt;
    return static_cast<size_t>(offset);
}

} // namespace

std::optional<double> numericValue(std::span<const uint8_t> body, const VarRow& row, bool memoryMap,
                                   int32_t startAddress)
{
    const auto place = placeOf(body, row, memoryMap, startAddress);
    if (!place) return std::nullopt;
    const size_t at = *place;
    switch (row.def.type) {
    case VarType::Char: return body[at];
    case VarType::Int: return readLittle<int16_t>(body, at);
    case VarType::Long: return readLittle<int32_t>(body, at);
    case VarType::Float: return readLittle<float>(body, at);
    case VarType::Double: return readLittle<double>(body, at);
    case VarType::BitMask: return body[at] & static_cast<uint8_t>(row.length);
    case VarType::Array: return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> DecodeVariable(std::span<const uint8_t> body, const VarRow& row, bool memoryMap,
                                          int32_t startAddress)
{
    const auto place = placeOf(body, row, memoryMap, startAddress);
    if (!place) return std::nullopt;
    const size_t at = *place;
    const auto size = static_cast<size_t>(sizeOf(row));

    std::string text;
    switch (row.def.type) {
    case VarType::Char: text = std::to_string(body[at]); break;
    case VarType::Int: text = std::to_string(readLittle<int16_t>(body, at)); break;
    case VarType::Long: text = std::to_string(readLittle<int32_t>(body, at)); break;
    case VarType::Float: text = formatFloat(static_cast<long double>(readLittle<float>(body, at))); break;
    case VarType::Double: text = formatFloat(static_cast<long double>(readLittle<double>(body, at))); break;
    case VarType::BitMask: text = std::to_string(body[at] & static_cast<uint8_t>(row.length)); break;
    case VarType::Array: return arrayText(body.subspan(at, size), row.def.format);
    }
    if (row.def.format == DisplayFormat::Dec) return text;
    // Float results that are not whole numbers stay as they are.
    const auto whole = parseWholeNumber(text);
    if (!whole) return text;
    const auto bits = static_cast<uint32_t>(*whole);
    return row.def.format == DisplayFormat::Hex ? "0x" + inBase(bits, 16) : inBase(bits, 2);
}

Cut FindCut(const serial::DataModeSettings& s, std::span<const uint8_t> data)
{
    const size_t count = data.size();
    const auto headLen = static_cast<size_t>(std::clamp(s.headLen, 0, 8));
    const auto endLen = static_cast<size_t>(std::clamp(s.endLen, 0, 8));
    std::optional<size_t> start = 0;
    std::optional<size_t> end = count;
    const bool marks = s.mode == serial::DataMode::MemoryMap && !s.fixedLength;
    if (marks) {
        if (headLen > 0) start = serial::FindPattern(data, {s.headMark.data(), headLen});
        if (endLen > 0) end = serial::FindPattern(data, {s.endMark.data(), endLen});
    }
    Cut cut;
    if (marks && start && endLen == 0 && headLen > 0 && *start + headLen == count) {
        // Without an end mark a block runs to the end of the data; a head
        // with nothing behind it yet waits for its body.
        cut.kind = *start > 0 ? Cut::Kind::HeadLater : Cut::Kind::Waiting;
        cut.keepFrom = *start;
    } else if (start && end) {
        // An end mark before the head or inside it frames no body.
        if (*end < *start + headLen) {
            cut.kind = Cut::Kind::EndOnly;
        } else {
            cut.kind = Cut::Kind::Block;
            cut.bodyBegin = *start + headLen;
            cut.bodyEnd = *end;
        }
        cut.keepFrom = std::min(*end + endLen, count);
    } else if (end) {
        cut.kind = Cut::Kind::EndOnly;
        cut.keepFrom = std::min(*end + endLen, count);
        // With no end mark that "end" is the end of the data, and the start
        // of a head cut by the chunk boundary must stay, as below.
        if (endLen == 0) {
            const size_t keep = headPrefixAtEnd(data, {s.headMark.data(), headLen});
            if (keep == count) cut.kind = Cut::Kind::Waiting;
            cut.keepFrom = count - keep;
        }
    } else if (!start) {
        // Bytes that may begin a head cut by the chunk boundary stay: on a
        // slow line every chunk is one byte, and a head must get together.
        const size_t keep = headPrefixAtEnd(data, {s.headMark.data(), headLen});
        cut.kind = keep == count ? Cut::Kind::Waiting : Cut::Kind::Unframed;
        cut.bodyEnd = count - keep;
        cut.keepFrom = count - keep;
    } else if (*start > 0) {
        cut.kind = Cut::Kind::HeadLater;
        cut.keepFrom = *start;
    }
    return cut;
}

void DataModeDecoder::decodeRows(const serial::ReceiveModes& state, std::span<const uint8_t> body,
                                 std::vector<size_t>& changed)
{
    const bool memoryMap = state.mode() == serial::DataMode::MemoryMap;
    for (size_t i = 0; i < variables_.size(); ++i) {
        const VarRow& row = variables_.row(i);
        if (!row.def.watched) continue;
        if (const auto kind = sampleKindOf(row.def.type))
            if (const auto number = numericValue(body, row, memoryMap, state.settings.startAddress))
                samples_.push_back({row.series, blocks_, chunkTime_, *kind, *number});
        auto value = DecodeVariable(body, row, memoryMap, state.settings.startAddress);
        if (!value || *value == row.value) continue;
        // The value this chunk found, so a row changed and changed back is not reported.
        if (std::find(changed.begin(), changed.end(), i) == changed.end()) {
            changed.push_back(i);
            previous_.push_back(row.value);
        }
        variables_.setValue(i, std::move(*value));
    }
}

bool DataModeDecoder::CutBlock(serial::ReceiveModes& state, std::vector<uint8_t>& shown, std::vector<size_t>& changed)
{
    serial::Accumulator& acc = state.burst.ReceiveAccumulator;
    const Cut cut = FindCut(state.settings, acc.bytes());
    if (cut.kind == Cut::Kind::Waiting) return false;
    const auto body = acc.bytes().subspan(cut.bodyBegin, cut.bodyEnd - cut.bodyBegin);
    // A chunk shows the body of its last block. Unframed bytes are shown as
    // they come, but never in place of a body (a frame's trailing CR LF
    // would otherwise be all that shows).
    if (cut.kind == Cut::Kind::Unframed && !bodyShown_) shown.insert(shown.end(), body.begin(), body.end());
    if (cut.kind == Cut::Kind::Block) {
        shown.assign(body.begin(), body.end());
        bodyShown_ = true;
        decodeRows(state, body, changed);
        ++blocks_;
        if (!state.role.interactive) state.settings.blockDecoded = true;
    }
    const size_t kept = acc.count - cut.keepFrom;
    std::copy_n(acc.data.begin() + static_cast<std::ptrdiff_t>(cut.keepFrom), kept, acc.data.begin());
    acc.count = kept;
    return true;
}

void DataModeDecoder::append(serial::ReceiveModes& state, std::span<const uint8_t> chunk)
{
    if (state.burst.ReceiveAccumulator.count + chunk.size() > serial::Accumulator::kCapacity) ++overflows_;
    state.burst.ReceiveAccumulator.append(chunk);
}

void DataModeDecoder::cutAtMarks(serial::ReceiveModes& state, std::span<const uint8_t> chunk,
                                 std::vector<size_t>& changed)
{
    serial::Accumulator& acc = state.burst.ReceiveAccumulator;
    // The chunk goes in as far as there is room, and every block it completes
    // is cut at once: the values never lag behind the line, and a block that
    // straddles a full chunk is not thrown away with the bytes before it.
    // Only a block that fills the accumulator without its end goes, and
    // with it nothing from the next head on.
    while (!chunk.empty()) {
        if (acc.count == serial::Accumulator::kCapacity) {
            ++overflows_;
            dropUnfinishedBlock(state.settings, acc);
        }
        const size_t take = std::min(chunk.size(), serial::Accumulator::kCapacity - acc.count);
        acc.append(chunk.first(take));
        chunk = chunk.subspan(take);
        while (acc.count > 0 && CutBlock(state, display_, changed)) {}
    }
}

void DataModeDecoder::stringValues(serial::ReceiveModes& state, std::span<const uint8_t> chunk,
                                   serial::ReceiveResult& result)
{
    append(state, chunk);
    serial::Accumulator& acc = state.burst.ReceiveAccumulator;
    const auto* begin = reinterpret_cast<const char*>(acc.data.data());
    const void* zero = std::memchr(begin, 0, acc.count);
    const std::string_view text(begin, zero ? static_cast<size_t>(static_cast<const char*>(zero) - begin) : acc.count);
    // This mode logs the raw chunk, not what it shows.
    result.log.push_back(
        {serial::kLogReceived, std::string(reinterpret_cast<const char*>(chunk.data()), chunk.size())});
    const std::string_view sep = state.settings.separator.empty() ? kCrLf : std::string_view(state.settings.separator);
    std::string out;
    size_t pos = 0;
    if (sep == kCrLf) {
        out = text;
        pos = text.size();
    } else {
        for (size_t at; (at = text.find(sep, pos)) != std::string_view::npos; pos = at + sep.size()) {
            out.append(text, pos, at - pos);
            out += kCrLf;
        }
    }
    const std::string_view rest = text.substr(pos);
    // A separator cut in two by the chunk boundary: the value goes on in the next chunk.
    if (!rest.empty() && sep.find(rest.back()) != std::string_view::npos) {
        display_.assign(out.begin(), out.end());
        std::memmove(acc.data.data(), rest.data(), rest.size());
        acc.count = rest.size();
    } else {
        out += rest;
        display_.assign(out.begin(), out.end());
        acc.clear();
    }
}

serial::ReceiveResult DataModeDecoder::process(serial::ReceiveModes& state, std::span<const uint8_t> chunk)
{
    serial::ReceiveResult result;
    display_.clear();
    bodyShown_ = false;
    previous_.clear();
    samples_.clear();
    chunkTime_ = serial::SampleClock::now();
    serial::DataModeSettings& s = state.settings;
    if (s.mode == serial::DataMode::Normal) return state.passThrough(chunk);
    if (s.mode == serial::DataMode::MultiVars && s.stringVars) {
        stringValues(state, chunk, result);
    } else if (s.mode == serial::DataMode::MultiVars) {
        append(state, chunk);
        CutBlock(state, display_, result.changedRows);
    } else if (s.fixedLength) {
        if (s.blockDecoded && !state.role.interactive)
            state.burst.ReceiveAccumulator.replace(chunk);
        else
            append(state, chunk);
        if (static_cast<int64_t>(chunk.size()) > s.fixedCount) CutBlock(state, display_, result.changedRows);
    } else if (state.role.slaveSide()) {
        state.burst.collect(chunk);
    } else {
        cutAtMarks(state, chunk, result.changedRows);
    }
    std::vector<size_t> changed;
    for (size_t k = 0; k < result.changedRows.size(); ++k) {
        const size_t row = result.changedRows[k];
        if (variables_.row(row).value != previous_[k]) changed.push_back(row);
    }
    std::sort(changed.begin(), changed.end());
    result.changedRows = std::move(changed);
    result.display = display_;
    result.samples = std::move(samples_);
    return result;
}

} // namespace quillon::vars
