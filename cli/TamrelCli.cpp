// tamrel-cli: Unpack and Pack from a terminal, for batch work and machines
// without a display. The very same commands as the window's run behind a
// console host; this file only reads the command line and prints.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ConsoleWindow.h"
#include "Version.h"
#include "archive/folder/Check.h"
#include "archive/folder/FolderCommit.h"
#include "archive/folder/FolderTable.h"
#include "archive/folder/Path.h"
#include "archive/folder/Replace.h"
#include "archive/folder/WorkFolder.h"
#include "archive/pair/Pack.h"
#include "archive/pair/PackPlan.h"
#include "archive/pair/StreamColumns.h"
#include "archive/pair/Unpack.h"
#include "audio/Decoder.h"
#include "audio/Export.h"
#include "audio/StreamInfo.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"
#include "table/TableFile.h"

namespace tamrel {
namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "Usage: tamrel-cli [OPTION]... COMMAND ARGUMENT...\n"
    "Unpack a stream archive (.ast) and its bank (.abk) into a work folder, or\n"
    "pack a work folder into a new pair, as the Tamrel window does.\n"
    "\n"
    "Commands:\n"
    "  unpack FILE            unpack the pair of FILE (either file of the pair)\n"
    "                         into the work folder beside it; stream files there\n"
    "                         that differ from the pair (your edits) are listed\n"
    "                         and nothing is written, unless --force is given\n"
    "  pack FOLDER            pack the work folder FOLDER into a new pair beside it\n"
    "  pack --dry-run FOLDER  print what pack would do, and write nothing\n"
    "  list FILE|FOLDER       print the stream table of a pair (nothing is\n"
    "                         written) or of a work folder\n"
    "  list --details FILE|FOLDER\n"
    "                         the same with each stream's codec, channels, rate,\n"
    "                         samples, duration, loop and problems\n"
    "  check FILE [FOLDER]    verify a pair: every stream found, every bank\n"
    "                         reference consistent; with FOLDER, also that the\n"
    "                         pair holds exactly what the work folder describes\n"
    "  export SOURCE [--rows LIST] [-o DIR]\n"
    "                         write streams as WAV files NAME.wav: SOURCE is a pair\n"
    "                         (read in memory, nothing unpacked) or a work folder;\n"
    "                         LIST like 2,5-7 (default: every stream); DIR defaults\n"
    "                         to the work folder (for a pair, the one Unpack would\n"
    "                         make beside it, created if missing)\n"
    "  replace FOLDER ROW AUDIOFILE [--loop START-END]\n"
    "                         encode AUDIOFILE (WAV, FLAC, Ogg Vorbis, Opus, MP3)\n"
    "                         in the format of row ROW's stream and write it over\n"
    "                         that stream file; the first original is kept as\n"
    "                         NAME.asf.orig; pack FOLDER then does the rest. A\n"
    "                         looping stream takes the audio file's loop, or the\n"
    "                         loop given (times of AUDIOFILE, like 12.5-80 or\n"
    "                         0:12.50-1:20.00), else its own when the new audio\n"
    "                         is as long, else loops over all of it\n"
    "  replace FOLDER --from DIR\n"
    "                         replace every stream that an audio file in DIR names\n"
    "                         (DIR/NAME.wav, .flac, ... for NAME.asf); files whose\n"
    "                         sound is the stream's own are left unchanged\n"
    "  restore FOLDER ROW     put the kept original of row ROW's stream back\n"
    "\n"
    "Options:\n"
    "  --tsv          with list: tab-separated columns\n"
    "  --details      with list: what each stream is, read from its header\n"
    "  --rows LIST    with export: the rows to export\n"
    "  --loop START-END\n"
    "                 with replace: the new stream's loop, in seconds (12.5)\n"
    "                 or minutes and seconds (0:12.50) of AUDIOFILE\n"
    "  -o DIR         with export: the folder for the WAV files\n"
    "  --dry-run      with pack: write nothing, print the plan\n"
    "  --force        with unpack: replace stream files that differ from the pair;\n"
    "                 with export: replace WAV files that are there already\n"
    "  --from DIR     with replace: the folder of audio files to replace streams with\n"
    "  -q, --quiet    print no progress and no messages of success\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "FILE and FOLDER may be given as typed: relative, \".\", trailing slashes.\n"
    "\"..\" is taken by the text of the path, as a shell's cd without -P takes it:\n"
    "symbolic links are not resolved first.\n"
    "\n"
    "Messages of success and listings go to stdout; every other end says why on\n"
    "stderr behind \"tamrel-cli: \", also with -q.\n"
    "\n"
    "Exit status, for every command:\n"
    "  0  success\n"
    "  1  every other end: a missing file, a reference not found in the bank,\n"
    "     a missing stream file, \"Alarm! Int error.\", an empty bank, a refused\n"
    "     table, a folder in use by another command of this program, edited\n"
    "     stream files kept without --force, mismatches found by check, an error\n"
    "  2  a usage error\n";

struct Options {
    std::string command;
    std::vector<std::string> arguments;
    bool tsv = false;
    bool dryRun = false;
    bool quiet = false;
    bool force = false;
    bool details = false;
    std::optional<std::string> rows;
    std::optional<std::string> outputFolder;
    std::optional<std::string> loop;
    std::optional<std::string> from;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "tamrel-cli: %s\nTry 'tamrel-cli --help' for more information.\n",
                 message.c_str());
    return kUsage;
}

