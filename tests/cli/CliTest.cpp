// tamrel-cli as a script sees it: exit status, stdout and stderr.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "PairBuilder.h"
#include "Process.h"
#include "StreamBuilder.h"
#include "TestFiles.h"
#include "Version.h"
#include "audio/Decoder.h"
#include "audio/Encoder.h"
#include "audio/StreamInfo.h"
#include "audio/Wav.h"
#include "io/FileIo.h"

namespace tamrel {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

struct Result {
    int status;
    std::string out, err;
};

class CliTest : public ::testing::Test {
protected:
    CliTest() {
        test::PairRecipe recipe = test::ThreeStreams();
        pair = test::BuildPair(dir.path(), "intro", recipe);
    }
    // Runs the program with stdout and stderr in files: neither is a terminal.
    // With a folder, the program runs there, as after a cd.
    Result Run(const std::string& arguments, const std::string& folder = {}) {
        const test::ProgramResult r =
            test::RunProgram(TAMREL_CLI, arguments, io / "out", io / "err", folder);
        return {r.status, r.out, r.err};
    }
    std::string At(const char* name) const { return dir / name; }

    TempDir dir, io;
    test::Pair pair;
};

TEST_F(CliTest, UnpackThenPackWithTheirTexts) {
    Result r = Run("unpack " + pair.archivePath);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Successfully extracted to " + At("intro_") +
                         "\nintro.abk - intro.ast, Asf count: 3\n");
    EXPECT_EQ(r.err, "");  // no progress when stderr is no terminal
    EXPECT_EQ(ReadFileBytes(At("intro_/intro_00002.asf")), pair.archive.substr(100, 200));

    WriteFileBytes(At("intro_/intro_00002.asf"), test::StreamBytes(9, 250));
    r = Run("pack " + At("intro_") + "/");  // a trailing slash, as shells complete folders
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Successfully saved to " + At("intro_.abk") + "\nand " + At("intro_.ast") + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFileBytes(At("intro_.ast")).size(), 406u);

    r = Run("-q unpack " + At("intro_.ast"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFileBytes(At("intro__/intro__00003.asf")), pair.archive.substr(300));
}

#ifndef _WIN32
// What a command prints must arrive: on a full device every command says
// so and fails, as GNU tools do, instead of ending as a success.
TEST_F(CliTest, OutputThatCannotBeWrittenIsAFailure) {
    ASSERT_EQ(Run("-q unpack " + pair.archivePath).status, 0);
    const std::string work = At("intro_");
    std::vector<std::string> commands = {
        "list --tsv " + work,
        "list --details " + work,
        "list " + pair.archivePath,
        "pack --dry-run " + work,
        "check " + pair.archivePath,
        "unpack --force " + pair.archivePath,
        "--help",
        "--version",
    };
    std::vector<std::string> expected(commands.size(),
                                      "tamrel-cli: write error: No space left on device\n");
#ifdef TAMREL_WINDOW
    // The window program answers these on the terminal, without a window.
    for (const char* option : {"--help", "--version"}) {
        commands.push_back(std::string("WINDOW ") + option);
        expected.push_back("tamrel: write error: No space left on device\n");
    }
#endif
    for (std::size_t i = 0; i < commands.size(); ++i) {
        SCOPED_TRACE(commands[i]);
        std::string command = commands[i];
        std::string program = TAMREL_CLI;
#ifdef TAMREL_WINDOW
        if (command.rfind("WINDOW ", 0) == 0) {
            program = TAMREL_WINDOW;
            command = command.substr(7);
        }
#endif
        const int raw =
            std::system((program + " " + command + " >/dev/full 2>'" + (io / "err") + "'").c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1);
        EXPECT_EQ(ReadFileBytes(io / "err"), expected[i]);
    }
#ifdef TAMREL_WINDOW
    const test::ProgramResult version =
        test::RunProgram(TAMREL_WINDOW, "--version", io / "out", io / "err");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("tamrel ") + TAMREL_VERSION + "\n");
#endif
}
#endif

