#pragma once
// The variable group's part in a received chunk: the rows given new values.

#include <cstddef>
#include <vector>

namespace quillon::vars {

class WatchedRowsView {
public:
    virtual ~WatchedRowsView() = default;
    virtual void rowsChanged(const std::vector<size_t>& rows) = 0;
};

} // namespace quillon::vars
