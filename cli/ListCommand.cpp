// list FILE|FOLDER: the stream table, and with --details what each stream
// is; as aligned text, tab-separated or one JSON document.
#include "Console.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "archive/folder/FolderCommit.h"
#include "archive/folder/StreamSources.h"
#include "archive/folder/WorkFolder.h"
#include "io/FileIo.h"
#include "table/CellNumber.h"
#include "table/StreamColumns.h"

namespace tamrel::cli {

namespace {

constexpr StreamColumn kListed[] = {kNumberCol, kNameCol, kAddressCol, kPositionCol, kSizeCol};

// What is listed of a row.
struct Row {
    std::vector<std::string> cells;      // the table's five visible columns
    std::optional<std::int64_t> onDisk;  // a work folder's stream file's size, where it has one
    bool changed = false;                // that size is not the row's: edited or replaced
    std::optional<StreamInfo> info;      // with --details
};

std::vector<Row> RowsOf(const StreamTable& table, const StreamSources& sources, bool folder,
                        bool details) {
    std::vector<Row> rows;
    for (std::int32_t r = 1; r < table.RowCount(); ++r) {
        Row row;
        for (const StreamColumn col : kListed)
            row.cells.push_back(table.CellText(col, r));
        std::unique_ptr<ByteSource> stream;
        std::string why;
        if (folder || details)
            stream = sources.Open(r, why);
        if (folder && stream) {
            row.onDisk = static_cast<std::int64_t>(stream->Size());
            row.changed = ChangedSize(*row.onDisk, row.cells[4]).has_value();
        }
        if (details) {
            row.info = stream ? ReadStreamInfo(*stream) : StreamInfo{};
            if (!stream)
                row.info->problems.push_back({StreamProblem::Kind::Damage, why});
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

// The columns of --details after the table's, as text cells.
void AddDetails(std::vector<std::string>& cells, const StreamInfo& info, bool tsv) {
    const bool known = info.hasHeader;
    cells.push_back(known ? info.CodecName() : "");
    cells.push_back(known ? std::to_string(info.channels) : "");
    cells.push_back(known ? std::to_string(info.sampleRate) : "");
    cells.push_back(known ? std::to_string(info.samples) : "");
    cells.push_back(known ? (tsv ? Seconds(info.Duration()) : FormatDuration(info.Duration()))
                          : "");
    const bool loop = known && info.loopStart && info.loopEnd;
    if (tsv) {
        cells.push_back(loop ? std::to_string(*info.loopStart) : "");
        cells.push_back(loop ? std::to_string(*info.loopEnd) : "");
    } else {
        cells.push_back(loop ? std::to_string(*info.loopStart) + "-" + std::to_string(*info.loopEnd)
                             : "");
    }
    cells.push_back(Join(info.ProblemTexts(), "; "));
}

void PrintText(const std::vector<Row>& rows, bool tsv, bool folder, bool details) {
    std::vector<std::string> headers;
    for (const StreamColumn col : kListed)
        headers.push_back(ColumnTitle(col));
    // A work folder's size on disk: a column of its own in TSV; in text the
    // size column shows it, marked, where it is not the table's.
    if (folder && tsv)
        headers.push_back("File Size");
    if (details) {
        for (const char* h : {"Codec", "Channels", "Rate", "Samples", "Duration"})
            headers.push_back(h);
        for (const char* h : tsv ? std::vector<const char*>{"Loop Start", "Loop End"}
                                 : std::vector<const char*>{"Loop"})
            headers.push_back(h);
        headers.push_back("Problems");
    }
    bool anyProblem = false, anyChanged = false;
    std::vector<std::vector<std::string>> lines;
    for (const Row& row : rows) {
        std::vector<std::string> cells = row.cells;
        if (folder && tsv)
            cells.push_back(row.onDisk ? std::to_string(*row.onDisk) : "");
        else if (row.changed)
            cells[4] = std::to_string(*row.onDisk) + "*";
        anyChanged = anyChanged || row.changed;
        if (details) {
            AddDetails(cells, *row.info, tsv);
            anyProblem = anyProblem || !row.info->problems.empty();
        }
        lines.push_back(std::move(cells));
    }
    // Aligned, the problems' column is there only when a stream has one.
    if (details && !tsv && !anyProblem) {
        headers.pop_back();
        for (auto& cells : lines)
            cells.pop_back();
    }
    const std::size_t columns = headers.size();
    std::vector<std::size_t> width(columns);
    for (std::size_t c = 0; c < columns; ++c) {
        width[c] = headers[c].size();
        for (const auto& cells : lines)
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
                line += cells[c] + (c + 1 < columns ? "\t" : "");
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
    for (const auto& cells : lines)
        printRow(cells);
    if (anyChanged && !tsv)
        Print("* the stream file's size on disk: edited or replaced since the last pack\n");
}

// A cell as a number where it is one, else as the text it is.
nlohmann::json NumberOrText(const std::string& cell) {
    if (const auto number = ParseCellNumber(cell))
        return *number;
    return cell;
}

nlohmann::json DetailsJson(const StreamInfo& info) {
    nlohmann::json details;
    details["codec"] = info.hasHeader ? nlohmann::json(info.CodecName()) : nlohmann::json();
    details["channels"] = info.hasHeader ? nlohmann::json(info.channels) : nlohmann::json();
    details["rate"] = info.hasHeader ? nlohmann::json(info.sampleRate) : nlohmann::json();
    details["samples"] = info.samples;
    details["duration"] = info.Duration();
    details["loop"] = nlohmann::json();
    if (info.hasHeader && info.loopStart && info.loopEnd)
        details["loop"] = {{"start", *info.loopStart}, {"end", *info.loopEnd}};
    details["problems"] = info.ProblemTexts();
    return details;
}

void PrintJson(const std::vector<Row>& rows, const std::string& source, bool folder) {
    nlohmann::json streams = nlohmann::json::array();
    for (const Row& row : rows) {
        nlohmann::json stream = {{"row", NumberOrText(row.cells[0])},
                                 {"name", row.cells[1]},
                                 {"address", NumberOrText(row.cells[2])},
                                 {"position", NumberOrText(row.cells[3])},
                                 {"size", NumberOrText(row.cells[4])}};
        if (folder) {
            stream["fileSize"] = row.onDisk ? nlohmann::json(*row.onDisk) : nlohmann::json();
            stream["changed"] = row.changed;
        }
        if (row.info)
            stream.update(DetailsJson(*row.info));
        streams.push_back(std::move(stream));
    }
    const nlohmann::json document = {
        {"source", source}, {"kind", folder ? "folder" : "pair"}, {"streams", streams}};
    Print(document.dump(2) + "\n");
}

}  // namespace

int RunList(const Options& options, ConsoleWindow& window) {
    StreamTable table;
    const std::string target = AsDialogPath(options.arguments[0]);
    const bool folder = IsExistingFolder(target);
    std::optional<Folder> opened;
    if (folder) {
        opened = OpenWorkTable(table, target, window);
        if (!opened)
            return kFailure;
        NotePendingCommit(*opened, window);
    } else if (!ListPair(table, target, window)) {
        return kFailure;
    }
    const std::unique_ptr<StreamSources> sources =
        folder ? std::make_unique<StreamSources>(table, *opened)
               : std::make_unique<StreamSources>(
                     table, options.details ? ReadWholeFile(UnpackNamesFor(target).archive) : "");
    const std::vector<Row> rows = RowsOf(table, *sources, folder, options.details);
    if (options.json)
        PrintJson(rows, target, folder);
    else
        PrintText(rows, options.tsv, folder, options.details);
    if (!folder && !options.tsv && !options.json)
        window.Success(window.StatusLine());
    return kSuccess;
}

}  // namespace tamrel::cli