TEST_F(CliTest, EveryEndWithoutSuccessExitsWithOne) {
    ASSERT_EQ(Run("unpack " + pair.archivePath).status, 0);
    const std::string work = At("intro_");
    const std::string table = ReadFileBytes(work + test::kSep + "intro_.tba");
    struct Case {
        const char* what;
        std::function<void()> setUp;
        std::string arguments, out, err;
    };
    const Case cases[] = {
        {"a file that is not there", [&] {}, "unpack " + At("other.ast"), "",
         "tamrel-cli: File: " + At("other.ast") + " not found.\n"},
        {"a missing bank", [&] { WriteFileBytes(At("lone.ast"), "SCHl"); },
         "list " + At("lone.ast"), "", "tamrel-cli: File: " + At("lone.abk") + " not found.\n"},
        {"a file where pack takes a folder", [&] {}, "pack " + pair.archivePath, "",
         "tamrel-cli: " + pair.archivePath +
             " is a file, not a work folder; pack takes the folder that unpack made of a pair, "
             "here " +
             At("intro_") + ".\n"},
        {"a missing reference",
         [&] {
             std::string bank = pair.bank;
             bank.replace(40, 4, "\x11\x11\x11\x11");
             WriteFileBytes(At("broken.abk"), bank);
             WriteFileBytes(At("broken.ast"), pair.archive);
         },
         "list " + At("broken.ast"), "", "tamrel-cli: Address: 100 not found in abk.\n"},
        {"references too far apart",
         [&] {
             std::string bank(600, '\x11');
             bank.replace(40, 4, test::LittleEndian(100));
             bank.replace(500, 4, test::LittleEndian(300));
             WriteFileBytes(At("apart.abk"), bank);
             WriteFileBytes(At("apart.ast"), pair.archive);
         },
         "unpack " + At("apart.abk"), "",
         "tamrel-cli: Some addresses not correctly found in abk.\n"},
        {"a missing stream file, with -q too",
         [&] { std::remove((work + test::kSep + "intro_00003.asf").c_str()); }, "-q pack " + work,
         "", "tamrel-cli: File not found " + work + test::kSep + "intro_00003.asf\n"},
        {"an unreadable Abk Pos while a stream grows",
         [&] {
             WriteFileBytes(work + test::kSep + "intro_00003.asf", pair.archive.substr(300));
             WriteFileBytes(work + test::kSep + "intro_.tba",
                            table.substr(0, table.find("4,3,120")) + "4,3,\r\n" +
                                table.substr(table.find("11,3,")));
             WriteFileBytes(work + test::kSep + "intro_00002.asf", test::StreamBytes(9, 250));
         },
         "pack " + work, "", "tamrel-cli: Alarm! Int error.\n"},
        {"an empty bank image", [&] { WriteFileBytes(work + test::kSep + "intro_.ida", ""); },
         "pack " + work, "",
         "tamrel-cli: nothing was written: the bank image " + work + test::kSep +
             "intro_.ida holds no bytes\n"},
        {"a folder without a table file", [&] {}, "pack " + dir.path(), "",
         "tamrel-cli: Resource files not found in " + dir.path() + "\n"},
        {"edited stream files without --force",
         [&] {
             WriteFileBytes(work + test::kSep + "intro_00003.asf", pair.archive.substr(300));
             WriteFileBytes(work + test::kSep + "intro_.tba", table);
             WriteFileBytes(work + test::kSep + "intro_.ida", pair.bank);
             WriteFileBytes(work + test::kSep + "intro_00002.asf", "edited");
         },
         "-q unpack " + pair.archivePath, "",
         "tamrel-cli: the work folder " + work + " holds 1 stream file that differs from " +
             pair.archivePath +
             ":\n  intro_00002.asf\ntamrel-cli: nothing was written; --force "
             "replaces them\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.setUp();
        const Result r = Run(c.arguments);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_FALSE(IsExistingFile(At("intro_.ast")));
    EXPECT_EQ(ReadFileBytes(work + test::kSep + "intro_00002.asf"), "edited");
    const Result forced = Run("-q unpack --force " + pair.archivePath);
    EXPECT_EQ(forced.status, 0);
    EXPECT_EQ(forced.err, "");
    EXPECT_EQ(ReadFileBytes(work + test::kSep + "intro_00002.asf"), pair.archive.substr(100, 200));
}

TEST_F(CliTest, PathsAreTakenAsTheUserTypesThem) {
    ASSERT_EQ(Run("-q unpack " + pair.archivePath).status, 0);
    WriteFileBytes(At("intro_/intro_00002.asf"), test::StreamBytes(9, 250));
    const std::string work = At("intro_");
    struct Case {
        std::string cd, arguments;
    };
    const Case cases[] = {
        {work, "pack ."},
        {dir.path(), "pack intro_/."},
        {work + test::kSep + "..", "pack ./intro_//"},
        {work, "pack ../intro_/../intro_"},
    };
    for (const auto& c : cases) {
        const Result r = Run(c.arguments, c.cd);
        EXPECT_EQ(r.status, 0) << c.arguments << r.err;
        EXPECT_EQ(r.out,
                  "Successfully saved to " + At("intro_.abk") + "\nand " + At("intro_.ast") + "\n")
            << c.arguments;
    }
    const Result listed = Run("list --tsv " + work + test::kSep + "../intro_/");
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out.substr(0, 4), "#\tNa");
}

TEST_F(CliTest, UsageErrorsExitWithTwoAndHelpWithZero) {
    for (const char* arguments :
         {"", "frobnicate x", "unpack", "list a b", "--bogus list x", "pack --tsv x",
          "list --dry-run x", "restore x", "loop x 1 2 3", "pack --force x"}) {
        const Result r = Run(arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.out, "") << arguments;
        EXPECT_NE(r.err.find("Try 'tamrel-cli --help'"), std::string::npos) << arguments;
    }
    Result r = Run("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: tamrel-cli", 0), 0u);
    EXPECT_EQ(r.err, "");
    r = Run("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "tamrel-cli 1.1\n");
}

// The usage is made from the tables of commands and options: the manual
// page must name every command and every option it lists.
TEST_F(CliTest, TheManualNamesEveryCommandAndOption) {
    const std::string usage = Run("--help").out;
    const std::string manual = test::ReadFileBytes(TAMREL_MANUAL);
    std::istringstream lines(usage);
    std::string line, section;
    std::vector<std::string> commands, options;
    while (std::getline(lines, line)) {
        if (line == "Commands:" || line.rfind("Options", 0) == 0)
            section = line.substr(0, line.find_first_of(" :")) + ":";
        else if (line.empty())
            section.clear();
        else if (section == "Commands:" && line.rfind("  ", 0) == 0 && line[2] != ' ')
            commands.push_back(line.substr(2, line.find(' ', 2) - 2));
        else if (section == "Options:")
            for (std::istringstream words(line); words >> line && line[0] == '-';)
                options.push_back(line.substr(0, line.find_first_of(",=")));
    }
    EXPECT_GE(commands.size(), 7u);
    EXPECT_GE(options.size(), 12u);
    // The manual writes each minus as "\-".
    auto roff = [](const std::string& text) {
        std::string out;
        for (const char c : text)
            out += c == '-' ? std::string("\\-") : std::string(1, c);
        return out;
    };
    for (const std::string& command : commands)
        EXPECT_NE(manual.find(".BI \"" + command + " "), std::string::npos) << command;
    const std::string optionsPart = manual.substr(manual.find(".SH OPTIONS"));
    for (const std::string& option : options)
        EXPECT_NE(optionsPart.find(roff(option)), std::string::npos) << option;
}

// Each command's own help: its synopsis, its options and an example, by
// "help COMMAND" and by "COMMAND --help" alike.
TEST_F(CliTest, EachCommandHasItsOwnHelp) {
    const Result help = Run("help replace");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: tamrel-cli replace FOLDER ROW AUDIOFILE", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--loop=START-END"), std::string::npos);
    EXPECT_NE(help.out.find("--from=DIR"), std::string::npos);
    EXPECT_EQ(help.out.find("--tsv"), std::string::npos);  // list's, not replace's
    EXPECT_NE(help.out.find("Example:\n  tamrel-cli replace "), std::string::npos);
    EXPECT_EQ(Run("replace --help").out, help.out);
    EXPECT_EQ(Run("help").out, Run("--help").out);
    const Result unknown = Run("help frobnicate");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.out, "");
}

