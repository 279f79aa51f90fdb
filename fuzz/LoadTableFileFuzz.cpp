// Feeds arbitrary bytes to the table file reader, as a damaged or hand-edited
// work folder would. The only error it may raise is the negative-index one;
// whatever it reads must save again as a well-formed table file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "table/StreamTable.h"
#include "table/TableFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view contents(reinterpret_cast<const char*>(data), size);
    tamrel::StreamTable table;
    int pumps = 0;
    try {
        tamrel::ApplyTableFileContents(table, contents, [&] { ++pumps; });
    } catch (const tamrel::ListIndexError&) {
        return 0;
    }
    // Saving writes one line per column; keep that within reason here.
    if (table.ColCount() > 4096)
        return 0;
    const std::string saved = tamrel::FormatTableFile(table);
    // The saved form is stable: loading it into a reset table and saving again
    // gives the same bytes (the fixed counts aside, which loading never sets).
    tamrel::StreamTable reloaded;
    reloaded.Reset();
    tamrel::ApplyTableFileContents(reloaded, saved, {});
    if (table.FixedCols() == 1 && table.FixedRows() == 1 &&
        tamrel::FormatTableFile(reloaded) != saved)
        std::abort();
    return 0;
}
