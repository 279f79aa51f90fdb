// tamrel-cli: the window's work from a terminal, for batch work and machines
// without a display: unpack, pack, list, check, export and replace (and
// restore). The very same core runs behind a console host; this file reads
// the command line and hands it to the command's own file.
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
            Print(kUsageText);
            return kSuccess;
        } else if (arg == "--version") {
            Print(std::string("tamrel-cli ") + TAMREL_VERSION + "\n");
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
            if (i + 1 >= args.size())
                return UsageError(arg + " needs a value");
            (arg == "-o"       ? options.outputFolder
             : arg == "--loop" ? options.loop
             : arg == "--from" ? options.from
                               : options.rows) = args[++i];
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

    ConsoleWindow window(stdout, stderr, StandardErrorIsTerminal(), options.quiet, options.force);
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