#ifndef _WIN32
// The bash completion, sourced in bash and asked as bash asks it: the
// commands, every option the usage lists, and each command's operands.
TEST_F(CliTest, BashCompletesCommandsOptionsAndOperands) {
    TempDir work;
    for (const char* folder : {"music_", "other"})
        std::filesystem::create_directory(work / folder);
    for (const char* file : {"a.ast", "b.ABK", "c.txt", "song.flac", "x.wav"})
        WriteFileBytes(work / file, "");
    // Each case: the words typed (the last one being completed) and what is offered.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"un", "unpack"},
        {"unpack ''", "a.ast b.ABK music_ other"},
        {"list --tsv ''", "a.ast b.ABK music_ other"},
        {"pack ''", "music_"},
        {"pack music_ ''", "music_"},
        {"check a.ast ''", "a.ast b.ABK music_ other"},
        {"replace music_ 2 ''", "music_ other song.flac x.wav"},
        {"replace music_ ''", ""},
        {"export a.ast -o ''", "music_ other"},
        {"export a.ast --output=o", "--output=other"},
        {"--de", "--details"},
        {"list --ro", "--rows="},
        {"help re", "replace restore"},
        {"loop ''", "music_"},
        {"loop music_ 2 --o", "--off --output="},
        {"list -- --t", ""},
    };
    for (const auto& [typed, offered] : cases) {
        const std::string script = "source '" + std::string(TAMREL_COMPLETION) +
                                   "'; COMP_WORDS=(tamrel-cli " + typed +
                                   "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _tamrel_cli; "
                                   "printf '%s\\n' \"${COMPREPLY[@]}\" | sort | tr '\\n' ' '";
        WriteFileBytes(io / "complete.sh", script);
        const test::ProgramResult r =
            test::RunProgram("/bin/bash", io / "complete.sh", io / "out", io / "err", work.path());
        std::string got = r.out;
        while (!got.empty() && got.back() == ' ')
            got.pop_back();
        EXPECT_EQ(got, offered) << typed << "\n" << r.err;
    }
    // Every option of the usage is offered after "-".
    const std::string usage = Run("--help").out;
    WriteFileBytes(io / "complete.sh",
                   "source '" + std::string(TAMREL_COMPLETION) +
                       "'; COMP_WORDS=(tamrel-cli -); COMP_CWORD=1; _tamrel_cli; "
                       "printf '%s\\n' \"${COMPREPLY[@]}\"");
    const std::string offered =
        test::RunProgram("/bin/bash", io / "complete.sh", io / "out", io / "err", work.path()).out;
    std::istringstream lines(usage.substr(usage.find("\nOptions")));
    for (std::string line; std::getline(lines, line);)
        for (std::istringstream words(line); words >> line && line[0] == '-';) {
            const std::string option = line.substr(0, line.find_first_of(",="));
            const std::string asOffered =
                line.find('=') != std::string::npos ? option + "=" : option;
            EXPECT_NE(("\n" + offered).find("\n" + asOffered + "\n"), std::string::npos) << option;
        }
}
#endif

TEST_F(CliTest, ListAPairWithoutWritingAndAFolderFromItsTableFile) {
    Result r = Run("list " + pair.bankPath);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "#  Name             Ast Addr  Abk Pos  Asf Size\n"
              "1  intro_00001.asf         0        0       100\n"
              "2  intro_00002.asf       100       40       200\n"
              "3  intro_00003.asf       300      120        50\n"
              "intro.abk - intro.ast, Asf count: 3\n");
    EXPECT_EQ(dir.Listing(), "intro.abk\nintro.ast\n");

    ASSERT_EQ(Run("unpack " + pair.archivePath).status, 0);
    // A work folder's listing adds each stream file's size on disk.
    r = Run("list --tsv " + At("intro_"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "#\tName\tAst Addr\tAbk Pos\tAsf Size\tFile Size\n"
              "1\tintro_00001.asf\t0\t0\t100\t100\n"
              "2\tintro_00002.asf\t100\t40\t200\t200\n"
              "3\tintro_00003.asf\t300\t120\t50\t50\n");
}

TEST_F(CliTest, DryRunPrintsThePlanAndWritesNothing) {
    ASSERT_EQ(Run("unpack " + pair.archivePath).status, 0);
    WriteFileBytes(At("intro_/intro_00002.asf"), test::StreamBytes(9, 250));
    const std::string before =
        dir.Listing() + TempDir::ListingOf(At("intro_")) + ReadFileBytes(At("intro_/intro_.tba"));
    const Result r = Run("pack --dry-run " + At("intro_"));
    EXPECT_EQ(r.status, 0);
    // Each stream's line as words: row, file, old and new size, padding,
    // old and new address, and the bank references it patches.
    std::vector<std::vector<std::string>> lines;
    std::istringstream text(r.out);
    for (std::string line; std::getline(text, line);) {
        std::istringstream words(line);
        lines.emplace_back(std::istream_iterator<std::string>(words),
                           std::istream_iterator<std::string>());
    }
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[2],
              (std::vector<std::string>{"2", "intro_00002.asf", "200", "256", "6", "100", "100"}));
    EXPECT_EQ(lines[3], (std::vector<std::string>{"3", "intro_00003.asf", "50", "50", "0", "300",
                                                  "356", "120:", "300", "->", "356"}));
    EXPECT_NE(r.out.find("New archive: 406 bytes\n"), std::string::npos);
    EXPECT_EQ(
        dir.Listing() + TempDir::ListingOf(At("intro_")) + ReadFileBytes(At("intro_/intro_.tba")),
        before);
}

TEST_F(CliTest, CheckVerifiesAPackedPairAgainstItsFolder) {
    ASSERT_EQ(Run("unpack " + pair.archivePath).status, 0);
    Result r = Run("check " + pair.archivePath);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "OK: 3 streams found, every bank reference consistent\n");

    WriteFileBytes(At("intro_/intro_00002.asf"), test::StreamBytes(9, 250));
    ASSERT_EQ(Run("pack " + At("intro_")).status, 0);
    r = Run("check " + At("intro_.ast") + " " + At("intro_"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "OK: 3 streams; addresses, bank positions and bytes match " + At("intro_") + "\n");

    // One byte of stream 3 changed in the new archive, and a stale table file.
    std::string archive = ReadFileBytes(At("intro_.ast"));
    archive[360] ^= 1;
    WriteFileBytes(At("intro_.ast"), archive);
    r = Run("check " + At("intro_.ast") + " " + At("intro_"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "stream 3: its bytes differ from " + At("intro_/intro_00003.asf") +
                         "\nFAILED: 1 mismatch between the pair of " + At("intro_.ast") + " and " +
                         At("intro_") + "\n");
    r = Run("check " + pair.archivePath + " " + At("intro_"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("stream 3: Ast Addr is 300 in the pair, 356 in the table file\n"),
              std::string::npos)
        << r.out;

    // A Pack of the folder left pending: said once, though both the pair
    // and the folder lead to it.
    WriteFileBytes(At("intro_/.tamrel-commit"), "tamrel commit record 1\nby Pack\nend\n");
    r = Run("check " + At("intro_.ast") + " " + At("intro_"));
    EXPECT_EQ(r.err, "tamrel-cli: An interrupted Pack of " + At("intro_") +
                         " is pending; the next command that writes the folder completes it.\n");
}

}  // namespace
}  // namespace tamrel

