#include "table/StreamTable.h"

#include <algorithm>
#include <tuple>

namespace tamrel {

namespace {
const std::string kEmptyText;
}

ListIndexError::ListIndexError(std::int64_t index)
    : std::out_of_range("List index out of bounds (" + std::to_string(index) + ")") {}

StreamTable::StreamTable() {
    widths_[0] = 60;
}

void StreamTable::NotifyTableChanged() const {
    if (listener_)
        listener_->TableChanged();
}

void StreamTable::NotifyCellChanged(std::int32_t col, std::int32_t row) const {
    if (listener_)
        listener_->CellChanged(col, row);
}

void StreamTable::SetColCount(std::int32_t count) {
    if (count == colCount_)
        return;
    count = std::max(count, 1);
    if (count <= fixedCols_)
        fixedCols_ = count - 1;
    if (count < colCount_) {
        columns_.erase(columns_.lower_bound(count), columns_.end());
        widths_.erase(widths_.lower_bound(count), widths_.end());
    }
    colCount_ = count;
    NotifyTableChanged();
}

void StreamTable::SetRowCount(std::int32_t count) {
    if (count == rowCount_)
        return;
    count = std::max(count, 1);
    if (count <= fixedRows_)
        fixedRows_ = count - 1;
    if (count < rowCount_) {
        for (auto& entry : columns_)
            entry.second.Truncate(count);
    }
    rowCount_ = count;
    NotifyTableChanged();
}

const std::string& StreamTable::CellText(std::int32_t col, std::int32_t row) const {
    if (col < 0 || row < 0 || col >= colCount_ || row >= rowCount_)
        return kEmptyText;
    auto it = columns_.find(col);
    if (it == columns_.end())
        return kEmptyText;
    const std::string* text = it->second.Find(row);
    return text ? *text : kEmptyText;
}

void StreamTable::CheckIndex(std::int32_t col, std::int32_t row) const {
    if (row < 0)
        throw ListIndexError(row);
    if (col < 0)
        throw ListIndexError(col);
    if (row >= rowCount_)
        throw ListIndexError(row);
    if (col >= colCount_)
        throw ListIndexError(col);
}

void StreamTable::SetCellText(std::int32_t col, std::int32_t row, std::string text) {
    CheckIndex(col, row);
    auto it = columns_.find(col);
    if (it == columns_.end()) {
        // Emptying a cell of a column that holds nothing needs no storage.
        if (text.empty()) {
            NotifyCellChanged(col, row);
            return;
        }
        it = columns_.emplace(col, Column{}).first;
    }
    if (!text.empty() || it->second.Find(row))
        it->second.At(row) = std::move(text);
    NotifyCellChanged(col, row);
}

std::int32_t StreamTable::ColWidths(std::int32_t col) const {
    if (col < 0 || col >= colCount_)
        throw ListIndexError(col);
    auto it = widths_.find(col);
    return it == widths_.end() ? kDefaultColWidth : it->second;
}

void StreamTable::SetColWidths(std::int32_t col, std::int32_t width) {
    if (col < 0 || col >= colCount_)
        throw ListIndexError(col);
    if (width == kDefaultColWidth) {
        widths_.erase(col);
    } else {
        widths_[col] = width;
    }
    NotifyTableChanged();
}

void StreamTable::Clear() {
    columns_.clear();
    NotifyTableChanged();
}

void StreamTable::Reset() {
    Clear();
    SetRowCount(2);
    SetColCount(2);
}

std::int32_t StreamTable::LastColumnWithText() const {
    return columns_.empty() ? -1 : columns_.rbegin()->first;
}

void StreamTable::MoveRows(std::int32_t first, const std::vector<std::int32_t>& order) {
    const auto count = static_cast<std::int32_t>(order.size());
    if (first < 0)
        throw ListIndexError(first);
    if (count > rowCount_ - first)
        throw ListIndexError(first + count - 1);
    std::vector<bool> seen(order.size());
    for (std::int32_t row : order) {
        if (row < first || row >= first + count || seen[static_cast<std::size_t>(row - first)])
            throw ListIndexError(row);
        seen[static_cast<std::size_t>(row - first)] = true;
    }
    std::vector<std::string> moved(order.size());
    for (auto& [col, column] : columns_) {
        for (std::size_t i = 0; i < order.size(); ++i) {
            std::string* text = column.Find(order[i]);
            moved[i] = text ? std::move(*text) : std::string();
        }
        for (std::size_t i = 0; i < order.size(); ++i) {
            const auto row = first + static_cast<std::int32_t>(i);
            if (!moved[i].empty() || column.Find(row))
                column.At(row) = std::move(moved[i]);
        }
    }
    NotifyTableChanged();
}

void StreamTable::ForEachFilledCell(
    const std::function<void(std::int32_t, std::int32_t, const std::string&)>& fn) const {
    // Gather the filled cells of all columns, then visit them row by row.
    std::vector<std::tuple<std::int32_t, std::int32_t, const std::string*>> cells;
    for (const auto& [col, column] : columns_) {
        column.ForEachFilled([&, c = col](std::int32_t row, const std::string& text) {
            cells.emplace_back(row, c, &text);
        });
    }
    std::sort(cells.begin(), cells.end(), [](const auto& a, const auto& b) {
        return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
    });
    for (const auto& [row, col, text] : cells)
        fn(col, row, *text);
}

const std::string* StreamTable::Column::Find(std::int32_t row) const {
    const auto index = static_cast<std::uint32_t>(row);
    const std::size_t page = index >> (kChunkBits + kPageBits);
    if (page >= pages_.size() || !pages_[page])
        return nullptr;
    const auto& chunk = (*pages_[page])[(index >> kChunkBits) & ((1u << kPageBits) - 1)];
    if (!chunk)
        return nullptr;
    return &(*chunk)[index & ((1u << kChunkBits) - 1)];
}

std::string& StreamTable::Column::At(std::int32_t row) {
    const auto index = static_cast<std::uint32_t>(row);
    const std::size_t page = index >> (kChunkBits + kPageBits);
    if (page >= pages_.size())
        pages_.resize(page + 1);
    if (!pages_[page])
        pages_[page] = std::make_unique<Page>();
    auto& chunk = (*pages_[page])[(index >> kChunkBits) & ((1u << kPageBits) - 1)];
    if (!chunk)
        chunk = std::make_unique<Chunk>();
    return (*chunk)[index & ((1u << kChunkBits) - 1)];
}

void StreamTable::Column::Truncate(std::int32_t count) {
    const auto end = static_cast<std::uint32_t>(count);
    const std::size_t pageRows = std::size_t{1} << (kChunkBits + kPageBits);
    const std::size_t keptPages = (end + pageRows - 1) / pageRows;
    if (pages_.size() > keptPages)
        pages_.resize(keptPages);
    // Within the last kept page, drop whole chunks past the end, then the rows
    // past the end within the last kept chunk.
    if (pages_.size() != keptPages || !pages_.back() || end % pageRows == 0)
        return;
    Page& page = *pages_.back();
    const std::size_t rowsInPage = end % pageRows;
    const std::size_t keptChunks = (rowsInPage + (1u << kChunkBits) - 1) >> kChunkBits;
    for (std::size_t c = keptChunks; c < page.size(); ++c)
        page[c].reset();
    const std::size_t rowsInChunk = rowsInPage & ((1u << kChunkBits) - 1);
    if (rowsInChunk != 0 && page[keptChunks - 1]) {
        for (std::size_t r = rowsInChunk; r < (1u << kChunkBits); ++r)
            (*page[keptChunks - 1])[r].clear();
    }
}

void StreamTable::Column::ForEachFilled(
    const std::function<void(std::int32_t, const std::string&)>& fn) const {
    for (std::size_t p = 0; p < pages_.size(); ++p) {
        if (!pages_[p])
            continue;
        for (std::size_t c = 0; c < pages_[p]->size(); ++c) {
            const auto& chunk = (*pages_[p])[c];
            if (!chunk)
                continue;
            for (std::size_t r = 0; r < chunk->size(); ++r) {
                if ((*chunk)[r].empty())
                    continue;
                fn(static_cast<std::int32_t>((((p << kPageBits) + c) << kChunkBits) + r),
                   (*chunk)[r]);
            }
        }
    }
}

}  // namespace tamrel
