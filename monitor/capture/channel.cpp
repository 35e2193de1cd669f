#include "monitor/capture/channel.h"

#include <algorithm>

namespace quillon::capture {

void RequestParser::feed(std::span<const uint8_t> bytes, std::vector<Request>& out)
{
    size_t pos = 0;
    while (pos < bytes.size()) {
        if (!inBody_) {
            size_t take = std::min(kFrameHeaderSize - headerHave_, bytes.size() - pos);
            std::memcpy(header_ + headerHave_, bytes.data() + pos, take);
            headerHave_ += take;
            pos += take;
            if (headerHave_ < kFrameHeaderSize) break;
            headerHave_ = 0;
            current_ = Request{};
            current_.code = getU32(header_);
            bodyLeft_ = getU32(header_ + 4);
            current_.outputSize = getU32(header_ + 8);
            current_.oversized = bodyLeft_ > kMaxRequestInput;
            if (!current_.oversized) current_.input.reserve(bodyLeft_);
            inBody_ = true;
        }
        size_t take = std::min<size_t>(bodyLeft_, bytes.size() - pos);
        if (!current_.oversized)
            current_.input.insert(current_.input.end(), bytes.begin() + pos, bytes.begin() + pos + take);
        pos += take;
        bodyLeft_ -= static_cast<uint32_t>(take);
        if (bodyLeft_ == 0) {
            inBody_ = false;
            out.push_back(std::move(current_));
            current_ = Request{};
        }
    }
}

} // namespace quillon::capture
