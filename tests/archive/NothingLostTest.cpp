// What Pack and Unpack leave on disk when a write fails at any point, when
// they are killed, and when the work folder or its table is hostile.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>

#include "PairBuilder.h"
#include "RecordingWindow.h"
#include "StreamBuilder.h"
#include "TestFiles.h"
#include "archive/folder/Check.h"
#include "archive/folder/FolderCommit.h"
#include "archive/folder/Replace.h"
#include "archive/pair/Pack.h"
#include "archive/pair/Unpack.h"
#include "audio/Export.h"
#include "audio/Wav.h"
#include "io/CommitRecord.h"
#include "io/FaultInjection.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"

namespace tamrel {
namespace {

using test::BuildPair;
using test::Leftovers;
using test::PairRecipe;
using test::ReadFileBytes;
using test::RecordingWindow;
using test::TempDir;
using test::ThreeStreams;
using test::WriteFileBytes;

// The files of a folder and its work folder, by path; hidden ones included.
using Files = std::map<std::string, std::string>;

Files FilesIn(const std::string& folder) {
    Files files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[entry.path().string()] = ReadFileBytes(entry.path().string());
    return files;
}

// A pair unpacked and packed once, then stream 2 replaced by a longer file:
// the next Pack moves stream 3 and patches the bank.
void PreparePackedFolder(const TempDir& dir) {
    BuildPair(dir.path(), "intro", ThreeStreams());
    StreamTable table;
    RecordingWindow window;
    ASSERT_EQ(UnpackPickedFile(table, window, dir / "intro.ast"), UnpackOutcome::Succeeded);
    ASSERT_EQ(PackFolder(table, window, dir / "intro_"), PackOutcome::Succeeded);
    WriteFileBytes(dir / "intro_/intro_00002.asf", test::StreamBytes(9, 250));
}

PackOutcome PackIt(const TempDir& dir, RecordingWindow& window) {
    StreamTable table;
    return PackFolder(table, window, dir / "intro_");
}

PairRecipe OtherThreeStreams() {
    PairRecipe recipe;
    recipe.sizes = {120, 180, 60};
    recipe.references = {40, 100};
    return recipe;
}

UnpackOutcome UnpackIt(const TempDir& dir, RecordingWindow& window) {
    StreamTable table;
    return UnpackPickedFile(table, window, dir / "intro.ast");
}

// How a command is stopped at a call: the call fails (the command sees the
// error and cleans up after itself), or the process dies right there, as
// under SIGKILL (nothing of the command's own cleanup runs).
enum class Stop { Fail, Kill };

// Runs the command once in a child that dies at the Nth call of the kind;
// true when it got that far. Windows has no fork: there the kills are left
// to the POSIX build, which runs the same code above io/.
bool KillAt(IoOperation operation, int nth, const TempDir& dir,
            const std::function<bool(const TempDir&, RecordingWindow&)>& run) {
#ifdef _WIN32
    (void)operation, (void)nth, (void)dir, (void)run;
    return false;
#else
    const pid_t child = ::fork();
    if (child == 0) {
        SetIoFault(IoFault{operation, nth, 0, [] { ::_exit(99); }});
        RecordingWindow window;
        ::_exit(run(dir, window) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 99;
#endif
}

// Runs one command stopped at the Nth call of every kind in turn, until the
// command gets through; after each stop every file is wholly as before or
// wholly as after, and the next run of the command completes and leaves no
// temporary file or record behind.
void StopAtEveryStep(const std::function<void(const TempDir&)>& prepare,
                     const std::function<bool(const TempDir&, RecordingWindow&)>& run,
                     Stop stop = Stop::Fail) {
    TempDir reference;
    prepare(reference);
    const Files before = FilesIn(reference.path());
    RecordingWindow quiet;
    ASSERT_TRUE(run(reference, quiet));
    const Files after = FilesIn(reference.path());
    auto relative = [](const Files& files, const std::string& root) {
        Files out;
        for (const auto& [path, bytes] : files)
            out[path.substr(root.size())] = bytes;
        return out;
    };
    const Files old = relative(before, reference.path());
    const Files fresh = relative(after, reference.path());

    const IoOperation operations[] = {
        IoOperation::Open,   IoOperation::Write,     IoOperation::Sync, IoOperation::Rename,
        IoOperation::Remove, IoOperation::Close,     IoOperation::Read, IoOperation::Truncate,
        IoOperation::Mkdir,  IoOperation::OpenFolder};
    for (IoOperation operation : operations) {
        for (int nth = 1;; ++nth) {
            SCOPED_TRACE("operation " + std::to_string(static_cast<int>(operation)) + ", call " +
                         std::to_string(nth));
            TempDir dir;
            prepare(dir);
            bool failed = false;
            bool reached = false;
            if (stop == Stop::Kill) {
                reached = failed = KillAt(operation, nth, dir, run);
            } else {
                RecordingWindow window;
                SetIoFault(IoFault{operation, nth, ENOSPC, {}});
                try {
                    failed = !run(dir, window);
                } catch (const std::exception&) {
                    failed = true;
                }
                reached = IoCallCount(operation) >= nth;
                SetIoFault(std::nullopt);
            }
            if (!reached) {
                EXPECT_FALSE(failed);
                break;
            }
            const Files now = relative(FilesIn(dir.path()), dir.path());
            for (const auto& [path, bytes] : now) {
                if (!TargetOfTemporary(std::filesystem::path(path).filename().string()).empty() ||
                    path.find(kCommitRecordName) != std::string::npos)
                    continue;
                const bool wasOld = old.count(path) && old.at(path) == bytes;
                const bool isNew = fresh.count(path) && fresh.at(path) == bytes;
                EXPECT_TRUE(wasOld || isNew) << path << " is neither old nor new";
            }
            const bool pending = HasCommitRecord(Folder(dir / "intro_"));
            if (stop == Stop::Fail && failed && !pending) {
                EXPECT_EQ(Leftovers(dir.path()), std::vector<std::string>{});
            }
            // The next run completes whatever was left, and leaves nothing.
            RecordingWindow next;
            ASSERT_TRUE(run(dir, next));
            EXPECT_EQ(relative(FilesIn(dir.path()), dir.path()), fresh);
            EXPECT_EQ(Leftovers(dir.path()), std::vector<std::string>{});
        }
    }
}

// Every writing command, stopped at every call of every kind, by a failure
// and by death.
class EveryWritingCommand : public ::testing::TestWithParam<Stop> {};

TEST_P(EveryWritingCommand, PackLeavesEachFileOldOrNew) {
    StopAtEveryStep(
        PreparePackedFolder,
        [](const TempDir& dir, RecordingWindow& window) {
            return PackIt(dir, window) == PackOutcome::Succeeded;
        },
        GetParam());
}

TEST_P(EveryWritingCommand, UnpackLeavesEachFileOldOrNew) {
    StopAtEveryStep(
        [](const TempDir& dir) {
            BuildPair(dir.path(), "intro", ThreeStreams());
            RecordingWindow window;
            ASSERT_EQ(UnpackIt(dir, window), UnpackOutcome::Succeeded);
            BuildPair(dir.path(), "intro", OtherThreeStreams());
        },
        [](const TempDir& dir, RecordingWindow& window) {
            return UnpackIt(dir, window) == UnpackOutcome::Succeeded;
        },
        GetParam());
}

// A pair of real streams unpacked, and a WAV file to replace stream 2 with.
void PrepareSoundFolder(const TempDir& dir) {
    PairRecipe recipe;
    recipe.streams = test::ThreeKindsOfStreams();
    recipe.references = {40, 120};
    BuildPair(dir.path(), "intro", recipe);
    RecordingWindow window;
    ASSERT_EQ(UnpackIt(dir, window), UnpackOutcome::Succeeded);
    std::vector<std::int16_t> tone;
    for (int i = 0; i < 3000; ++i)
        tone.push_back(static_cast<std::int16_t>(i * 37));
    WriteWavFile(dir / "new.wav", tone, 1, 22050, std::nullopt);
}

TEST_P(EveryWritingCommand, ReplaceAndRestoreLeaveEachFileOldOrNew) {
    // Done once the stream holds the new sound: a run after one that got
    // that far finds it unchanged.
    auto replace = [](const TempDir& dir, RecordingWindow& window) {
        const auto outcome =
            ReplaceStream(dir / "intro_", "intro_00002.asf", dir / "new.wav", window);
        return outcome == ReplaceOutcome::Replaced || outcome == ReplaceOutcome::Unchanged;
    };
    StopAtEveryStep(PrepareSoundFolder, replace, GetParam());
    StopAtEveryStep(
        [&replace](const TempDir& dir) {
            PrepareSoundFolder(dir);
            RecordingWindow window;
            ASSERT_TRUE(replace(dir, window));
        },
        [](const TempDir& dir, RecordingWindow& window) {
            const std::string folder = dir / "intro_";
            // Done once the original is back and no copy is left.
            const auto outcome = RestoreStream(folder, "intro_00002.asf", window);
            return outcome == ReplaceOutcome::Restored || outcome == ReplaceOutcome::NoOriginal;
        },
        GetParam());
}

TEST_P(EveryWritingCommand, ExportLeavesEachFileOldOrNew) {
    StopAtEveryStep(
        PrepareSoundFolder,
        [](const TempDir& dir, RecordingWindow& window) {
            const std::string folder = dir / "intro_";
            auto taken = TakeFolder(folder, window, [](const std::string& target) {
                return target.size() > 4 && target.substr(target.size() - 4) == ".wav";
            });
            if (!taken)
                return false;
            for (const char* name : {"intro_00001", "intro_00002"})
                ExportWav(FileSource(folder + test::kSep + name + ".asf"), name, taken->Work(),
                          std::string(name) + ".wav");
            return true;
        },
        GetParam());
}

#ifdef _WIN32
constexpr Stop kStops[] = {Stop::Fail};
#else
constexpr Stop kStops[] = {Stop::Fail, Stop::Kill};
#endif
INSTANTIATE_TEST_SUITE_P(StoppedBy, EveryWritingCommand, ::testing::ValuesIn(kStops),
                         [](const auto& info) {
                             return std::string(info.param == Stop::Fail ? "Failure" : "Death");
                         });

TEST(NothingLost, AnInterruptedCommitIsCompletedByTheNextCommand) {
    for (const bool byUnpack : {false, true}) {
        SCOPED_TRACE(byUnpack ? "completed by Unpack of the new pair" : "completed by Pack");
        TempDir dir;
        PreparePackedFolder(dir);
        RecordingWindow window;
        SetIoFault(IoFault{IoOperation::Rename, 3, EIO, {}});  // the record, the archive, then this
        EXPECT_THROW(PackIt(dir, window), IoError);
        SetIoFault(std::nullopt);
        ASSERT_TRUE(HasCommitRecord(Folder(dir / "intro_")));
        const std::string text = "information Information: An interrupted Pack of " +
                                 (dir / "intro_") + " was completed.";
        RecordingWindow next;
        if (byUnpack) {
            StreamTable table;
            EXPECT_EQ(UnpackPickedFile(table, next, dir / "intro_.ast"), UnpackOutcome::Succeeded);
            EXPECT_EQ(next.calls.front(), text);
        } else {
            EXPECT_EQ(PackIt(dir, next), PackOutcome::Succeeded);
            EXPECT_EQ(next.calls.front(), text);
        }
        StreamTable pair;
        RecordingWindow listing;
        ASSERT_EQ(UnpackPickedFile(pair, listing, dir / "intro_.ast", false),
                  UnpackOutcome::Succeeded);
        EXPECT_EQ(
            ComparePairWithFolder(pair, ReadFileBytes(dir / "intro_.ast"), Folder(dir / "intro_")),
            std::vector<std::string>{});
        EXPECT_FALSE(HasCommitRecord(Folder(dir / "intro_")));
    }
}

TEST(NothingLost, AKilledPackIsCompletedOrRedoneByTheNextOne) {
#ifdef _WIN32
    GTEST_SKIP() << "kills a forked child: the POSIX build runs it";
#else
    TempDir dir;
    PairRecipe recipe;
    std::mt19937 random(11);
    for (int k = 0; k < 3000; ++k)
        recipe.sizes.push_back(100 + random() % 300);
    recipe.spacing = 8;
    BuildPair(dir.path(), "intro", recipe);
    {
        StreamTable table;
        RecordingWindow window;
        ASSERT_EQ(UnpackPickedFile(table, window, dir / "intro.ast"), UnpackOutcome::Succeeded);
    }
    auto growSome = [&] {
        for (int k = 1; k <= 3000; k += 1 + static_cast<int>(random() % 7)) {
            char name[32];
            std::snprintf(name, sizeof name, "intro_/intro_%.5d.asf", k);
            WriteFileBytes(dir / name, ReadFileBytes(dir / name) + std::string(17, 'g'));
        }
    };
    auto packInChild = [&] {
        const pid_t child = ::fork();
        if (child == 0) {
            RecordingWindow window;
            StreamTable table;
            ::_exit(PackFolder(table, window, dir / "intro_") == PackOutcome::Succeeded ? 0 : 1);
        }
        return child;
    };
    // How long a whole Pack takes here, so that kills fall anywhere in it.
    growSome();
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    ::waitpid(packInChild(), &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    for (int seed = 0; seed < 8; ++seed) {
        SCOPED_TRACE("kill " + std::to_string(seed));
        growSome();
        const pid_t child = packInChild();
        ::usleep(static_cast<useconds_t>(random() % static_cast<std::uint64_t>(whole + 1)));
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);

        RecordingWindow window;
        StreamTable table;
        ASSERT_EQ(PackFolder(table, window, dir / "intro_"), PackOutcome::Succeeded);
        StreamTable pair;
        ASSERT_EQ(UnpackPickedFile(pair, window, dir / "intro_.ast", false),
                  UnpackOutcome::Succeeded);
        EXPECT_EQ(
            ComparePairWithFolder(pair, ReadFileBytes(dir / "intro_.ast"), Folder(dir / "intro_")),
            std::vector<std::string>{});
        EXPECT_EQ(Leftovers(dir.path()), std::vector<std::string>{});
    }
#endif
}

TEST(NothingLost, LinksAtStreamNamesAreReplacedOrRefused) {
    TAMREL_NEEDS_LINKS();
    TempDir dir;
    BuildPair(dir.path(), "intro", ThreeStreams());
    WriteFileBytes(dir / "mine.txt", "the user's own file");
    std::filesystem::create_directory(dir / "intro_");
    std::filesystem::create_symlink(dir / "mine.txt", dir / "intro_/intro_00002.asf");
    RecordingWindow window;
    ASSERT_EQ(UnpackIt(dir, window), UnpackOutcome::Succeeded);
    EXPECT_EQ(ReadFileBytes(dir / "mine.txt"), "the user's own file");
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "intro_/intro_00002.asf"));

    // Pack reads a link that stays inside the folder, and refuses one that leaves it.
    std::filesystem::rename(dir / "intro_/intro_00003.asf", dir / "intro_/third.bin");
    std::filesystem::create_symlink("third.bin", dir / "intro_/intro_00003.asf");
    EXPECT_EQ(PackIt(dir, window), PackOutcome::Succeeded);
    std::filesystem::remove(dir / "intro_/intro_00003.asf");
    std::filesystem::create_symlink(dir / "mine.txt", dir / "intro_/intro_00003.asf");
    const Files before = FilesIn(dir.path());
    EXPECT_EQ(PackIt(dir, window), PackOutcome::TableRefused);
    EXPECT_EQ(window.calls.back(), "warning Error: The table file " + (dir / "intro_/intro_.tba") +
                                       " cannot be packed: row 3 names 'intro_00003.asf', a link "
                                       "that leads outside the work folder.");
    EXPECT_EQ(FilesIn(dir.path()), before);
}

TEST(NothingLost, HostileTablesAreRefusedBeforeAnythingIsWritten) {
    struct Case {
        const char* what;
        std::string tableText;  // empty: edit a cell instead
        std::int32_t col, row;
        std::string cell;
        std::string message;  // after "The table file T cannot be packed: "
    };
    const Case cases[] = {
        {"a name above the folder", "", 1, 2, "../mine.txt",
         "row 2 names '../mine.txt', which is not a file in the work folder."},
        {"a name with a backslash", "", 1, 3, "a\\b.asf",
         "row 3 names 'a\\b.asf', which is not a file in the work folder."},
        {"the folder itself", "", 1, 2, ".",
         "row 2 names '.', which is not a file in the work folder."},
        {"the table file", "", 1, 2, "intro_.tba",
         "row 2 names 'intro_.tba', which is this folder's own table file."},
        {"the bank image", "", 1, 3, "intro_.ida",
         "row 3 names 'intro_.ida', which is this folder's own bank image."},
        {"the commit record", "", 1, 1, ".tamrel-commit",
         "row 1 names '.tamrel-commit', which is this folder's own commit record."},
        {"references that share bytes", "", 4, 3, "42",
         "row 3 has the Abk Pos 42, which shares bytes with the Abk Pos 40 of row 2."},
        {"a size line of 2147483647 rows", "17,2147483647\r\n", 0, 0, "",
         "its size line declares 2147483647 rows and 17 columns, more than its 1 lines can hold."},
        {"a size line of 2147483647 columns", "2147483647,3\r\n0,1,x\r\n", 0, 0, "",
         "its size line declares 3 rows and 2147483647 columns, more than its 2 lines can "
         "hold."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        PreparePackedFolder(dir);
        WriteFileBytes(dir / "mine.txt", "secret");
        const std::string tableFile = dir / "intro_/intro_.tba";
        if (c.tableText.empty()) {
            StreamTable t;
            t.LoadTableFile(tableFile);
            t.SetCellText(c.col, c.row, c.cell);
            t.SaveTableFile(tableFile);
        } else {
            WriteFileBytes(tableFile, c.tableText);
        }
        const Files before = FilesIn(dir.path());
        RecordingWindow window;
        EXPECT_EQ(PackIt(dir, window), PackOutcome::TableRefused);
        EXPECT_EQ(window.calls.back(),
                  "warning Error: The table file " + tableFile + " cannot be packed: " + c.message);
        EXPECT_EQ(FilesIn(dir.path()), before);
    }
}

TEST(NothingLost, ASecondCommandOnALockedFolderChangesNothing) {
    TempDir dir;
    PreparePackedFolder(dir);
    FolderLock held;
    ASSERT_EQ(held.TryLock(dir / "intro_"), LockResult::Locked);
    const Files before = FilesIn(dir.path());
    RecordingWindow window;
    EXPECT_EQ(PackIt(dir, window), PackOutcome::FolderInUse);
    const std::string text =
        "warning Error: " + (dir / "intro_") + " is in use by another command of this program.";
    EXPECT_EQ(window.calls.back(), text);
    EXPECT_EQ(UnpackIt(dir, window), UnpackOutcome::FolderInUse);
    EXPECT_EQ(window.calls.back(), text);
    EXPECT_EQ(FilesIn(dir.path()), before);
    held.Unlock();
    EXPECT_EQ(PackIt(dir, window), PackOutcome::Succeeded);
}

TEST(NothingLost, LeftoversOfAKilledRunAreRemovedAndNothingElse) {
    TempDir dir;
    PreparePackedFolder(dir);
    const char* ours[] = {".intro_.ast.tmp-123", ".intro_.abk.tmp-9", "intro_/.intro_.tba.tmp-77",
                          "intro_/..tamrel-commit.tmp-5"};
    const char* others[] = {".intro.ast.tmp-1", "intro_/.notes.txt.tmp-2",
                            "intro_/.intro_.tba.tmp-x"};
    for (const char* name : ours)
        WriteFileBytes(dir / name, "left");
    for (const char* name : others)
        WriteFileBytes(dir / name, "mine");
    RecordingWindow window;
    EXPECT_EQ(PackIt(dir, window), PackOutcome::Succeeded);
    for (const char* name : ours)
        EXPECT_FALSE(std::filesystem::exists(dir / name)) << name;
    for (const char* name : others)
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
}

TEST(NothingLost, UnpackOverEditedStreamsAsksFirst) {
    TempDir dir;
    BuildPair(dir.path(), "intro", ThreeStreams());
    struct Asking : RecordingWindow {
        bool answer = false;
        std::vector<std::string> asked;
        bool ConfirmReplacingStreams(const std::string&, const std::string&,
                                     const std::vector<std::string>& names) override {
            asked = names;
            return answer;
        }
    } window;
    ASSERT_EQ(UnpackIt(dir, window), UnpackOutcome::Succeeded);
    EXPECT_TRUE(window.asked.empty());
    ASSERT_EQ(UnpackIt(dir, window), UnpackOutcome::Succeeded);  // nothing differs: no question
    EXPECT_TRUE(window.asked.empty());
    WriteFileBytes(dir / "intro_/intro_00003.asf", "edited");
    std::filesystem::remove(dir / "intro_/intro_00001.asf");  // missing files are no edits
    const Files before = FilesIn(dir.path());
    EXPECT_EQ(UnpackIt(dir, window), UnpackOutcome::ReplaceDeclined);
    EXPECT_EQ(window.asked, std::vector<std::string>{"intro_00003.asf"});
    EXPECT_EQ(FilesIn(dir.path()), before);
    window.answer = true;
    EXPECT_EQ(UnpackIt(dir, window), UnpackOutcome::Succeeded);
    EXPECT_EQ(ReadFileBytes(dir / "intro_/intro_00003.asf"), test::StreamBytes(3, 50));
}

}  // namespace
}  // namespace tamrel