// A path as the user typed it turned into what the window's dialogs hand
// over: absolute, normalised by its text (symbolic links are not resolved),
// with no separator at its end but for the root.
std::string AsDialogPath(const std::string& typed) {
    std::string path = std::filesystem::absolute(typed).lexically_normal().string();
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The streams of a pair, read from its archive in memory, or of a work
// folder, read from its stream files.
class StreamSources {
public:
    // A pair: its archive's bytes; a folder: empty archive, the folder.
    StreamSources(const StreamTable& table, std::string archive, std::string folder)
        : table_(table), archive_(std::move(archive)), folder_(std::move(folder)) {}

    const std::string& Name(std::int32_t row) const { return table_.CellText(kNameCol, row); }

    // The stream of a row, or nothing (with why) when it cannot be read.
    std::unique_ptr<ByteSource> Open(std::int32_t row, std::string& why) const {
        if (!folder_.empty()) {
            auto file = std::make_unique<FileSource>(JoinPath(folder_, Name(row)));
            if (!file->IsOpen()) {
                why = "the stream file " + JoinPath(folder_, Name(row)) + " cannot be read";
                return nullptr;
            }
            return file;
        }
        const auto address = ParseCellNumber(table_.CellText(kAddressCol, row));
        const auto size = ParseCellNumber(table_.CellText(kSizeCol, row));
        if (!address || !size || std::uint64_t{*address} + *size > archive_.size()) {
            why = "its place in the archive cannot be read";
            return nullptr;
        }
        return std::make_unique<MemorySource>(std::string_view(archive_).substr(*address, *size));
    }

private:
    const StreamTable& table_;
    std::string archive_;
    std::string folder_;
};

std::string Join(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const std::string& part : parts) {
        if (!out.empty())
            out += separator;
        out += part;
    }
    return out;
}

// The stream table's five visible columns, aligned or tab-separated; with
// sources, what each stream is after them.
void PrintTable(const StreamTable& table, bool tsv, const StreamSources* sources = nullptr) {
    std::vector<std::string> headers = {"#", "Name", "Ast Addr", "Abk Pos", "Asf Size"};
    const std::int32_t cols[] = {kNumberCol, kNameCol, kAddressCol, kPositionCol, kSizeCol};
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
        std::printf("%s\n", line.c_str());
    };
    printRow(headers);
    for (const auto& cells : rows)
        printRow(cells);
}

