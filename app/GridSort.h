// Sorting the stream rows by a header click: the settings of the last sort
// and the comparison of two rows, which decides afresh for every comparison
// whether the key texts are numbers, dates, times or plain text.
#pragma once

#include <QLocale>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tamrel {

class StreamTable;

enum TSortDirection { sdAscending, sdDescending };

struct SortSettings {
    std::int32_t Column = 0;
    TSortDirection Direction = sdAscending;
};

// The separators and formats of the user's locale that the comparison reads.
struct SortLocale {
    char decimalSeparator = '.';
    char dateSeparator = '/';
    char timeSeparator = ':';
    QLocale locale;

    static SortLocale From(const QLocale& locale);
};

// Compares two key texts: negative, 0 or positive. The kind of comparison
// comes from the first text.
int CompareCellTexts(const std::string& first, const std::string& second, const SortLocale& locale);

// The text a cell shows where it is not the table's own (a size read from
// disk), or nothing.
using ShownText = std::function<std::optional<std::string>(std::int32_t col, std::int32_t row)>;

// The order of the data rows (FixedRows() .. RowCount() - 1) sorted by column
// and direction: ties go on to the columns to the right. Cells are compared
// as they are shown.
std::vector<std::int32_t> SortedRowOrder(const StreamTable& table, const SortSettings& settings,
                                         const SortLocale& locale, const ShownText& shown = {});

}  // namespace tamrel