namespace tamrel {
namespace {

// Why ATRAC3plus is neither played nor replaced, as every command says it.
const std::string kAtracWhy =
    "only one large library decodes it and no open encoder exists, so this program can neither "
    "play nor replace it; its bytes are kept as they are";

// A pair of real streams: PCM16 LE stereo with a loop, R2 mono, ATRAC3plus.
class CliSoundTest : public CliTest {
protected:
    CliSoundTest() {
        test::PairRecipe recipe;
        recipe.streams = test::ThreeKindsOfStreams();
        recipe.references = {40, 120};
        pair = test::BuildPair(dir.path(), "music", recipe);
    }
};

// Options as GNU tools take them: anywhere, "--" ending them, a value after
// "=" or joined to a short option, joined short options, and any beginning
// of a long option that names only it.
TEST_F(CliSoundTest, OptionsAreReadAsGetoptLongReadsThem) {
    ASSERT_EQ(Run("unpack " + pair.archivePath).status, 0);
    const std::string folder = At("music_");
    const std::string tsv = Run("list --tsv " + folder).out;
    ASSERT_NE(tsv.find("#\tName"), std::string::npos);
    for (const std::string& line : {"--tsv list " + folder, "list " + folder + " --tsv",
                                    "list --ts " + folder, "-q list --tsv " + folder}) {
        const Result r = Run(line);
        EXPECT_EQ(r.status, 0) << line;
        EXPECT_EQ(r.out, tsv) << line;
    }
    // Values: "=", apart, joined to a short option; short options joined.
    const std::vector<std::pair<std::string, std::string>> exports = {
        {"export " + folder + " --rows=2 --output=" + At("a"), "a"},
        {"export " + folder + " --rows 2 -o " + At("b"), "b"},
        {"export -qo" + At("c") + " --row=2 " + folder, "c"},
        {"export " + folder + " --rows=2 -qfo" + At("c"), "c"},  // again: -f replaces it
    };
    for (const auto& [line, out] : exports) {
        const Result r = Run(line);
        EXPECT_EQ(r.status, 0) << line << r.err;
        EXPECT_EQ(TempDir::ListingOf(At(out.c_str())), "music_00002.wav\n") << line;
    }
    // "--" ends the options: what follows is an operand, even "--tsv".
    Result r = Run("list -- --tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--tsv not found"), std::string::npos) << r.err;
    // Errors in the program's own words, with status 2.
    for (const auto& [line, said] : std::vector<std::pair<std::string, std::string>>{
             {"list --d " + folder, "option '--d' is ambiguous: --details, --dry-run"},
             {"list --bogus " + folder, "unknown option '--bogus'"},
             {"list -z " + folder, "unknown option '-z'"},
             {"export " + folder + " --rows", "--rows needs a value"},
             {"pack --tsv " + folder, "--tsv goes with list only"},
             {"unpack --json " + pair.archivePath, "--json goes with list, check and pack only"},
             {"pack --json " + folder, "--json goes with pack --dry-run only"},
         }) {
        r = Run(line);
        EXPECT_EQ(r.status, 2) << line;
        EXPECT_EQ(r.err.rfind("tamrel-cli: " + said, 0), 0u) << line << "\n" << r.err;
    }
}

TEST_F(CliSoundTest, ListDetailsSaysWhatEachStreamIs) {
    Result r = Run("list --details " + pair.archivePath);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string second = std::to_string(pair.addresses[1]);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "#  Name             Ast Addr  Abk Pos  Asf Size  Codec        Channels   Rate  "
              "Samples  Duration  Loop   Problems");
    EXPECT_NE(r.out.find("  PCM16 LE            2  32000      100   0:00.00  5-100\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  XA ADPCM R2         1  22050       28   0:00.00\n"), std::string::npos)
        << r.out;
    EXPECT_NE(
        r.out.find("  ATRAC3plus          1  22050       28   0:00.00         " + kAtracWhy + "\n"),
        std::string::npos)
        << r.out;

    ASSERT_EQ(Run("-q unpack " + pair.archivePath).status, 0);
    r = Run("list --details --tsv " + At("music_"));
    EXPECT_EQ(r.status, 0);
    const std::string sizes[] = {std::to_string(pair.addresses[1]),
                                 std::to_string(pair.addresses[2] - pair.addresses[1]),
                                 std::to_string(pair.archive.size() - pair.addresses[2])};
    EXPECT_EQ(r.out,
              "#\tName\tAst Addr\tAbk Pos\tAsf Size\tFile Size\tCodec\tChannels\tRate\tSamples\t"
              "Duration\tLoop Start\tLoop End\tProblems\n"
              "1\tmusic_00001.asf\t0\t0\t" +
                  sizes[0] + "\t" + sizes[0] +
                  "\tPCM16 LE\t2\t32000\t100\t0.003\t5\t100\t\n"
                  "2\tmusic_00002.asf\t" +
                  second + "\t40\t" + sizes[1] + "\t" + sizes[1] +
                  "\tXA ADPCM R2\t1\t22050\t28\t0.001\t\t\t\n"
                  "3\tmusic_00003.asf\t" +
                  std::to_string(pair.addresses[2]) + "\t120\t" + sizes[2] + "\t" + sizes[2] +
                  "\tATRAC3plus\t1\t22050\t28\t0.001\t\t\t" + kAtracWhy + "\n");
}

// A row that names a file outside the work folder: list, export and check
// refuse that row alike and go on with the others.
TEST_F(CliSoundTest, ARowNamingAFileOutsideTheFolderIsThatRowsProblem) {
    ASSERT_EQ(Run("-q unpack " + pair.archivePath).status, 0);
    WriteFileBytes(At("outside.asf"), ReadFileBytes(At("music_/music_00001.asf")));
    const std::string table = At("music_/music_.tba");
    std::string text = ReadFileBytes(table);
    text.replace(text.find("music_00001.asf"), 15, "../outside.asf");
    WriteFileBytes(table, text);
    const std::string why =
        "the table names ../outside.asf, which is not a file of the work folder";

    Result r = Run("list --details --tsv " + At("music_"));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("1\t../outside.asf\t0\t0\t" + std::to_string(pair.addresses[1]) +
                         "\t\t\t\t\t\t\t\t\t" + why + "\n"),
              std::string::npos)
        << r.out;
    r = Run("export " + At("music_") + " --rows 1,2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tamrel-cli: The stream ../outside.asf is skipped: " + why + ".\n");
    EXPECT_EQ(dir.ListingOf(At("music_")).find("outside"), std::string::npos);
    EXPECT_NE(dir.ListingOf(At("music_")).find("music_00002.wav"), std::string::npos);
    r = Run("check " + pair.archivePath + " " + At("music_"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("stream 1: " + why + "\n"), std::string::npos) << r.out;
}

TEST_F(CliSoundTest, ExportWritesWavFilesAndSkipsWhatItCannotDecode) {
    Result r = Run("export " + pair.archivePath);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tamrel-cli: The stream music_00003.asf is ATRAC3plus: " + kAtracWhy + ".\n");
    EXPECT_EQ(r.out, "Exported 2 of 3 streams as WAV files to " + At("music_") + "\n");
    EXPECT_EQ(dir.ListingOf(At("music_")), "music_00001.wav\nmusic_00002.wav\n");
    const std::string wav = ReadFileBytes(At("music_/music_00001.wav"));
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(wav.substr(44, 4), std::string("\0\0\7\1", 4));  // the first samples as put in

    r = Run("-q export " + pair.archivePath + " --rows 2 -o " + At("out"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.ListingOf(At("out")), "music_00002.wav\n");
    for (const char* rows : {"0", "4", "3-1", "1,,2", "x"}) {
        r = Run("export " + pair.archivePath + " --rows " + rows);
        EXPECT_EQ(r.status, 2) << rows;
        EXPECT_NE(r.err.find("--rows"), std::string::npos) << rows;
    }
}

}  // namespace
}  // namespace tamrel