// Rows like "2,5-7", each between 1 and last; nothing when the list is
// malformed (why then says so, naming the list as what).
std::optional<std::vector<std::int32_t>> ParseRowList(const std::string& list, std::int32_t last,
                                                      const std::string& what, std::string& why) {
    std::vector<std::int32_t> rows;
    std::size_t start = 0;
    auto number = [&](const std::string& text, std::int32_t& value) {
        const auto n = ParseCellNumber(text);
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || !n)
            return false;
        value = static_cast<std::int32_t>(*n);
        return true;
    };
    while (start <= list.size()) {
        const auto comma = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, comma - start);
        const auto dash = item.find('-');
        std::int32_t from = 0, to = 0;
        if (dash == std::string::npos
                ? !number(item, from)
                : !number(item.substr(0, dash), from) || !number(item.substr(dash + 1), to)) {
            why = what + ": '" + item + "' is no row and no range like 5-7";
            return std::nullopt;
        }
        if (dash == std::string::npos)
            to = from;
        if (from > to) {
            why = what + ": the range " + item + " runs backwards";
            return std::nullopt;
        }
        if (from < 1 || to > last) {
            why = what + ": " + item + " is outside the table's rows 1 to " + std::to_string(last);
            return std::nullopt;
        }
        for (std::int32_t r = from; r <= to; ++r)
            rows.push_back(r);
        start = comma + 1;
    }
    return rows;
}

// A time as "12.5" (seconds) or "0:12.50" (minutes and seconds) or
// "1:02:03" (hours too); nothing when the text is none of these.
std::optional<double> ParseTime(const std::string& text) {
    double total = 0;
    std::size_t start = 0;
    for (int part = 0; part < 3; ++part) {
        const std::size_t colon = text.find(':', start);
        const bool last = colon == std::string::npos;
        const std::string field = text.substr(start, last ? std::string::npos : colon - start);
        const bool decimal = last && field.find('.') != std::string::npos;
        if (field.empty() ||
            field.find_first_not_of(decimal ? "0123456789." : "0123456789") != std::string::npos ||
            field.find('.') != field.rfind('.') || field == ".")
            return std::nullopt;
        const double value = std::stod(field);
        // Seconds and minutes after a colon stay below 60.
        if (part > 0 && value >= 60)
            return std::nullopt;
        total = total * 60 + value;
        if (last)
            return total;
        start = colon + 1;
    }
    return std::nullopt;
}

// "START-END" as two times; nothing (with why) when malformed.
std::optional<GivenLoop> ParseLoop(const std::string& text, std::string& why) {
    const std::size_t dash = text.find('-');
    const auto start = ParseTime(text.substr(0, dash));
    const auto end = dash == std::string::npos ? std::nullopt : ParseTime(text.substr(dash + 1));
    if (!start || !end) {
        why = "--loop: '" + text + "' is no loop like 12.5-80 or 0:12.50-1:20.00";
        return std::nullopt;
    }
    if (*end <= *start) {
        why = "--loop: the loop " + text + " ends before it starts";
        return std::nullopt;
    }
    return GivenLoop{*start, *end};
}

int RunUnpack(const Options& options, ConsoleWindow& window) {
    StreamTable table;
    const std::string file = AsDialogPath(options.arguments[0]);
    const UnpackOutcome outcome = UnpackPickedFile(table, window, file);
    const bool succeeded = outcome == UnpackOutcome::Succeeded;
    window.ReportBoxes(succeeded);
    if (outcome == UnpackOutcome::EmptyBank)
        window.Error("nothing was written: the bank " + UnpackNamesFor(file).bank +
                     " holds no bytes");
    if (succeeded)
        window.Success(window.StatusLine());
    return succeeded ? kSuccess : kFailure;
}

