// tamrel-cli: the window's work from a terminal, for batch work and machines
// without a display: unpack, pack, list, check, export and replace (and
// restore). The very same core runs behind a console host; this file reads
// the command line by the tables of commands and options below (the usage
// texts are made from them, the options read as getopt_long reads them) and
// hands it to the command's own file.
#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "Console.h"
#include "Version.h"
#include "io/FileIo.h"

namespace tamrel::cli {
namespace {

using Runner = int (*)(const Options&, ConsoleWindow&);

// One way to call a command, as the usage shows it.
struct Synopsis {
    const char* line;  // "pack --dry-run FOLDER"
    const char* help;  // its description, lines of at most 52 characters
};

struct Command {
    const char* name;
    std::vector<Synopsis> synopses;
    std::size_t least, most;  // operands
    Runner run;
    const char* example;  // a command line a user would type
    // Operands that depend on an option: replace takes one with --from.
    std::size_t (*operandsWith)(const Options& options) = nullptr;
    // For a command that takes several operands, each its own run: the
    // operands of each run, in order.
    std::vector<std::vector<std::string>> (*runs)(const Options& options) = nullptr;
};

constexpr std::size_t kAny = static_cast<std::size_t>(-1);

int RunHelp(const Options& options, ConsoleWindow& window);

std::size_t ReplaceOperands(const Options& options) {
    return options.from ? 1 : 3;
}

std::size_t RestoreOperands(const Options& options) {
    return options.all || options.rows ? 1 : 2;
}

// Each operand its own run.
std::vector<std::vector<std::string>> EachOperand(const Options& options) {
    std::vector<std::vector<std::string>> runs;
    for (const std::string& operand : options.arguments)
        runs.push_back({operand});
    return runs;
}

// check FILE FOLDER is one run; pairs alone are each their own.
std::vector<std::vector<std::string>> CheckRuns(const Options& options) {
    const auto& operands = options.arguments;
    if (operands.size() == 2 && IsExistingFolder(AsDialogPath(operands[1])))
        return {operands};
    return EachOperand(options);
}

const std::vector<Command>& Commands() {
    // clang-format off
    static const std::vector<Command> commands = {
        {"unpack",
         {{"unpack FILE...",
           "unpack the pair of FILE (either file of the pair)\n"
           "into the work folder beside it; stream files there\n"
           "that differ from the pair (your edits) are listed\n"
           "and nothing is written, unless --force is given"}},
         1, kAny, RunUnpack, "tamrel-cli unpack music/*.ast", nullptr, EachOperand},
        {"pack",
         {{"pack FOLDER...", "pack the work folder FOLDER into a new pair beside it"},
          {"pack --dry-run FOLDER...", "print what pack would do, and write nothing"}},
         1, kAny, RunPack, "tamrel-cli pack music_", nullptr, EachOperand},
        {"list",
         {{"list FILE|FOLDER",
           "print the stream table of a pair (nothing is\n"
           "written) or of a work folder"},
          {"list --details FILE|FOLDER",
           "the same with each stream's codec, channels, rate,\n"
           "samples, duration, loop and problems"}},
         1, 1, RunList, "tamrel-cli list --details music_"},
        {"check",
         {{"check FILE [FOLDER]",
           "verify a pair: every stream found, every bank\n"
           "reference consistent; with FOLDER, also that the\n"
           "pair holds exactly what the work folder describes"},
          {"check FILE...", "verify several pairs, each as above"}},
         1, kAny, RunCheck, "tamrel-cli check music_.ast music_", nullptr, CheckRuns},
        {"export",
         {{"export SOURCE... [--rows LIST] [-o DIR]",
           "write streams as WAV files NAME.wav: SOURCE is a pair\n"
           "(read in memory, nothing unpacked) or a work folder;\n"
           "LIST like 2,5-7 (default: every stream); DIR defaults\n"
           "to the work folder (for a pair, the one Unpack would\n"
           "make beside it, created if missing)"}},
         1, kAny, RunExport, "tamrel-cli export music_ --rows 2,5-7 -o wavs", nullptr,
         EachOperand},
        {"replace",
         {{"replace FOLDER ROW AUDIOFILE [--loop START-END]",
           "encode AUDIOFILE (WAV, AIFF, FLAC, Ogg Vorbis, Opus,\n"
           "MP3) in the format of row ROW's stream and write it\n"
           "over that stream file; the first original is kept as\n"
           "NAME.asf.orig; pack FOLDER then does the rest. A\n"
           "looping stream takes the audio file's loop, or the\n"
           "loop given (times of AUDIOFILE, like 12.5-80 or\n"
           "0:12.50-1:20.00), else its own when the new audio\n"
           "is as long, else loops over all of it"},
          {"replace --dry-run FOLDER ROW AUDIOFILE",
           "the same in memory: print the new stream's size,\n"
           "length, loop and quality (SNR and peak difference\n"
           "against the audio), and write nothing"},
          {"replace FOLDER --from DIR",
           "replace every stream that an audio file in DIR names\n"
           "(DIR/NAME.wav, .flac, ... for NAME.asf); files whose\n"
           "sound is the stream's own are left unchanged"}},
         3, 3, RunReplace, "tamrel-cli replace music_ 3 theme.flac --loop 12.5-80",
         ReplaceOperands},
        {"restore",
         {{"restore FOLDER ROW", "put the kept original of row ROW's stream back"},
          {"restore FOLDER --rows LIST", "the same for each row of LIST (like 2,5-7)"},
          {"restore FOLDER --all", "the same for every stream with a kept original"}},
         2, 2, RunRestore, "tamrel-cli restore music_ --all", RestoreOperands},
        {"loop",
         {{"loop FOLDER ROW START-END",
           "set the loop of row ROW's stream without encoding it\n"
           "again: only its header's loop tags change (times\n"
           "like 12.5-80 or 0:12.50-1:20.00); the first original\n"
           "is kept as NAME.asf.orig"},
          {"loop FOLDER ROW --samples S-E", "the same in the stream's own samples"},
          {"loop FOLDER ROW --off", "remove the stream's loop"}},
         2, 3, RunLoop, "tamrel-cli loop music_ 3 0:12.50-1:20.00"},
        {"help",
         {{"help [COMMAND]", "show this help, or COMMAND's: its synopsis, options\n"
                             "and an example (as COMMAND --help does)"}},
         0, 1, RunHelp, "tamrel-cli help replace"},
    };
    // clang-format on
    return commands;
}

// An option: its names, the field of Options it sets, and the commands it
// goes with (none: every command).
struct Option {
    char shortName;         // 0: none
    const char* longName;   // without "--"
    const char* valueName;  // nullptr: a flag
    const char* help;
    bool Options::*flag = nullptr;
    std::optional<std::string> Options::*value = nullptr;
    std::vector<std::string> commands = {};
};

const std::vector<Option>& OptionTable() {
    // clang-format off
    static const std::vector<Option> options = {
        {0, "tsv", nullptr, "with list: tab-separated columns", &Options::tsv, nullptr, {"list"}},
        {0, "details", nullptr, "with list: what each stream is, read from its header",
         &Options::details, nullptr, {"list"}},
        {0, "json", nullptr,
         "with list, check and pack --dry-run: one JSON document\n"
         "on stdout (the keys are in the README)",
         &Options::json, nullptr, {"list", "check", "pack"}},
        {0, "rows", "LIST", "with export and restore: the rows to export or\nrestore",
         nullptr, &Options::rows, {"export", "restore"}},
        {0, "all", nullptr, "with restore: every stream with a kept original", &Options::all,
         nullptr, {"restore"}},
        {0, "loop", "START-END",
         "with replace: the new stream's loop, in seconds (12.5)\n"
         "or minutes and seconds (0:12.50) of AUDIOFILE",
         nullptr, &Options::loop, {"replace"}},
        {'o', "output", "DIR", "with export: the folder for the WAV files", nullptr,
         &Options::outputFolder, {"export"}},
        {'n', "dry-run", nullptr,
         "with pack: write nothing, print the plan; with replace:\n"
         "encode and decode back in memory, print the new size,\n"
         "length, loop and quality, write nothing",
         &Options::dryRun, nullptr, {"pack", "replace"}},
        {'f', "force", nullptr,
         "with unpack: replace stream files that differ from\n"
         "the pair; with export: replace WAV files that are\n"
         "there already",
         &Options::force, nullptr, {"unpack", "export"}},
        {0, "from", "DIR", "with replace: the folder of audio files to replace\nstreams with",
         nullptr, &Options::from, {"replace"}},
        {0, "samples", "S-E",
         "with loop: the loop in the stream's own samples (S\nincluded, E not)",
         nullptr, &Options::samples, {"loop"}},
        {0, "off", nullptr, "with loop: remove the stream's loop", &Options::off, nullptr,
         {"loop"}},
        {'q', "quiet", nullptr, "print no progress and no messages of success", &Options::quiet},
        {0, "progress", nullptr,
         "show progress where stderr is no terminal too: a plain\n"
         "line at most every second (a log's)",
         &Options::progress},
    };
    // clang-format on
    return options;
}

// "-o, --output=DIR", "    --rows=LIST", "-q, --quiet".
std::string NamesOf(const Option& option) {
    std::string names = option.shortName ? std::string("-") + option.shortName + ", " : "    ";
    names += std::string("--") + option.longName;
    if (option.valueName)
        names += std::string("=") + option.valueName;
    return names;
}

// "  NAMES      help", the help at column, on the next line where the
// names reach it.
std::string Described(const std::string& names, const std::string& help, std::size_t column) {
    std::string out = "  " + names;
    out += out.size() + 2 <= column ? std::string(column - out.size(), ' ')
                                    : "\n" + std::string(column, ' ');
    for (const char c : help)
        out += c == '\n' ? "\n" + std::string(column, ' ') : std::string(1, c);
    return out + "\n";
}

constexpr std::size_t kCommandColumn = 25;
constexpr std::size_t kOptionColumn = 23;

std::string CommonOptions() {
    return Described("-h, --help", "show this help and exit", kOptionColumn) +
           Described("    --version", "show the version and exit", kOptionColumn);
}

std::string UsageText() {
    std::string text =
        "Usage: tamrel-cli [OPTION]... COMMAND ARGUMENT...\n"
        "Unpack a stream archive (.ast) and its bank (.abk) into a work folder, or\n"
        "pack a work folder into a new pair, as the Tamrel window does.\n"
        "\n"
        "Commands:\n";
    for (const Command& command : Commands())
        for (const Synopsis& synopsis : command.synopses)
            text += Described(synopsis.line, synopsis.help, kCommandColumn);
    text += "\nOptions (anywhere on the line; -- ends them):\n";
    for (const Option& option : OptionTable())
        text += Described(NamesOf(option), option.help, kOptionColumn);
    text += CommonOptions();
    return text +
           "\n"
           "'tamrel-cli help COMMAND' or 'tamrel-cli COMMAND --help' describes one command.\n"
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
}

bool GoesWith(const Option& option, const std::string& command) {
    return option.commands.empty() || std::find(option.commands.begin(), option.commands.end(),
                                                command) != option.commands.end();
}

// One command's synopsis, its options and an example.
std::string CommandUsageText(const Command& command) {
    std::string text;
    for (const Synopsis& synopsis : command.synopses)
        text += std::string(text.empty() ? "Usage: " : "  or:  ") + "tamrel-cli " + synopsis.line +
                "\n";
    for (const Synopsis& synopsis : command.synopses) {
        // Appended in two steps: "\n" + a temporary string makes mingw's
        // GCC 12 at -O3 warn of an overlap that cannot happen.
        text += '\n';
        text += Described(synopsis.line, synopsis.help, kCommandColumn);
    }
    text += "\nOptions:\n";
    for (const Option& option : OptionTable())
        if (GoesWith(option, command.name))
            text += Described(NamesOf(option), option.help, kOptionColumn);
    text += CommonOptions();
    return text + "\nExample:\n  " + command.example + "\n";
}

const Command* CommandNamed(const std::string& name) {
    for (const Command& command : Commands())
        if (name == command.name)
            return &command;
    return nullptr;
}

int RunHelp(const Options& options, ConsoleWindow&) {
    if (options.arguments.empty()) {
        Print(UsageText());
        return kSuccess;
    }
    const Command* command = CommandNamed(options.arguments.front());
    if (!command)
        return UsageError("help: unknown command '" + options.arguments.front() + "'");
    Print(CommandUsageText(*command));
    return kSuccess;
}

bool GivenIn(const Option& option, const Options& options) {
    return option.flag ? options.*option.flag : (options.*option.value).has_value();
}

// "--force goes with unpack and export only", or empty.
std::string Misplaced(const Options& options) {
    for (const Option& option : OptionTable()) {
        if (!GivenIn(option, options) || GoesWith(option, options.command))
            continue;
        const std::vector<std::string>& with = option.commands;
        std::string commands = with.front();
        for (std::size_t i = 1; i < with.size(); ++i)
            commands += (i + 1 == with.size() ? " and " : ", ") + with[i];
        return std::string("--") + option.longName + " goes with " + commands + " only";
    }
    if (options.json && options.command == "pack" && !options.dryRun)
        return "--json goes with pack --dry-run only: pack itself prints no listing";
    if (options.from && options.loop)
        return "--loop goes with the replacement of one stream only";
    if (options.dryRun && options.from)
        return "--dry-run goes with the replacement of one stream only";
    if (options.all && options.rows)
        return "--all and --rows name the rows twice: give one";
    return {};
}

// "option '--d' is ambiguous: --details, --dry-run", or unknown.
std::string UnknownLongOption(const std::string& arg) {
    const std::string typed = arg.substr(2, arg.find('=') - 2);
    std::vector<std::string> matches;
    for (const Option& option : OptionTable())
        if (std::string(option.longName).rfind(typed, 0) == 0)
            matches.push_back(std::string("--") + option.longName);
    for (const char* name : {"help", "version"})
        if (std::string(name).rfind(typed, 0) == 0)
            matches.push_back(std::string("--") + name);
    if (typed.empty() || matches.size() < 2)
        return "unknown option '" + arg + "'";
    std::string list = matches.front();
    for (std::size_t i = 1; i < matches.size(); ++i)
        list += ", " + matches[i];
    return "option '" + arg + "' is ambiguous: " + list;
}

// What the command line asks, read as getopt_long reads it: options
// anywhere, "--" ending them, "--rows=2", "-oDIR", "-qf", and any
// unambiguous beginning of a long option. A usage error returns its status.
struct Parsed {
    Options options;
    bool help = false, version = false;
    int status = -1;  // set at a usage error
};

Parsed ParseCommandLine(const std::vector<std::string>& args) {
    Parsed parsed;
    constexpr int kHelp = 'h', kVersion = 256, kLongOnly = 512;
    std::vector<option> longOptions;
    std::string shortOptions = ":h";  // ':' first: a missing value returns ':'
    const auto& table = OptionTable();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Option& o = table[i];
        longOptions.push_back({o.longName, o.valueName ? required_argument : no_argument, nullptr,
                               o.shortName ? o.shortName : kLongOnly + static_cast<int>(i)});
        if (o.shortName)
            shortOptions += std::string(1, o.shortName) + (o.valueName ? ":" : "");
    }
    longOptions.push_back({"help", no_argument, nullptr, kHelp});
    longOptions.push_back({"version", no_argument, nullptr, kVersion});
    longOptions.push_back({nullptr, 0, nullptr, 0});

    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (std::string& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    opterr = 0;  // the errors are said here, in the program's own words
    optind = 0;  // 0: getopt starts afresh
    const int argc = static_cast<int>(copies.size());
    for (int c; (c = getopt_long(argc, argv.data(), shortOptions.c_str(), longOptions.data(),
                                 nullptr)) != -1;) {
        const std::string arg = optind > 0 && optind <= argc ? argv[optind - 1] : "";
        const Option* option = nullptr;
        for (std::size_t i = 0; i < table.size(); ++i)
            if (c == (table[i].shortName ? table[i].shortName : kLongOnly + static_cast<int>(i)))
                option = &table[i];
        if (c == kHelp) {
            parsed.help = true;
        } else if (c == kVersion) {
            parsed.version = true;
        } else if (c == ':') {
            parsed.status =
                UsageError(arg.rfind("--", 0) == 0
                               ? arg + " needs a value"
                               : std::string("-") + static_cast<char>(optopt) + " needs a value");
            return parsed;
        } else if (c == '?') {
            parsed.status = UsageError(optopt != 0 ? std::string("unknown option '-") +
                                                         static_cast<char>(optopt) + "'"
                                                   : UnknownLongOption(arg));
            return parsed;
        } else if (option && option->flag) {
            parsed.options.*option->flag = true;
        } else if (option) {
            parsed.options.*option->value = optarg;
        }
    }
    // getopt_long moved the operands behind the options, in their order.
    std::vector<std::string> operands(argv.begin() + std::min(optind, argc), argv.begin() + argc);
    if (!operands.empty()) {
        parsed.options.command = operands.front();
        parsed.options.arguments.assign(operands.begin() + 1, operands.end());
    }
    return parsed;
}

}  // namespace

// Runs a command once for each group of operands, each on its own (and
// under its own lock), then says how many succeeded: the worst status of
// them all, 0 only when every one succeeded.
int RunEach(const std::vector<std::vector<std::string>>& runs, const Options& options, bool quiet,
            const std::function<int(const Options&)>& runOne) {
    int worst = kSuccess;
    std::vector<std::string> failed;
    for (const auto& operands : runs) {
        Options one = options;
        one.arguments = operands;
        const int status = runOne(one);
        worst = std::max(worst, status);
        if (status != kSuccess)
            failed.push_back(operands.front());
    }
    const std::string done = std::to_string(runs.size() - failed.size()) + " of " +
                             std::to_string(runs.size()) + " succeeded";
    if (failed.empty()) {
        if (!quiet)
            Print(done + ".\n");
        return kSuccess;
    }
    std::string names;
    for (const std::string& name : failed)
        names += (names.empty() ? "" : ", ") + name;
    WriteText(stderr, "tamrel-cli: " + done + "; failed: " + names + "\n");
    return worst;
}

int Run(int argc, char** argv) {
    Parsed parsed = ParseCommandLine(ProgramArguments(argc, argv));
    if (parsed.status >= 0)
        return parsed.status;
    Options& options = parsed.options;
    const Command* command = options.command.empty() ? nullptr : CommandNamed(options.command);
    if (parsed.help) {
        // "COMMAND --help" describes that command; else the whole program.
        Print(command ? CommandUsageText(*command) : UsageText());
        return kSuccess;
    }
    if (parsed.version) {
        Print(std::string("tamrel-cli ") + TAMREL_VERSION + "\n");
        return kSuccess;
    }
    if (options.command.empty())
        return UsageError("no command given");
    if (!command)
        return UsageError("unknown command '" + options.command + "'");
    std::size_t least = command->least, most = command->most;
    if (command->operandsWith)
        least = most = command->operandsWith(options);
    if (options.arguments.size() < least)
        return UsageError(options.command + ": missing argument");
    if (options.arguments.size() > most)
        return UsageError(options.command + ": too many arguments");
    if (const std::string misplaced = Misplaced(options); !misplaced.empty())
        return UsageError(misplaced);

    // Progress on a terminal, redrawn in place; in a log only when asked.
    // A JSON document is all that stdout carries: no message of success.
    const bool quiet = options.quiet || options.json;
    const ConsoleWindow::Progress progress =
        StandardErrorIsTerminal() ? (quiet && !options.progress ? ConsoleWindow::Progress::None
                                                                : ConsoleWindow::Progress::Line)
        : options.progress        ? ConsoleWindow::Progress::Log
                                  : ConsoleWindow::Progress::None;
    const auto runOne = [&](const Options& one) {
        ConsoleWindow window(stdout, stderr, progress, quiet, options.force);
        try {
            return command->run(one, window);
        } catch (const std::exception& e) {
            window.ReportBoxes(false);
            window.Error(e.what());
            return kFailure;
        }
    };
    const auto runs = command->runs ? command->runs(options)
                                    : std::vector<std::vector<std::string>>{options.arguments};
    if (runs.size() == 1)
        return runOne(options);
    if (options.json)
        return UsageError("--json takes one " + std::string(command->name) + " at a time");
    return RunEach(runs, options, quiet, runOne);
}

}  // namespace tamrel::cli

int main(int argc, char** argv) {
    const int status = tamrel::cli::Run(argc, argv);
    // What was printed must have arrived: a listing cut short by a full disk
    // is no success.
    if (const int error = tamrel::CloseStandardOutput(); error != 0) {
        tamrel::WriteText(
            stderr, std::string("tamrel-cli: write error: ") + tamrel::ErrorText(error) + "\n");
        return tamrel::cli::kFailure;
    }
    return status;
}
