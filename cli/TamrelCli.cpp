// tamrel-cli: Unpack and Pack from a terminal, for batch work and machines
// without a display. The very same commands as the window's run behind a
// console host; this file only reads the command line and prints.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ConsoleWindow.h"
#include "archive/Check.h"
#include "archive/FolderCommit.h"
#include "archive/Pack.h"
#include "archive/Path.h"
#include "archive/Unpack.h"
#include "archive/WorkFolder.h"
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
    "  check FILE [FOLDER]    verify a pair: every stream found, every bank\n"
    "                         reference consistent; with FOLDER, also that the\n"
    "                         pair holds exactly what the work folder describes\n"
    "\n"
    "Options:\n"
    "  --tsv          with list: tab-separated columns\n"
    "  --dry-run      with pack: write nothing, print the plan\n"
    "  --force        with unpack: replace stream files that differ from the pair\n"
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

// The stream table's five visible columns, aligned or tab-separated.
void PrintTable(const StreamTable& table, bool tsv) {
    const std::int32_t cols[] = {0, 1, 3, 4, 11};
    const char* headers[] = {"#", "Name", "Ast Addr", "Abk Pos", "Asf Size"};
    std::size_t width[5] = {};
    for (int c = 0; c < 5; ++c) {
        width[c] = std::string(headers[c]).size();
        for (std::int32_t row = 1; row < table.RowCount(); ++row)
            width[c] = std::max(width[c], table.CellText(cols[c], row).size());
    }
    auto printRow = [&](auto cellOf) {
        std::string line;
        for (int c = 0; c < 5; ++c) {
            const std::string text = cellOf(c);
            if (tsv) {
                line += text;
                if (c < 4)
                    line += '\t';
                continue;
            }
            const std::string pad(width[c] - std::min(width[c], text.size()), ' ');
            // Numbers stand right-aligned, the name left-aligned.
            line += c == 1 ? text + pad : pad + text;
            if (c < 4)
                line += "  ";
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        std::printf("%s\n", line.c_str());
    };
    printRow([&](int c) { return std::string(headers[c]); });
    for (std::int32_t row = 1; row < table.RowCount(); ++row)
        printRow([&](int c) { return table.CellText(cols[c], row); });
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
        const PackNames names = PackNamesFor(target);
        NotePendingCommit(target, window);
        if (!IsExistingFile(names.tableFile)) {
            window.Error("Resource files not found in " + target);
            return kFailure;
        }
        table.Reset();
        table.LoadTableFile(names.tableFile);
        PrintTable(table, options.tsv);
        return kSuccess;
    }
    const UnpackOutcome outcome = UnpackPickedFile(table, window, target, /*writeFolder=*/false);
    const bool listed = outcome == UnpackOutcome::Succeeded || outcome == UnpackOutcome::EmptyBank;
    window.ReportBoxes(listed);
    if (!listed)
        return kFailure;
    PrintTable(table, options.tsv);
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
            patchText = std::to_string(patch->position) + ": " +
                        std::to_string(patch->oldAddress) + " -> " +
                        std::to_string(patch->newAddress);
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
    const PackOutcome outcome = PackFolder(table, window, folder, !options.dryRun, &plan);
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
    const PackNames names = PackNamesFor(folder);
    NotePendingCommit(folder, window);
    if (!IsExistingFile(names.tableFile)) {
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
            std::printf("tamrel-cli 1.1\n");
            return kSuccess;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--tsv") {
            options.tsv = true;
        } else if (arg == "--dry-run") {
            options.dryRun = true;
        } else if (arg == "--force") {
            options.force = true;
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
    if (command != "unpack" && command != "pack" && command != "list" && command != "check")
        return UsageError("unknown command '" + command + "'");
    if (options.arguments.size() < least)
        return UsageError(command + ": missing argument");
    if (options.arguments.size() > most)
        return UsageError(command + ": too many arguments");
    if (options.tsv && command != "list")
        return UsageError("--tsv goes with list only");
    if (options.dryRun && command != "pack")
        return UsageError("--dry-run goes with pack only");
    if (options.force && command != "unpack")
        return UsageError("--force goes with unpack only");

    ConsoleWindow window(stdout, stderr, ::isatty(STDERR_FILENO) != 0, options.quiet,
                         options.force);
    try {
        if (command == "unpack")
            return RunUnpack(options, window);
        if (command == "pack")
            return RunPack(options, window);
        if (command == "list")
            return RunList(options, window);
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