int RunList(const Options& options, ConsoleWindow& window) {
    StreamTable table;
    const std::string target = AsDialogPath(options.arguments[0]);
    if (IsExistingFolder(target)) {
        NotePendingCommit(target, window);
        if (!ReadFolderTable(table, target, window)) {
            window.ReportBoxes(false);
            return kFailure;
        }
        const StreamSources sources(table, "", target);
        PrintTable(table, options.tsv, options.details ? &sources : nullptr);
        return kSuccess;
    }
    const UnpackOutcome outcome = UnpackPickedFile(table, window, target, /*writeFolder=*/false);
    const bool listed = outcome == UnpackOutcome::Succeeded || outcome == UnpackOutcome::EmptyBank;
    window.ReportBoxes(listed);
    if (!listed)
        return kFailure;
    const StreamSources sources(
        table, options.details ? ReadWholeFile(UnpackNamesFor(target).archive) : "", "");
    PrintTable(table, options.tsv, options.details ? &sources : nullptr);
    if (!options.tsv)
        window.Success(window.StatusLine());
    return kSuccess;
}

void PrintPlan(const PackPlan& plan) {
    std::printf("%6s  %-24s %10s %10s %8s %11s %11s  %s\n", "#", "Stream file", "Old size",
                "New size", "Padding", "Old addr", "New addr", "Bank patch");
    // Both lists are in row order; each moved stream has one patch.
    auto patch = plan.patches.begin();
    for (const PackPlan::Stream& stream : plan.streams) {
        std::string patchText;
        while (patch != plan.patches.end() && patch->row < stream.row)
            ++patch;
        if (patch != plan.patches.end() && patch->row == stream.row)
            patchText = std::to_string(patch->position) + ": " + std::to_string(patch->oldAddress) +
                        " -> " + std::to_string(patch->newAddress);
        std::printf("%6d  %-24s %10u %10u %8u %11u %11u  %s\n", stream.row, stream.name.c_str(),
                    stream.oldSize, stream.newSize, stream.newSize - stream.fileSize,
                    stream.oldAddress, stream.address, patchText.c_str());
    }
    std::printf("New archive: %u bytes\n", plan.archiveSize);
}

int RunPack(const Options& options, ConsoleWindow& window) {
    StreamTable table;
    const std::string folder = AsDialogPath(options.arguments[0]);
    PackPlan plan;
    const PackOutcome outcome = options.dryRun ? PlanPackFolder(table, window, folder, plan)
                                               : PackFolder(table, window, folder);
    const bool succeeded = outcome == PackOutcome::Succeeded;
    window.ReportBoxes(succeeded);
    if (outcome == PackOutcome::EmptyBankImage)
        window.Error("nothing was written: the bank image " + PackNamesFor(folder).bankImage +
                     " holds no bytes");
    if (!succeeded)
        return kFailure;
    if (options.dryRun)
        PrintPlan(plan);
    return kSuccess;
}

int RunCheck(const Options& options, ConsoleWindow& window) {
    StreamTable pair;
    const std::string file = AsDialogPath(options.arguments[0]);
    const UnpackOutcome outcome = UnpackPickedFile(pair, window, file, /*writeFolder=*/false);
    const bool listed = outcome == UnpackOutcome::Succeeded || outcome == UnpackOutcome::EmptyBank;
    window.ReportBoxes(listed);
    if (!listed) {
        std::printf("FAILED: the pair of %s does not unpack\n", file.c_str());
        return kFailure;
    }
    const std::int32_t streams = pair.RowCount() - 1;
    if (options.arguments.size() == 1) {
        window.Success("OK: " + std::to_string(streams) +
                       " streams found, every bank reference consistent");
        return kSuccess;
    }

    const std::string folder = AsDialogPath(options.arguments[1]);
    NotePendingCommit(folder, window);
    if (!IsExistingFile(PackNamesFor(folder).tableFile)) {
        window.Error("Resource files not found in " + folder);
        return kFailure;
    }
    const std::string archive = ReadWholeFile(UnpackNamesFor(file).archive);
    const std::vector<std::string> found = ComparePairWithFolder(pair, archive, folder);
    for (const std::string& line : found)
        std::printf("%s\n", line.c_str());
    const auto mismatches = static_cast<int>(found.size());
    if (mismatches != 0) {
        std::printf("FAILED: %d mismatch%s between the pair of %s and %s\n", mismatches,
                    mismatches == 1 ? "" : "es", file.c_str(), folder.c_str());
        return kFailure;
    }
    window.Success("OK: " + std::to_string(streams) +
                   " streams; addresses, bank positions and bytes match " + folder);
    return kSuccess;
}

