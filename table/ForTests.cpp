// For tests and benchmarks only: conveniences the programs do not need,
// kept out of them. They are linked from tamrel_table_for_tests, which no
// program links, so a program that calls one fails to link.
#include "table/StreamTable.h"
#include "table/TableFile.h"

namespace tamrel {

void StreamTable::SaveTableFile(const std::string& path) const {
    PrepareTableFile(*this, path).Commit();
}

std::int64_t StreamTable::LoadTableFile(const std::string& path,
                                        const std::function<void()>& pumpEvents) {
    return LoadTableFile(InputFile(path), pumpEvents);
}

}  // namespace tamrel