namespace tamrel {
namespace {

TEST_F(CliSoundTest, ReplaceThenPackThenRestore) {
    ASSERT_EQ(Run("-q unpack " + pair.archivePath).status, 0);
    std::vector<std::int16_t> song;
    for (int i = 0; i < 4000; ++i)
        song.push_back(
            static_cast<std::int16_t>(static_cast<unsigned char>(i * 13) | ((i / 40) % 50) << 8));
    WriteFileBytes(At("song.wav"), WavBytes(song, 1, 22050, std::nullopt));
    Result r = Run("replace " + At("music_") + " 2 " + At("song.wav"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Replaced music_00002.asf: ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" bytes, 0:00.18 now\n"), std::string::npos) << r.out;
    ASSERT_EQ(Run("-q pack " + At("music_")).status, 0);
    r = Run("list --details --tsv " + At("music_.ast"));
    EXPECT_NE(r.out.find("\tXA ADPCM R2\t1\t22050\t4000\t0.181\t"), std::string::npos) << r.out;

    r = Run("replace " + At("music_") + " 3 " + At("song.wav"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tamrel-cli: The stream music_00003.asf is ATRAC3plus: " + kAtracWhy + ".\n");
    EXPECT_EQ(Run("replace " + At("music_") + " 4 " + At("song.wav")).status, 2);
    r = Run("restore " + At("music_") + " 2");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Restored the original of music_00002.asf\n");
    EXPECT_EQ(Run("restore " + At("music_") + " 2").status, 1);
}

// loop sets a loop in the header alone, in times or samples, and removes it;
// what it cannot do it says, and usage errors exit with 2.
TEST_F(CliSoundTest, LoopSetsAndRemovesALoopInPlace) {
    ASSERT_EQ(Run("-q unpack " + pair.archivePath).status, 0);
    const std::string folder = At("music_");
    const struct {
        std::string arguments;
        int status;
        std::string out, err;
    } cases[] = {
        {"loop " + folder + " 1 --samples 10-60", 0,
         "Now music_00001.asf loops over samples 10-60\n", ""},
        {"loop " + folder + " 1 0.0005-0:00.0025", 0,
         "Now music_00001.asf loops over samples 16-80\n", ""},
        {"loop --samples=16-80 " + folder + " 1", 0,
         "music_00001.asf unchanged: it loops over samples 16-80 already\n", ""},
        {"loop " + folder + " 1 --off", 0, "Now music_00001.asf does not loop\n", ""},
        {"loop " + folder + " 1 --samples 10-101", 1, "",
         "tamrel-cli: The loop 10-101 does not lie inside the 100 samples of music_00001.asf.\n"},
        {"loop " + folder + " 1", 2, "",
         "tamrel-cli: loop takes one of START-END, --samples S-E and --off\n"},
        {"loop " + folder + " 1 5-9 --off", 2, "",
         "tamrel-cli: loop takes one of START-END, --samples S-E and --off\n"},
        {"loop " + folder + " 1 --samples 9-5", 2, "",
         "tamrel-cli: --samples: '9-5' is no loop of samples like 5-1000\n"},
        {"loop " + folder + " 1 ab", 2, "",
         "tamrel-cli: START-END: 'ab' is no loop like 12.5-80 or 0:12.50-1:20.00\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Result r = Run(c.arguments);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        if (c.status == 2)
            EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
        else
            EXPECT_EQ(r.err, c.err);
    }
    const Result details = Run("list --details --tsv " + folder);
    EXPECT_NE(details.out.find("music_00001.asf"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(folder + "/music_00001.asf.orig"));
}

// replace --dry-run encodes and decodes in memory, says how it came out, and
// writes nothing (no lock taken, no original kept).
TEST_F(CliSoundTest, ReplaceDryRunSaysTheQualityAndWritesNothing) {
    ASSERT_EQ(Run("-q unpack " + pair.archivePath).status, 0);
    std::vector<std::int16_t> song;
    for (int i = 0; i < 8000; ++i)
        song.push_back(static_cast<std::int16_t>(6000 * std::sin(i * 0.05)));
    WriteFileBytes(At("song.wav"), WavBytes(song, 1, 22050, std::nullopt));
    const std::string before = TempDir::ListingOf(At("music_"));
    const Result r = Run("-q replace --dry-run " + At("music_") + " 2 " + At("song.wav"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Would replace music_00002.asf: ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" bytes, 0:00.36 now; nothing was written\nDecoded back: "),
              std::string::npos)
        << r.out;
    const std::size_t db = r.out.find("Decoded back: ") + 14;
    EXPECT_GT(std::stod(r.out.substr(db)), 25.0) << r.out;  // XA ADPCM on a plain tone
    EXPECT_NE(r.out.find(" dB SNR against the converted audio, peak difference "),
              std::string::npos);
    EXPECT_EQ(TempDir::ListingOf(At("music_")), before);
    EXPECT_EQ(Run("replace -n " + At("music_") + " --from " + At("music_")).status, 2);
}

// Many at once: unpack, pack, check and export take several operands, each
// its own run with a summary, 0 only when all succeeded; restore takes
// --rows and --all under one lock, a line per stream and a summary.
TEST_F(CliSoundTest, ManyAtOnce) {
    test::PairRecipe recipe;
    recipe.streams = test::ThreeKindsOfStreams();
    recipe.references = {40, 120};
    const test::Pair second = test::BuildPair(dir.path(), "voice", recipe);
    Result r = Run("unpack " + pair.archivePath + " " + second.bankPath);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.size() - 18), "2 of 2 succeeded.\n") << r.out;
    r = Run("-q pack " + At("music_") + " " + At("voice_"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    r = Run("-q check " + At("music_.ast") + " " + At("voice_.abk"));
    EXPECT_EQ(r.status, 0) << r.err;
    r = Run("-q check " + At("music_.ast") + " " + At("music_"));  // a pair and its folder: one run
    EXPECT_EQ(r.status, 0) << r.err;
    r = Run("-q export " + At("music_") + " " + At("missing.ast") + " " + At("voice_") +
            " --rows 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(r.err.find("tamrel-cli: 2 of 3")),
              "tamrel-cli: 2 of 3 succeeded; failed: " + At("missing.ast") + "\n");
    EXPECT_TRUE(std::filesystem::exists(At("voice_/voice_00001.wav")));
    EXPECT_EQ(Run("--json check " + At("music_.ast") + " " + At("voice_.ast")).status, 2);

    // Two replaced streams, then all their originals back at once.
    WriteFileBytes(At("song.wav"),
                   WavBytes(std::vector<std::int16_t>(3000, 700), 1, 22050, std::nullopt));
    const std::string first = ReadFileBytes(At("music_/music_00001.asf"));
    for (const char* row : {"1", "2"})
        ASSERT_EQ(Run("-q replace " + At("music_") + " " + row + " " + At("song.wav")).status, 0);
    r = Run("restore " + At("music_") + " --rows 2-3");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Restored the original of music_00002.asf\nRestored 1 stream, 1 failed.\n");
    EXPECT_EQ(r.err, "tamrel-cli: music_00003.asf: no original of it is kept\n");
    r = Run("restore --all " + At("music_"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Restored the original of music_00001.asf\nRestored 1 stream.\n");
    EXPECT_EQ(ReadFileBytes(At("music_/music_00001.asf")), first);
    EXPECT_EQ(Run("restore --all --rows 1 " + At("music_")).status, 2);
    EXPECT_EQ(Run("restore " + At("music_") + " 1 --all").status, 2);
}

// list, check and pack --dry-run as one JSON document each, read back with a
// real JSON parser: numbers as numbers, problems as an array, a replaced
// stream's size on disk beside the table's.
TEST_F(CliSoundTest, JsonDocumentsOfListCheckAndPlan) {
    ASSERT_EQ(Run("-q unpack " + pair.archivePath).status, 0);
    std::vector<std::int16_t> song(4000);
    for (std::size_t i = 0; i < song.size(); ++i)
        song[i] = static_cast<std::int16_t>((i * 37) % 4000 - 2000);
    WriteFileBytes(At("song.wav"), WavBytes(song, 1, 22050, std::nullopt));
    ASSERT_EQ(Run("-q replace " + At("music_") + " 2 " + At("song.wav")).status, 0);
    const std::int64_t onDisk =
        static_cast<std::int64_t>(ReadFileBytes(At("music_/music_00002.asf")).size());

    Result r = Run("list --json --details " + At("music_"));
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json list = nlohmann::json::parse(r.out);
    EXPECT_EQ(list["kind"], "folder");
    ASSERT_EQ(list["streams"].size(), 3u);
    const nlohmann::json& first = list["streams"][0];
    EXPECT_EQ(first["row"], 1);
    EXPECT_EQ(first["name"], "music_00001.asf");
    EXPECT_EQ(first["codec"], "PCM16 LE");
    EXPECT_EQ(first["channels"], 2);
    EXPECT_EQ(first["rate"], 32000);
    EXPECT_EQ(first["samples"], 100);
    EXPECT_EQ(first["loop"], (nlohmann::json{{"start", 5}, {"end", 100}}));
    EXPECT_EQ(first["changed"], false);
    EXPECT_TRUE(first["problems"].is_array() && first["problems"].empty());
    const nlohmann::json& replaced = list["streams"][1];
    EXPECT_EQ(replaced["size"], pair.addresses[2] - pair.addresses[1]);
    EXPECT_EQ(replaced["fileSize"], onDisk);
    EXPECT_EQ(replaced["changed"], true);
    EXPECT_EQ(replaced["samples"], 4000);
    EXPECT_NEAR(replaced["duration"].get<double>(), 4000.0 / 22050, 1e-9);
    EXPECT_EQ(list["streams"][2]["problems"], (nlohmann::json::array({kAtracWhy})));
    // The text shows the size on disk where it is not the table's, marked.
    r = Run("list " + At("music_"));
    EXPECT_NE(r.out.find("  " + std::to_string(onDisk) + "*\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n* the stream file's size on disk"), std::string::npos) << r.out;

    r = Run("pack --dry-run --json " + At("music_"));
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json plan = nlohmann::json::parse(r.out);
    ASSERT_EQ(plan["streams"].size(), 3u);
    EXPECT_EQ(plan["streams"][1]["oldSize"], pair.addresses[2] - pair.addresses[1]);
    EXPECT_GE(plan["streams"][1]["newSize"].get<std::int64_t>(), onDisk);
    EXPECT_EQ(plan["streams"][2]["patch"]["position"], 120);
    EXPECT_EQ(plan["streams"][0]["patch"], nullptr);
    EXPECT_GT(plan["archiveSize"].get<std::int64_t>(), 0);

    ASSERT_EQ(Run("-q pack " + At("music_")).status, 0);
    r = Run("check --json " + At("music_.ast") + " " + At("music_"));
    EXPECT_EQ(r.status, 0) << r.err;
    const nlohmann::json check = nlohmann::json::parse(r.out);
    EXPECT_EQ(check["ok"], true);
    EXPECT_EQ(check["streams"], 3);
    EXPECT_TRUE(check["mismatches"].empty());
    WriteFileBytes(At("music_/music_00001.asf"), "changed");
    r = Run("check --json " + At("music_.ast") + " " + At("music_"));
    EXPECT_EQ(r.status, 1);
    const nlohmann::json failed = nlohmann::json::parse(r.out);
    EXPECT_EQ(failed["ok"], false);
    EXPECT_FALSE(failed["mismatches"].empty());
}

// --progress puts the progress into a log: a line per step at most every
// second, in units a user knows, that never goes back, and each step's
// last line where it ended.
TEST_F(CliSoundTest, ProgressInALogSaysTheStepAndNeverGoesBack) {
    Result r = Run("-q --progress unpack " + pair.archivePath);
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::vector<std::string>> steps;
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);)
        steps[line.substr(0, line.find(':'))].push_back(line);
    for (const char* step : {"Reading", "Listing streams", "Writing streams"})
        ASSERT_TRUE(steps.count(step)) << step << "\n" << r.err;
    EXPECT_EQ(steps["Writing streams"].back(), "Writing streams: 3 of 3 streams (100%)");
    EXPECT_EQ(steps["Listing streams"].back(), "Listing streams: 3 of 3 streams (100%)");
    EXPECT_EQ(steps["Reading"].back(), "Reading: 0 of 0 MiB (100%)");
    for (const auto& [step, said] : steps) {
        long long before = -1;
        for (const std::string& line : said) {
            const long long done = std::stoll(line.substr(line.find(':') + 2));
            EXPECT_GE(done, before) << line;
            before = done;
        }
    }

    std::vector<std::int16_t> song(22050 * 2);
    for (std::size_t i = 0; i < song.size(); ++i)
        song[i] = static_cast<std::int16_t>((i * 37) % 4000 - 2000);
    WriteFileBytes(At("song.wav"), WavBytes(song, 1, 22050, std::nullopt));
    r = Run("--progress replace " + At("music_") + " 2 " + At("song.wav"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Encoding: 0:02 / 0:02 of audio (100%)\n"), std::string::npos) << r.err;
    // Without --progress a log gets nothing.
    r = Run("pack " + At("music_"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST_F(CliSoundTest, EveryReaderRefusesAHostileSizeLine) {
    ASSERT_EQ(Run("-q unpack " + pair.archivePath).status, 0);
    WriteFileBytes(At("song.wav"), WavBytes(std::vector<std::int16_t>(3000, 5), 1, 22050, {}));
    const std::string table = At("music_/music_.tba");
    WriteFileBytes(table, "17,2147483647\r\n");
    const std::string listing = TempDir::ListingOf(At("music_"));
    for (const std::string command :
         {"list ", "list --details ", "export ", "replace %s 1 song.wav", "restore %s 1"}) {
        SCOPED_TRACE(command);
        std::string arguments = command;
        if (const auto at = arguments.find("%s"); at != std::string::npos)
            arguments.replace(at, 2, At("music_"));
        else
            arguments += At("music_");
        const Result r = Run(arguments, dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "tamrel-cli: The table file " + table +
                             " cannot be read: its size line declares 2147483647 rows and 17 "
                             "columns, more than its 1 lines can hold.\n");
        EXPECT_EQ(TempDir::ListingOf(At("music_")), listing);
    }
    // A folder for the WAV files that cannot be made says why.
    WriteFileBytes(At("plain"), "a file");
    const Result r = Run("export " + pair.archivePath + " -o " + At("plain/wav"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "tamrel-cli: Cannot create the folder " + At("plain/wav") + ": Not a directory\n");
}

// The round trip of a translation: export every stream, edit two, put the
// folder back. Exactly the edited streams change.
TEST_F(CliTest, ReplaceFromAFolderChangesExactlyTheEditedStreams) {
    auto tone = [](int channels, int rate, double hz, double seconds) {
        std::vector<std::int16_t> out;
        for (int i = 0; i < static_cast<int>(rate * seconds); ++i)
            for (int c = 0; c < channels; ++c)
                out.push_back(
                    static_cast<std::int16_t>(9000 * std::sin(6.283185307 * hz * i / rate + c) +
                                              3000 * std::sin(6.283185307 * hz * 2.5 * i / rate)));
        return out;
    };
    // PCM stereo, XA ADPCM R2 mono, XA ADPCM v1 stereo, ATRAC3plus (no decoder).
    auto encoded = [](int platform, std::vector<test::Tag> tags, int channels, int rate,
                      const std::vector<std::int16_t>& samples) {
        test::StreamParts parts;
        parts.platform = platform;
        parts.tags = std::move(tags);
        parts.tags.push_back({0x82, static_cast<std::uint32_t>(channels)});
        parts.tags.push_back({0x84, static_cast<std::uint32_t>(rate)});
        parts.dataPayloads = {test::Uint32(1120, false) + std::string(2000, '\0')};
        const std::string old = test::BuildStream(parts);
        return EncodeStream(ReadStreamInfo(MemorySource(old)), old, samples);
    };
    test::PairRecipe recipe;
    recipe.streams = {encoded(0, {{0xA0, 0x00}}, 2, 32000, tone(2, 32000, 440, 0.5)),
                      encoded(0, {{0x80, 2}}, 1, 22050, tone(1, 22050, 330, 0.5)),
                      encoded(0, {{0x83, 7}}, 2, 22050, tone(2, 22050, 220, 0.5)),
                      test::ThreeKindsOfStreams()[2]};
    recipe.references = {40, 120, 200};
    pair = test::BuildPair(dir.path(), "music", recipe);
    ASSERT_EQ(Run("-q unpack " + pair.archivePath).status, 0);
    const std::string work = At("music_");
    EXPECT_EQ(Run("-q export " + work).status, 1);  // ATRAC3plus is not exported
    // A second export keeps the WAV files there unless told.
    Result r = Run("export " + work + " --rows 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tamrel-cli: " + work +
                         " holds 1 WAV file that export would replace "
                         "(music_00001.wav); nothing was written. --force replaces them.\n");
    EXPECT_EQ(Run("-q --force export " + work + " --rows 1").status, 0);

    const auto before = [&](int k) {
        return ReadFileBytes(work + test::kSep + "music_0000" + std::to_string(k) + ".asf");
    };
    const std::string first = before(1);
    const auto second = tone(1, 22050, 523, 1.0), third = tone(2, 22050, 660, 0.8);
    WriteFileBytes(work + test::kSep + "music_00002.wav", WavBytes(second, 1, 22050, std::nullopt));
    WriteFileBytes(work + test::kSep + "music_00003.wav", WavBytes(third, 2, 22050, std::nullopt));
    WriteFileBytes(work + test::kSep + "extra.wav", WavBytes(second, 1, 22050, std::nullopt));
    WriteFileBytes(work + test::kSep + "notes.txt", "not audio: ignored");

    r = Run("replace " + work + " --from " + work);
    EXPECT_EQ(r.status, 1);  // a file matched no stream
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "music_00001.asf unchanged");
    EXPECT_NE(r.out.find("\nReplaced music_00002.asf: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nReplaced music_00003.asf: "), std::string::npos) << r.out;
    EXPECT_NE(
        r.out.find("\nReplaced 2 streams, 1 unchanged, 0 failed, 1 file matched no stream.\n"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(r.err, "tamrel-cli: " + work + test::kSep + "extra.wav matches no stream\n");
    EXPECT_EQ(before(1), first);  // byte for byte, and no original kept for it
    EXPECT_FALSE(IsExistingFile(work + test::kSep + "music_00001.asf.orig"));
    EXPECT_TRUE(IsExistingFile(work + test::kSep + "music_00002.asf.orig"));
    // Run again, the same files encode to the same bytes: all unchanged.
    const std::string replacedThird = before(3);
    r = Run("replace " + work + " --from " + work);
    EXPECT_NE(
        r.out.find("\nReplaced 0 streams, 3 unchanged, 0 failed, 1 file matched no stream.\n"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(before(3), replacedThird);

    ASSERT_EQ(Run("-q pack " + work).status, 0);
    EXPECT_EQ(Run("-q check " + At("music_.ast") + " " + work).status, 0);
    auto snr = [](const std::vector<std::int16_t>& want, const std::vector<std::int16_t>& got) {
        double signal = 0, error = 0;
        for (std::size_t i = 0; i < want.size() && i < got.size(); ++i) {
            signal += double(want[i]) * want[i];
            error += (double(want[i]) - got[i]) * (double(want[i]) - got[i]);
        }
        return 10 * std::log10(signal / std::max(error, 1.0));
    };
    for (const auto& [k, want] : {std::pair{2, second}, std::pair{3, third}}) {
        const std::string stream = before(k);
        const StreamInfo info = ReadStreamInfo(MemorySource(stream));
        const auto got = DecodeStream(MemorySource(stream), info, "s");
        ASSERT_EQ(got.size(), want.size()) << k;
        EXPECT_GE(snr(want, got), 30.0) << k;
    }
    // Two files for one stream are that stream's failure; the others go on.
    WriteFileBytes(work + test::kSep + "music_00002.flac", "x");
    r = Run("-q replace " + work + " --from " + work);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("tamrel-cli: music_00002.asf: two audio files for one stream ("),
              std::string::npos)
        << r.err;
}

TEST_F(CliSoundTest, ReplaceTakesALoopByHandAndSaysWhichLoopTheStreamGot) {
    ASSERT_EQ(Run("-q unpack " + pair.archivePath).status, 0);
    std::vector<std::int16_t> second;
    for (int i = 0; i < 32000 * 2; ++i)
        second.push_back(static_cast<std::int16_t>(i * 7));
    WriteFileBytes(At("second.wav"), WavBytes(second, 2, 32000, std::nullopt));
    Result r = Run("replace " + At("music_") + " 1 " + At("second.wav") + " --loop 0:00.25-0.5");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(" now\nLoop 0:00.25 to 0:00.50: as given.\n"), std::string::npos) << r.out;
    r = Run("list --details --tsv " + At("music_"));
    EXPECT_NE(r.out.find("\t32000\t32000\t1.000\t8000\t16000\t\n"), std::string::npos) << r.out;
    // Again without a loop: the new stream is made like the kept original,
    // whatever was replaced before, and the original's loop of 100 samples
    // does not fit a second of new audio.
    r = Run("replace " + At("music_") + " 1 " + At("second.wav"));
    EXPECT_NE(r.out.find(" now\nLoop 0:00.00 to 0:01.00: the whole new audio.\n"),
              std::string::npos)
        << r.out;

    // A loop outside the audio, or on a stream that does not loop, is refused.
    const std::string before = ReadFileBytes(At("music_/music_00001.asf"));
    r = Run("replace " + At("music_") + " 1 " + At("second.wav") + " --loop 0.5-1.5");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "tamrel-cli: The loop 0:00.50 to 0:01.50 does not lie within the new audio, which "
              "is 0:01.00 long.\n");
    r = Run("replace " + At("music_") + " 2 " + At("second.wav") + " --loop 0-0.5");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadFileBytes(At("music_/music_00001.asf")), before);
    for (const char* loop : {"1", "2-1", "0:61-0:62", "a-b", "1.2.3-4", "-3"}) {
        r = Run("replace " + At("music_") + " 1 " + At("second.wav") + " --loop " + loop);
        EXPECT_EQ(r.status, 2) << loop;
        EXPECT_NE(r.err.find("--loop"), std::string::npos) << loop << r.err;
    }
    EXPECT_EQ(Run("export " + At("music_") + " --loop 1-2").status, 2);
}

}  // namespace
}  // namespace tamrel

namespace tamrel {
namespace {

// The consoles' codecs through the console program: listed, exported,
// replaced (a DSP stream's coefficients fitted to the new sound), packed.
TEST_F(CliTest, ConsoleCodecsExportReplaceAndPack) {
    auto tone = [](int channels, int rate, double hz, double seconds) {
        std::vector<std::int16_t> out;
        for (int i = 0; i < static_cast<int>(rate * seconds); ++i)
            for (int c = 0; c < channels; ++c)
                out.push_back(static_cast<std::int16_t>(
                    9000 * std::sin(6.283185307 * hz * (c + 1) * i / rate) +
                    2000 * std::sin(6.283185307 * hz * 3.01 * i / rate)));
        return out;
    };
    auto encoded = [](int platform, std::vector<test::Tag> tags, std::vector<test::RawTag> raw,
                      int channels, const std::vector<std::int16_t>& samples) {
        test::StreamParts parts;
        parts.platform = platform;
        parts.tags = std::move(tags);
        parts.rawTags = std::move(raw);
        parts.tags.push_back({0x82, static_cast<std::uint32_t>(channels)});
        parts.tags.push_back({0x84, 22050});
        const bool be = ReadStreamInfo(MemorySource(test::BuildStream(parts))).bigEndian;
        parts.dataPayloads = {test::Uint32(1120, be) + std::string(2000, '\0')};
        const std::string old = test::BuildStream(parts);
        return EncodeStream(ReadStreamInfo(MemorySource(old)), old, samples);
    };
    const std::string dsp(33, '\0');
    const std::string n64 = test::Uint32(2, true) + test::Uint32(1, true) + std::string(32, '\0');
    test::PairRecipe recipe;
    recipe.streams = {encoded(1, {}, {}, 2, tone(2, 22050, 300, 0.5)),
                      encoded(0x10, {}, {{0x8F, dsp}, {0x90, dsp}}, 2, tone(2, 22050, 400, 0.5)),
                      encoded(2, {{0x80, 1}}, {{0x8F, n64}}, 1, tone(1, 22050, 500, 0.5)),
                      encoded(7, {{0xA0, 0x14}}, {}, 1, tone(1, 22050, 600, 0.5))};
    recipe.references = {40, 120, 200};
    pair = test::BuildPair(dir.path(), "console", recipe);
    Result r = Run("list --details --tsv " + pair.archivePath);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* codec : {"PS-ADPCM", "DSP ADPCM", "N64 ADPCM", "Xbox IMA ADPCM"})
        EXPECT_NE(r.out.find(codec), std::string::npos) << codec << "\n" << r.out;
    ASSERT_EQ(Run("-q unpack " + pair.archivePath).status, 0);
    const std::string work = At("console_");
    r = Run("-q export " + work);
    EXPECT_EQ(r.status, 0) << r.err;
    for (int k = 1; k <= 4; ++k) {
        SCOPED_TRACE(k);
        const std::string stream = work + test::kSep + "console_0000" + std::to_string(k);
        const std::string bytes = ReadFileBytes(stream + ".asf");
        const StreamInfo info = ReadStreamInfo(MemorySource(bytes));
        const int channels = static_cast<int>(info.channels);
        EXPECT_EQ(
            ReadFileBytes(stream + ".wav"),
            WavBytes(DecodeStream(MemorySource(bytes), info, "s"), channels, 22050, std::nullopt));
        const auto edit = tone(channels, 22050, 700 + 50 * k, 0.8);
        WriteFileBytes(stream + ".wav", WavBytes(edit, channels, 22050, std::nullopt));
        ASSERT_EQ(
            Run("-q replace " + work + " " + std::to_string(k) + " " + stream + ".wav").status, 0);
        const std::string replaced = ReadFileBytes(stream + ".asf");
        const auto back =
            DecodeStream(MemorySource(replaced), ReadStreamInfo(MemorySource(replaced)), "s");
        ASSERT_EQ(back.size(), edit.size());
        double signal = 0, error = 0;
        for (std::size_t i = 0; i < edit.size(); ++i) {
            signal += double(edit[i]) * edit[i];
            error += (double(edit[i]) - back[i]) * (double(edit[i]) - back[i]);
        }
        EXPECT_GE(10 * std::log10(signal / error),
                  25.0);  // a loud tone: the codec tests hold the floors
    }
    EXPECT_EQ(Run("-q pack " + work).status, 0);
    r = Run("check " + At("console_.ast") + " " + work);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
}

}  // namespace
}  // namespace tamrel