int RunExport(const Options& options, ConsoleWindow& window) {
    const std::string source = AsDialogPath(options.arguments[0]);
    StreamTable table;
    std::string archive, folder, outFolder;
    if (IsExistingFolder(source)) {
        folder = source;
        if (!ReadFolderTable(table, folder, window)) {
            window.ReportBoxes(false);
            return kFailure;
        }
        outFolder = folder;
    } else {
        const UnpackOutcome outcome = UnpackPickedFile(table, window, source, false);
        const bool listed =
            outcome == UnpackOutcome::Succeeded || outcome == UnpackOutcome::EmptyBank;
        window.ReportBoxes(listed);
        if (!listed)
            return kFailure;
        archive = ReadWholeFile(UnpackNamesFor(source).archive);
        outFolder = UnpackNamesFor(source).workFolder;
    }
    const std::int32_t last = table.RowCount() - 1;
    std::vector<std::int32_t> rows;
    if (options.rows) {
        std::string why;
        const auto parsed = ParseRowList(*options.rows, last, "--rows", why);
        if (!parsed)
            return UsageError(why);
        rows = *parsed;
    } else {
        for (std::int32_t r = 1; r <= last; ++r)
            rows.push_back(r);
    }
    if (options.outputFolder)
        outFolder = AsDialogPath(*options.outputFolder);
    if (const int error = CreateFolder(outFolder); error != 0 && error != EEXIST) {
        window.Error("Cannot create the folder " + outFolder + ": " + std::strerror(error));
        return kFailure;
    }
    // The output folder is taken as any folder a command writes: locked, and
    // the leftovers of a killed export of these files removed.
    std::set<std::string> wavNames;
    for (std::int32_t row : rows)
        wavNames.insert(WavNameFor(FileNamePart(table.CellText(kNameCol, row))));
    // WAV files there already are the user's: kept unless --force.
    if (!options.force) {
        std::vector<std::string> existing;
        for (const std::string& wav : wavNames)
            if (StatusOfPath(JoinPath(outFolder, wav), false).kind != NameStatus::Kind::Missing)
                existing.push_back(wav);
        if (!existing.empty()) {
            std::string list;
            for (std::size_t i = 0; i < existing.size() && i < 10; ++i)
                list += (i ? ", " : "") + existing[i];
            if (existing.size() > 10)
                list += " and " + std::to_string(existing.size() - 10) + " more";
            window.Error(outFolder + " holds " + std::to_string(existing.size()) +
                         (existing.size() == 1 ? " WAV file" : " WAV files") +
                         " that export would replace (" + list +
                         "); nothing was written. --force replaces them.");
            return kFailure;
        }
    }
    auto taken = TakeFolder(outFolder, window, [&wavNames](const std::string& target) {
        return wavNames.count(target) != 0;
    });
    if (!taken) {
        window.ReportBoxes(false);
        return kFailure;
    }

    const StreamSources sources(table, std::move(archive), folder);
    window.SetProgressMin(0);
    window.SetProgressMax(static_cast<std::int32_t>(rows.size()));
    int written = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::int32_t row = rows[i];
        window.SetProgressPosition(static_cast<std::int32_t>(i));
        const std::string& name = sources.Name(row);
        std::string why;
        const auto stream = sources.Open(row, why);
        try {
            if (!stream)
                throw DecodeError("The stream " + name + " is skipped: " + why + ".");
            ExportWav(*stream, name, taken->Work(), WavNameFor(FileNamePart(name)));
            ++written;
        } catch (const DecodeError& e) {
            window.Error(e.what());
        }
    }
    window.SetProgressPosition(static_cast<std::int32_t>(rows.size()));
    taken->Release();
    window.Success("Exported " + std::to_string(written) + " of " + std::to_string(rows.size()) +
                   " streams as WAV files to " + outFolder);
    return written == static_cast<int>(rows.size()) ? kSuccess : kFailure;
}

