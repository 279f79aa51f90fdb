// The one table of streams: text cells with a header row and a number column,
// filled by Unpack, shown by the window, stored in the work folder's table file
// and read back by Pack.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tamrel {

class InputFile;

// A cell addressed by a negative column or row.
class ListIndexError : public std::out_of_range {
public:
    explicit ListIndexError(std::int64_t index);
};

// Told about every change, so that a view always shows the current table.
class StreamTableListener {
public:
    virtual ~StreamTableListener() = default;
    // One cell's text was written.
    virtual void CellChanged(std::int32_t col, std::int32_t row) = 0;
    // Anything else may have changed: size, widths, any cell.
    virtual void TableChanged() = 0;
};

class StreamTable {
public:
    static constexpr std::int32_t kDefaultColWidth = 100;

    // The table as a new main window holds it: 2 x 2 empty cells, widths 60 and 100.
    StreamTable();

    std::int32_t ColCount() const { return colCount_; }
    std::int32_t RowCount() const { return rowCount_; }
    std::int32_t FixedCols() const { return fixedCols_; }
    std::int32_t FixedRows() const { return fixedRows_; }
    std::int32_t DefaultColWidth() const { return kDefaultColWidth; }

    // Resizing: a value below 1 counts as 1; a fixed count that the new count
    // reaches drops to one less and does not rise again; added columns get
    // DefaultColWidth and added cells are empty; dropped cells are forgotten.
    void SetColCount(std::int32_t count);
    void SetRowCount(std::int32_t count);

    // The empty text for a cell that holds nothing, or lies outside the table.
    const std::string& CellText(std::int32_t col, std::int32_t row) const;
    // Throws ListIndexError for a negative index (the row is named when both
    // are) or one at or beyond the counts; the table is then unchanged.
    void SetCellText(std::int32_t col, std::int32_t row, std::string text);

    // A column's width in pixels; 0 is a valid width. Out-of-range columns
    // throw ListIndexError.
    std::int32_t ColWidths(std::int32_t col) const;
    void SetColWidths(std::int32_t col, std::int32_t width);

    // Empties every cell; sizes and widths stay.
    void Clear();
    // Clear, then 2 rows, then 2 columns.
    void Reset();

    // The highest column that holds any text, or -1: every column right of
    // it is empty, however many the table has.
    std::int32_t LastColumnWithText() const;

    // Calls fn(col, row, text) for every non-empty cell, rows ascending and
    // columns ascending within a row.
    void ForEachFilledCell(
        const std::function<void(std::int32_t, std::int32_t, const std::string&)>& fn) const;

    // Puts the rows first .. first + order.size() - 1 into a new order: the
    // row order[i] comes to stand at first + i, all its cells with it. order
    // must be a permutation of those rows. Reported as one whole-table change.
    void MoveRows(std::int32_t first, const std::vector<std::int32_t>& order);

    // The table file by its path, for tests and benchmarks
    // (tamrel_table_for_tests); the programs read it through its folder.
    void SaveTableFile(const std::string& path) const;
    // pumpEvents runs once after each cell line, so a window stays live.
    // Returns the number of lines the file held.
    std::int64_t LoadTableFile(const std::string& path,
                               const std::function<void()>& pumpEvents = {});
    // The same from a file already opened (in a work folder, by its descriptor).
    std::int64_t LoadTableFile(const InputFile& file, const std::function<void()>& pumpEvents = {});

    void SetListener(StreamTableListener* listener) { listener_ = listener; }
    StreamTableListener* Listener() const { return listener_; }
    // Tells the listener that the whole table may have changed.
    void NotifyTableChanged() const;

private:
    // Cells are kept per column in a two-level directory of row chunks that
    // exist only once a cell in them is written, so that a table file asking
    // for an absurd size (a hand-edited or damaged one) costs next to nothing
    // until cells are filled there, while lookups stay a few array steps.
    class Column {
    public:
        const std::string* Find(std::int32_t row) const;
        std::string* Find(std::int32_t row) {
            return const_cast<std::string*>(std::as_const(*this).Find(row));
        }
        std::string& At(std::int32_t row);
        // Forgets every cell at or beyond row count.
        void Truncate(std::int32_t count);
        // fn(row, text) for every non-empty cell, rows ascending.
        void ForEachFilled(const std::function<void(std::int32_t, const std::string&)>& fn) const;

    private:
        static constexpr int kChunkBits = 8;  // rows per chunk: 256
        static constexpr int kPageBits = 8;   // chunks per page: 256
        using Chunk = std::array<std::string, 1 << kChunkBits>;
        using Page = std::array<std::unique_ptr<Chunk>, 1 << kPageBits>;
        std::vector<std::unique_ptr<Page>> pages_;
    };

    void CheckIndex(std::int32_t col, std::int32_t row) const;
    void NotifyCellChanged(std::int32_t col, std::int32_t row) const;

    std::int32_t colCount_ = 2;
    std::int32_t rowCount_ = 2;
    std::int32_t fixedCols_ = 1;
    std::int32_t fixedRows_ = 1;
    std::map<std::int32_t, Column> columns_;
    // Widths of columns that differ from what an added column gets; a column
    // without an entry has DefaultColWidth.
    std::map<std::int32_t, std::int32_t> widths_;
    StreamTableListener* listener_ = nullptr;
};

}  // namespace tamrel
