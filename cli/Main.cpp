// tamrel-cli: the window's work from a terminal, for batch work and machines
// without a display: unpack, pack, list, check, export and replace (and
// restore). The very same core runs behind a console host; this file reads
// the command line by the tables of commands and options below (the usage
// text is made from them) and hands it to the command's own file.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
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
    // Operands that depend on an option: replace takes one with --from.
    std::size_t (*operandsWith)(const Options& options) = nullptr;
};

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"unpack",
         {{"unpack FILE",
           "unpack the pair of FILE (either file of the pair)\n"
           "into the work folder beside it; stream files there\n"
           "that differ from the pair (your edits) are listed\n"
           "and nothing is written, unless --force is given"}},
         1,
         1,
         RunUnpack},
        {"pack",
         {{"pack FOLDER", "pack the work folder FOLDER into a new pair beside it"},
          {"pack --dry-run FOLDER", "print what pack would do, and write nothing"}},
         1,
         1,
         RunPack},
        {"list",
         {{"list FILE|FOLDER",
           "print the stream table of a pair (nothing is\n"
           "written) or of a work folder"},
          {"list --details FILE|FOLDER",
           "the same with each stream's codec, channels, rate,\n"
           "samples, duration, loop and problems"}},
         1,
         1,
         RunList},
        {"check",
         {{"check FILE [FOLDER]",
           "verify a pair: every stream found, every bank\n"
           "reference consistent; with FOLDER, also that the\n"
           "pair holds exactly what the work folder describes"}},
         1,
         2,
         RunCheck},
        {"export",
         {{"export SOURCE [--rows LIST] [-o DIR]",
           "write streams as WAV files NAME.wav: SOURCE is a pair\n"
           "(read in memory, nothing unpacked) or a work folder;\n"
           "LIST like 2,5-7 (default: every stream); DIR defaults\n"
           "to the work folder (for a pair, the one Unpack would\n"
           "make beside it, created if missing)"}},
         1,
         1,
         RunExport},
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
          {"replace FOLDER --from DIR",
           "replace every stream that an audio file in DIR names\n"
           "(DIR/NAME.wav, .flac, ... for NAME.asf); files whose\n"
           "sound is the stream's own are left unchanged"}},
         3,
         3,
         RunReplace,
         [](const Options& options) -> std::size_t { return options.from ? 1 : 3; }},
        {"restore",
         {{"restore FOLDER ROW", "put the kept original of row ROW's stream back"}},
         2,
         2,
         RunRestore},
    };
    return commands;
}

// An option: its flag or the value it takes, and the commands it goes
// with (none: every command).
struct Option {
    const char* names;  // "-o DIR", "-q, --quiet": as the usage shows them
    const char* help;
    std::vector<std::string> spellings;  // "-q", "--quiet"
    bool Options::*flag = nullptr;
    std::optional<std::string> Options::*value = nullptr;
    std::vector<std::string> commands = {};
};

const std::vector<Option>& OptionTable() {
    static const std::vector<Option> options = {
        {"--tsv", "with list: tab-separated columns", {"--tsv"}, &Options::tsv, nullptr, {"list"}},
        {"--details",
         "with list: what each stream is, read from its header",
         {"--details"},
         &Options::details,
         nullptr,
         {"list"}},
        {"--rows LIST",
         "with export: the rows to export",
         {"--rows"},
         nullptr,
         &Options::rows,
         {"export"}},
        {"--loop START-END",
         "with replace: the new stream's loop, in seconds (12.5)\n"
         "or minutes and seconds (0:12.50) of AUDIOFILE",
         {"--loop"},
         nullptr,
         &Options::loop,
         {"replace"}},
        {"-o DIR",
         "with export: the folder for the WAV files",
         {"-o"},
         nullptr,
         &Options::outputFolder,
         {"export"}},
        {"--dry-run",
         "with pack: write nothing, print the plan",
         {"--dry-run"},
         &Options::dryRun,
         nullptr,
         {"pack"}},
        {"--force",
         "with unpack: replace stream files that differ from the pair;\n"
         "with export: replace WAV files that are there already",
         {"--force"},
         &Options::force,
         nullptr,
         {"unpack", "export"}},
        {"--from DIR",
         "with replace: the folder of audio files to replace streams with",
         {"--from"},
         nullptr,
         &Options::from,
         {"replace"}},
        {"-q, --quiet",
         "print no progress and no messages of success",
         {"-q", "--quiet"},
         &Options::quiet},
    };
    return options;
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

std::string UsageText() {
    std::string text =
        "Usage: tamrel-cli [OPTION]... COMMAND ARGUMENT...\n"
        "Unpack a stream archive (.ast) and its bank (.abk) into a work folder, or\n"
        "pack a work folder into a new pair, as the Tamrel window does.\n"
        "\n"
        "Commands:\n";
    for (const Command& command : Commands())
        for (const Synopsis& synopsis : command.synopses)
            text += Described(synopsis.line, synopsis.help, 25);
    text += "\nOptions:\n";
    for (const Option& option : OptionTable())
        text += Described(option.names, option.help, 17);
    text += Described("-h, --help", "show this help and exit", 17);
    text += Described("    --version", "show the version and exit", 17);
    return text +
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
}

const Option* OptionNamed(const std::string& arg) {
    for (const Option& option : OptionTable())
        for (const std::string& spelling : option.spellings)
            if (spelling == arg)
                return &option;
    return nullptr;
}

bool GivenIn(const Option& option, const Options& options) {
    return option.flag ? options.*option.flag : (options.*option.value).has_value();
}

// "--force goes with unpack and export only", or empty.
std::string Misplaced(const Options& options) {
    for (const Option& option : OptionTable()) {
        const std::vector<std::string>& with = option.commands;
        if (with.empty() || !GivenIn(option, options) ||
            std::find(with.begin(), with.end(), options.command) != with.end())
            continue;
        std::string commands = with.front();
        for (std::size_t i = 1; i < with.size(); ++i)
            commands += (i + 1 == with.size() ? " and " : ", ") + with[i];
        return option.spellings.back() + " goes with " + commands + " only";
    }
    return {};
}

}  // namespace

int Run(int argc, char** argv) {
    const std::vector<std::string> args = ProgramArguments(argc, argv);
    Options options;
    bool optionsEnded = false;
    std::vector<std::string> positional;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            Print(UsageText());
            return kSuccess;
        } else if (arg == "--version") {
            Print(std::string("tamrel-cli ") + TAMREL_VERSION + "\n");
            return kSuccess;
        } else if (const Option* option = OptionNamed(arg); option && option->flag) {
            options.*option->flag = true;
        } else if (option) {
            if (i + 1 >= args.size())
                return UsageError(arg + " needs a value");
            options.*option->value = args[++i];
        } else {
            return UsageError("unknown option '" + arg + "'");
        }
    }
    if (positional.empty())
        return UsageError("no command given");
    options.command = positional.front();
    options.arguments.assign(positional.begin() + 1, positional.end());

    const auto& commands = Commands();
    const auto command = std::find_if(commands.begin(), commands.end(),
                                      [&](const Command& c) { return c.name == options.command; });
    if (command == commands.end())
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
    if (options.from && options.loop)
        return UsageError("--loop goes with the replacement of one stream only");

    ConsoleWindow window(stdout, stderr, StandardErrorIsTerminal(), options.quiet, options.force);
    try {
        return command->run(options, window);
    } catch (const std::exception& e) {
        window.ReportBoxes(false);
        window.Error(e.what());
        return kFailure;
    }
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
