#pragma once

// Row-list helpers shared by the song tables' source files.

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <vector>

namespace rp::editor::tablerows {

inline std::vector<size_t> sortedUnique(std::vector<size_t> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

inline std::vector<size_t> withinCount(const std::vector<size_t>& rows, size_t count)
{
    std::vector<size_t> kept;
    std::copy_if(rows.begin(), rows.end(), std::back_inserter(kept), [count](size_t row) { return row < count; });
    return kept;
}

template <class T> std::vector<T> itemsAt(const std::vector<T>& list, const std::vector<size_t>& rows)
{
    std::vector<T> items;
    for (size_t row : rows)
        if (row < list.size())
            items.push_back(list[row]);
    return items;
}

// The index a block of dragged rows lands at when it is taken out and put back above `row`.
} // namespace rp::editor::tablerows