// The stream file name of a row of a work folder's table file; empty (with
// the message said) when the folder has none.
std::optional<std::string> RowName(const std::string& folder, const std::string& rowText,
                                   ConsoleWindow& window, int& status) {
    StreamTable table;
    if (!ReadFolderTable(table, folder, window)) {
        window.ReportBoxes(false);
        status = kFailure;
        return std::nullopt;
    }
    std::string why;
    const auto rows = ParseRowList(rowText, table.RowCount() - 1, "ROW", why);
    if (!rows || rows->size() != 1) {
        status = UsageError(rows ? "ROW is one row, like 2" : why);
        return std::nullopt;
    }
    return table.CellText(kNameCol, rows->front());
}

std::string SizeAndLength(std::uint64_t bytes, double seconds) {
    return std::to_string(bytes) + " bytes, " + FormatDuration(seconds);
}

// replace FOLDER --from DIR: every stream that an audio file in DIR names.
int RunReplaceFromFolder(const Options& options, ConsoleWindow& window) {
    const std::string folder = AsDialogPath(options.arguments[0]);
    const std::string audioFolder = AsDialogPath(*options.from);
    const auto summary =
        ReplaceFromFolder(folder, audioFolder, window, [&](const FolderStreamResult& r) {
            window.EraseProgress();
            switch (r.kind) {
                case FolderStreamResult::Kind::Replaced: {
                    std::string line =
                        "Replaced " + r.name + ": " +
                        SizeAndLength(r.report.oldSize, r.report.oldSeconds) + " before, " +
                        SizeAndLength(r.report.newSize, r.report.newSeconds) + " now.";
                    if (!r.report.loopText.empty())
                        line += " " + r.report.loopText;
                    window.Success(line);
                    break;
                }
                case FolderStreamResult::Kind::Unchanged:
                    window.Success(r.name + " unchanged");
                    break;
                case FolderStreamResult::Kind::Failed:
                    window.Error(r.name + ": " + r.why);
                    break;
            }
        });
    if (!summary) {
        window.ReportBoxes(false);
        return kFailure;
    }
    window.ReportBoxes(true);
    for (const std::string& file : summary->unmatched)
        window.Error(file + " matches no stream");
    window.Success(summary->Text());
    return summary->Complete() ? kSuccess : kFailure;
}

int RunReplace(const Options& options, ConsoleWindow& window) {
    if (options.from)
        return RunReplaceFromFolder(options, window);
    ReplaceOptions replaceOptions;
    if (options.loop) {
        std::string why;
        replaceOptions.loop = ParseLoop(*options.loop, why);
        if (!replaceOptions.loop)
            return UsageError(why);
    }
    const std::string folder = AsDialogPath(options.arguments[0]);
    int status = kSuccess;
    const auto name = RowName(folder, options.arguments[1], window, status);
    if (!name)
        return status;
    ReplaceReport report;
    const ReplaceOutcome outcome = ReplaceStream(folder, *name, AsDialogPath(options.arguments[2]),
                                                 window, &report, replaceOptions);
    const bool replaced = outcome == ReplaceOutcome::Replaced;
    window.ReportBoxes(replaced);
    if (!replaced)
        return kFailure;
    window.Success("Replaced " + *name + ": " + SizeAndLength(report.oldSize, report.oldSeconds) +
                   " before, " + SizeAndLength(report.newSize, report.newSeconds) + " now");
    if (!report.loopText.empty())
        window.Success(report.loopText);
    return kSuccess;
}

