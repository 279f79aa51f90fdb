// list FILE|FOLDER: the stream table, and with --details what each stream is.
#include "Console.h"

#include <algorithm>
#include <cstdio>

#include "archive/folder/FolderCommit.h"
#include "archive/folder/StreamSources.h"
#include "archive/folder/WorkFolder.h"
#include "io/FileIo.h"
#include "table/StreamColumns.h"

namespace tamrel::cli {

namespace {

// The stream table's five visible columns, aligned or tab-separated; with
// sources, what each stream is after them.
void PrintTable(const StreamTable& table, bool tsv, const StreamSources* sources = nullptr) {
    const StreamColumn cols[] = {kNumberCol, kNameCol, kAddressCol, kPositionCol, kSizeCol};
    std::vector<std::string> headers;
    for (const StreamColumn col : cols)
        headers.push_back(ColumnTitle(col));
    std::vector<std::vector<std::string>> rows;
    bool anyProblem = false;
    for (std::int32_t row = 1; row < table.RowCount(); ++row) {
        std::vector<std::string> cells;
        for (std::int32_t col : cols)
            cells.push_back(table.CellText(col, row));
        if (sources) {
            std::string why;
            const auto stream = sources->Open(row, why);
            StreamInfo info;
            if (stream)
                info = ReadStreamInfo(*stream);
            else
                info.problems.push_back({StreamProblem::Kind::Damage, why});
            const std::vector<std::string> problems = info.ProblemTexts();
            anyProblem = anyProblem || !problems.empty();
            const bool known = info.hasHeader;
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.3f", info.Duration());
            cells.push_back(known ? info.CodecName() : "");
            cells.push_back(known ? std::to_string(info.channels) : "");
            cells.push_back(known ? std::to_string(info.sampleRate) : "");
            cells.push_back(known ? std::to_string(info.samples) : "");
            cells.push_back(known ? (tsv ? seconds : FormatDuration(info.Duration())) : "");
            const bool loop = known && info.loopStart && info.loopEnd;
            if (tsv) {
                cells.push_back(loop ? std::to_string(*info.loopStart) : "");
                cells.push_back(loop ? std::to_string(*info.loopEnd) : "");
            } else {
                cells.push_back(loop ? std::to_string(*info.loopStart) + "-" +
                                           std::to_string(*info.loopEnd)
                                     : "");
            }
            cells.push_back(Join(problems, "; "));
        }
        rows.push_back(std::move(cells));
    }
    if (sources) {
        for (const char* h : {"Codec", "Channels", "Rate", "Samples", "Duration"})
            headers.push_back(h);
        if (tsv) {
            headers.push_back("Loop Start");
            headers.push_back("Loop End");
        } else {
            headers.push_back("Loop");
        }
        headers.push_back("Problems");
        // Aligned, the problems' column is there only when a stream has one.
        if (!tsv && !anyProblem) {
            headers.pop_back();
            for (auto& cells : rows)
                cells.pop_back();
        }
    }
    const std::size_t columns = headers.size();
    std::vector<std::size_t> width(columns);
    for (std::size_t c = 0; c < columns; ++c) {
        width[c] = headers[c].size();
        for (const auto& cells : rows)
            width[c] = std::max(width[c], cells[c].size());
    }
    // Names, codecs, loops and problems stand left-aligned, numbers right-aligned.
    auto leftAligned = [&](std::size_t c) {
        return headers[c] == "Name" || headers[c] == "Codec" || headers[c] == "Loop" ||
               headers[c] == "Problems";
    };
    auto printRow = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (std::size_t c = 0; c < columns; ++c) {
            if (tsv) {
                line += cells[c];
                if (c + 1 < columns)
                    line += '\t';
                continue;
            }
            const std::string pad(width[c] - std::min(width[c], cells[c].size()), ' ');
            line += leftAligned(c) ? cells[c] + pad : pad + cells[c];
            if (c + 1 < columns)
                line += "  ";
        }
        if (!tsv)
            while (!line.empty() && line.back() == ' ')
                line.pop_back();
        Print(line + "\n");
    };
    printRow(headers);
    for (const auto& cells : rows)
        printRow(cells);
}

}  // namespace

int RunList(const Options& options, ConsoleWindow& window) {
    StreamTable table;
    const std::string target = AsDialogPath(options.arguments[0]);
    if (IsExistingFolder(target)) {
        const auto folder = OpenWorkTable(table, target, window);
        if (!folder)
            return kFailure;
        NotePendingCommit(*folder, window);
        const StreamSources sources(table, *folder);
        PrintTable(table, options.tsv, options.details ? &sources : nullptr);
        return kSuccess;
    }
    if (!ListPair(table, target, window))
        return kFailure;
    const StreamSources sources(
        table, options.details ? ReadWholeFile(UnpackNamesFor(target).archive) : "");
    PrintTable(table, options.tsv, options.details ? &sources : nullptr);
    if (!options.tsv)
        window.Success(window.StatusLine());
    return kSuccess;
}

}  // namespace tamrel::cli