int RunRestore(const Options& options, ConsoleWindow& window) {
    const std::string folder = AsDialogPath(options.arguments[0]);
    int status = kSuccess;
    const auto name = RowName(folder, options.arguments[1], window, status);
    if (!name)
        return status;
    const ReplaceOutcome outcome = RestoreStream(folder, *name, window);
    const bool restored = outcome == ReplaceOutcome::Restored;
    window.ReportBoxes(restored);
    if (restored)
        window.Success("Restored the original of " + *name);
    return restored ? kSuccess : kFailure;
}

int Run(int argc, char** argv) {
    Options options;
    bool optionsEnded = false;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsageText, stdout);
            return kSuccess;
        } else if (arg == "--version") {
            std::printf("tamrel-cli %s\n", TAMREL_VERSION);
            return kSuccess;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--tsv") {
            options.tsv = true;
        } else if (arg == "--dry-run") {
            options.dryRun = true;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--details") {
            options.details = true;
        } else if (arg == "--rows" || arg == "-o" || arg == "--loop" || arg == "--from") {
            if (i + 1 >= argc)
                return UsageError(arg + " needs a value");
            (arg == "-o"       ? options.outputFolder
             : arg == "--loop" ? options.loop
             : arg == "--from" ? options.from
                               : options.rows) = std::string(argv[++i]);
        } else {
            return UsageError("unknown option '" + arg + "'");
        }
    }
    if (positional.empty())
        return UsageError("no command given");
    options.command = positional.front();
    options.arguments.assign(positional.begin() + 1, positional.end());

    const std::string& command = options.command;
    std::size_t least = 1, most = 1;
    if (command == "check")
        most = 2;
    if (command == "restore")
        least = most = 2;
    if (command == "replace")
        least = most = options.from ? 1 : 3;
    if (command != "unpack" && command != "pack" && command != "list" && command != "check" &&
        command != "export" && command != "replace" && command != "restore")
        return UsageError("unknown command '" + command + "'");
    if (options.arguments.size() < least)
        return UsageError(command + ": missing argument");
    if (options.arguments.size() > most)
        return UsageError(command + ": too many arguments");
    if (options.tsv && command != "list")
        return UsageError("--tsv goes with list only");
    if (options.dryRun && command != "pack")
        return UsageError("--dry-run goes with pack only");
    if (options.force && command != "unpack" && command != "export")
        return UsageError("--force goes with unpack and export only");
    if (options.from && options.loop)
        return UsageError("--loop goes with the replacement of one stream only");
    if (options.details && command != "list")
        return UsageError("--details goes with list only");
    if ((options.rows || options.outputFolder) && command != "export")
        return UsageError("--rows and -o go with export only");
    if ((options.loop || options.from) && command != "replace")
        return UsageError("--loop and --from go with replace only");

    ConsoleWindow window(stdout, stderr, ::isatty(STDERR_FILENO) != 0, options.quiet,
                         options.force);
    try {
        if (command == "unpack")
            return RunUnpack(options, window);
        if (command == "pack")
            return RunPack(options, window);
        if (command == "list")
            return RunList(options, window);
        if (command == "export")
            return RunExport(options, window);
        if (command == "replace")
            return RunReplace(options, window);
        if (command == "restore")
            return RunRestore(options, window);
        return RunCheck(options, window);
    } catch (const std::exception& e) {
        window.ReportBoxes(false);
        window.Error(e.what());
        return kFailure;
    }
}

}  // namespace
}  // namespace tamrel

int main(int argc, char** argv) {
    return tamrel::Run(argc, argv);
}
