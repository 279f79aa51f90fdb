// How the commands take a work folder: through the path as given and
// nothing else, with every cause said and no lock held while a box waits.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <map>

#include "PairBuilder.h"
#include "RecordingWindow.h"
#include "StreamBuilder.h"
#include "TestFiles.h"
#include "archive/folder/Check.h"
#include "archive/folder/FolderCommit.h"
#include "archive/folder/Replace.h"
#include "archive/pair/Pack.h"
#include "archive/pair/Unpack.h"
#include "audio/Wav.h"
#include "io/CommitRecord.h"
#include "io/FaultInjection.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"

namespace tamrel {
namespace {

using test::BuildPair;
using test::Leftovers;
using test::ReadFileBytes;
using test::RecordingWindow;
using test::TempDir;
using test::ThreeStreams;
using test::WriteFileBytes;

namespace fs = std::filesystem;

std::map<std::string, std::string> FilesIn(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && !entry.is_symlink())
            files[test::Utf8(entry.path()).substr(folder.size())] =
                ReadFileBytes(test::Utf8(entry.path()));
    return files;
}

// The pair in folder unpacked, packed once, and stream 2 grown: the next
// Pack moves stream 3 and patches the bank.
void Prepare(const std::string& folder) {
    BuildPair(folder, "intro", ThreeStreams());
    StreamTable table;
    RecordingWindow window;
    ASSERT_EQ(UnpackPickedFile(table, window, folder + test::kSep + "intro.ast"),
              UnpackOutcome::Succeeded);
    ASSERT_EQ(PackFolder(table, window, folder + test::kSep + "intro_"), PackOutcome::Succeeded);
    WriteFileBytes(folder + test::kSep + "intro_/intro_00002.asf", test::StreamBytes(9, 250));
}

PackOutcome PackAt(const std::string& folder, RecordingWindow& window) {
    StreamTable table;
    return PackFolder(table, window, folder);
}

// The pair beside folder holds exactly what folder describes.
std::vector<std::string> CheckPair(const std::string& pairFolder, const std::string& folder) {
    StreamTable pair;
    RecordingWindow window;
    EXPECT_EQ(UnpackPickedFile(pair, window, pairFolder + test::kSep + "intro_.ast", false),
              UnpackOutcome::Succeeded);
    return ComparePairWithFolder(pair, ReadFileBytes(pairFolder + test::kSep + "intro_.ast"),
                                 Folder(folder));
}

// a/intro_ is the work folder; b/intro_ is a link to it. A command given the
// link writes the pair beside the link.
TEST(TakenFolder, AFolderReachedThroughALinkKeepsItsPairBesideThePathAsGiven) {
    TAMREL_NEEDS_LINKS();
    TempDir dir;
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    Prepare(dir / "a");
    fs::create_directory_symlink("../a/intro_", dir / "b/intro_");
    RecordingWindow window;
    ASSERT_EQ(PackAt(dir / "b/intro_", window), PackOutcome::Succeeded);
    EXPECT_EQ(CheckPair(dir / "b", dir / "b/intro_"), std::vector<std::string>{});

    // A Pack through the link stops after the archive was renamed: the
    // bank waits beside the link.
    WriteFileBytes(dir / "a/intro_/intro_00001.asf", test::StreamBytes(8, 180));
    SetIoFault(IoFault{IoOperation::Rename, 3, EIO, {}});
    EXPECT_THROW(PackAt(dir / "b/intro_", window), IoError);
    SetIoFault(std::nullopt);
    ASSERT_TRUE(HasCommitRecord(Folder(dir / "a/intro_")));

    // By the link's target, that temporary file is not beside the folder:
    // the record stays, and the command says why.
    const auto before = FilesIn(dir.path());
    try {
        PackAt(dir / "a/intro_", window);
        ADD_FAILURE() << "no error";
    } catch (const CommitElsewhereError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("An interrupted Pack of " + (dir / "a/intro_") +
                                                  " wrote its files beside the folder by another "
                                                  "path to it",
                                              0),
                  0u)
            << e.what();
    }
    EXPECT_EQ(FilesIn(dir.path()), before);
    // By the link, as it was written, it is completed.
    RecordingWindow next;
    ASSERT_EQ(PackAt(dir / "b/intro_", next), PackOutcome::Succeeded);
    EXPECT_EQ(next.calls.front(), "information Information: An interrupted Pack of " +
                                      (dir / "b/intro_") + " was completed.");
    EXPECT_EQ(CheckPair(dir / "b", dir / "b/intro_"), std::vector<std::string>{});
    EXPECT_FALSE(HasCommitRecord(Folder(dir / "a/intro_")));
}

// At every call of Pack, the folder is renamed away and another put in its
// place: the other folder is never written, and what Pack leaves in its own
// folder and beside it is old or new.
TEST(TakenFolder, AFolderSwappedDuringPackIsNeverWritten) {
    const IoOperation kinds[] = {IoOperation::Open, IoOperation::Write, IoOperation::Read,
                                 IoOperation::Rename, IoOperation::Sync};
    for (IoOperation kind : kinds) {
        for (int nth = 1;; ++nth) {
            SCOPED_TRACE("call " + std::to_string(nth) + " of kind " +
                         std::to_string(static_cast<int>(kind)));
            TempDir dir;
            Prepare(dir.path());
            fs::create_directories(dir / "decoy");
            Prepare(dir / "decoy");
            const auto decoy = FilesIn(dir / "decoy/intro_");
            bool swapped = false;
            SetIoFault(IoFault{kind, nth, 0, [&] {
                                   fs::rename(dir / "intro_", dir / "moved_");
                                   fs::rename(dir / "decoy/intro_", dir / "intro_");
                                   swapped = true;
                               }});
            RecordingWindow window;
            try {
                PackAt(dir / "intro_", window);
            } catch (const std::exception&) {
            }
            SetIoFault(std::nullopt);
            if (!swapped)
                break;
            EXPECT_EQ(FilesIn(dir / "intro_"), decoy);
            // Put back, the folder Pack took completes or redoes its work
            // and describes the pair beside it.
            fs::rename(dir / "intro_", dir / "decoy/intro_");
            fs::rename(dir / "moved_", dir / "intro_");
            RecordingWindow next;
            EXPECT_EQ(PackAt(dir / "intro_", next), PackOutcome::Succeeded);
            EXPECT_EQ(CheckPair(dir.path(), dir / "intro_"), std::vector<std::string>{});
        }
    }
}

// A stream file replaced by another between planning and writing: Pack
// copies each file once without a second look at it, so one of another size
// stops it and one of the same size is copied as it then is. Either way the
// pair never mixes two files: where Pack succeeded, it holds the file the
// folder holds, or the folder changed after the file was copied.
TEST(TakenFolder, AStreamFileChangedWhilePackingStopsItOrIsCopiedWhole) {
    for (const bool sameSize : {false, true}) {
        SCOPED_TRACE(sameSize ? "same size" : "another size");
        bool stopped = false;
        for (int nth = 1;; ++nth) {
            SCOPED_TRACE(nth);
            TempDir dir;
            Prepare(dir.path());
            const std::string file = dir / "intro_/intro_00003.asf";
            std::string replacement = ReadFileBytes(file);
            if (sameSize)
                replacement[replacement.size() / 2] ^= 0x55;
            else
                replacement += "more";
            bool changed = false;
            SetIoFault(IoFault{IoOperation::Open, nth, 0, [&] {
                                   WriteFileBytes(file + ".new", replacement);
                                   fs::rename(file + ".new", file);
                                   changed = true;
                               }});
            RecordingWindow window;
            std::string error;
            PackOutcome outcome = PackOutcome::Cancelled;
            try {
                outcome = PackAt(dir / "intro_", window);
            } catch (const std::exception& e) {
                error = e.what();
            }
            SetIoFault(std::nullopt);
            if (!changed)
                break;
            if (error.empty()) {
                EXPECT_EQ(outcome, PackOutcome::Succeeded);
                const bool holdsNew =
                    ReadFileBytes(dir / "intro_.ast").find(replacement) != std::string::npos;
                EXPECT_EQ(CheckPair(dir.path(), dir / "intro_").size(), holdsNew ? 0u : 1u);
            } else {
                stopped = true;
                EXPECT_FALSE(sameSize) << error;
                EXPECT_EQ(error, "The stream file " + file + " changed while packing.");
                EXPECT_EQ(Leftovers(dir.path()), std::vector<std::string>{});
            }
        }
        EXPECT_EQ(stopped, !sameSize);
    }
}

TEST(TakenFolder, ALinkAtTheRecordsNameIsDamageAndNotFollowed) {
    TAMREL_NEEDS_LINKS();
    TempDir dir;
    Prepare(dir.path());
    fs::create_directories(dir / "elsewhere");
    WriteFileBytes(dir / "elsewhere/record", "tamrel commit record 1\nby Pack\nend\n");
    fs::create_symlink(dir / "elsewhere/record", dir / "intro_/.tamrel-commit");
    const auto before = FilesIn(dir.path());
    RecordingWindow window;
    EXPECT_THROW(PackAt(dir / "intro_", window), DamagedCommitRecordError);
    EXPECT_EQ(FilesIn(dir.path()), before);
    EXPECT_TRUE(fs::is_symlink(dir / "intro_/.tamrel-commit"));
}

TEST(TakenFolder, EveryFailureSaysItsCause) {
    TempDir dir;
    BuildPair(dir.path(), "intro", ThreeStreams());
    RecordingWindow window;
    StreamTable table;
    auto message = [&](IoOperation kind, int error, const std::function<void()>& run) {
        SetIoFault(IoFault{kind, 1, error, {}});
        std::string text;
        try {
            run();
        } catch (const std::exception& e) {
            text = e.what();
        }
        SetIoFault(std::nullopt);
        return text;
    };
    EXPECT_EQ(message(IoOperation::Mkdir, EACCES,
                      [&] { UnpackPickedFile(table, window, dir / "intro.ast"); }),
              "Cannot create " + (dir / "intro_") + ": Permission denied");
    ASSERT_EQ(UnpackPickedFile(table, window, dir / "intro.ast"), UnpackOutcome::Succeeded);
    EXPECT_EQ(message(IoOperation::OpenFolder, EACCES, [&] { PackAt(dir / "intro_", window); }),
              "Cannot open the folder " + (dir / "intro_") + ": Permission denied");

    // A folder sync that fails after Restore's rename is said as what it is.
    WriteFileBytes(dir / "intro_/intro_00002.asf.orig", "the original");
    EXPECT_EQ(message(IoOperation::Sync, ENOSPC,
                      [&] { RestoreStream(dir / "intro_", "intro_00002.asf", window); }),
              "The original of intro_00002.asf is back in place, but the folder " +
                  (dir / "intro_") + " could not be synced to disk: No space left on device");
    EXPECT_EQ(ReadFileBytes(dir / "intro_/intro_00002.asf"), "the original");
}

// unpack --force over a folder whose table file cannot be written, and
// Replace of a stream file that cannot be written: nothing of the user's
// changes, and no copy of an original is left.
TEST(TakenFolder, TargetsAreFoundWritableBeforeAnythingChanges) {
    TempDir dir;
    BuildPair(dir.path(), "intro", ThreeStreams());
    RecordingWindow window;
    StreamTable table;
    ASSERT_EQ(UnpackPickedFile(table, window, dir / "intro.ast"), UnpackOutcome::Succeeded);
    WriteFileBytes(dir / "intro_/intro_00002.asf", "edited");
    fs::remove(dir / "intro_/intro_.tba");
    fs::create_directory(dir / "intro_/intro_.tba");
    const auto before = FilesIn(dir.path());
    try {
        UnpackPickedFile(table, window, dir / "intro.ast");  // the window says yes
        ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot Create " + (dir / "intro_/intro_.tba") + ": Is a directory");
    }
    EXPECT_EQ(FilesIn(dir.path()), before);
    fs::remove(dir / "intro_/intro_.tba");
    ASSERT_EQ(UnpackPickedFile(table, window, dir / "intro.ast"), UnpackOutcome::Succeeded);

    // Stream files are tried before the first is written: a folder at the
    // last one's name keeps the edited second as it is.
    WriteFileBytes(dir / "intro_/intro_00002.asf", "edited");
    fs::remove(dir / "intro_/intro_00003.asf");
    fs::create_directory(dir / "intro_/intro_00003.asf");
    const auto folderThere = FilesIn(dir.path());
    try {
        UnpackPickedFile(table, window, dir / "intro.ast");
        ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create " + (dir / "intro_/intro_00003.asf") + ": Is a directory");
    }
    EXPECT_EQ(FilesIn(dir.path()), folderThere);
    fs::remove(dir / "intro_/intro_00003.asf");
#ifndef _WIN32
    // A stream file the user made read-only is a file we may not write: it
    // stays, unless we may (root), and then it keeps its mode.
    ASSERT_EQ(::chmod((dir / "intro_/intro_00002.asf").c_str(), 0444), 0);
    const auto readOnly = FilesIn(dir.path());
    if (::geteuid() != 0) {
        try {
            UnpackPickedFile(table, window, dir / "intro.ast");
            ADD_FAILURE() << "no error";
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Cannot create " + (dir / "intro_/intro_00002.asf") + ": Permission denied");
        }
        EXPECT_EQ(FilesIn(dir.path()), readOnly);
    } else {
        ASSERT_EQ(UnpackPickedFile(table, window, dir / "intro.ast"), UnpackOutcome::Succeeded);
        EXPECT_EQ(ReadFileBytes(dir / "intro_/intro_00002.asf"),
                  ReadFileBytes(dir / "intro.ast").substr(100, 200));
    }
    struct stat st {};
    ASSERT_EQ(::stat((dir / "intro_/intro_00002.asf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
#endif

    // Replace: every open the command makes fails once in turn.
    TempDir sound;
    test::PairRecipe recipe;
    recipe.streams = test::ThreeKindsOfStreams();
    recipe.references = {40, 120};
    BuildPair(sound.path(), "music", recipe);
    ASSERT_EQ(UnpackPickedFile(table, window, sound / "music.ast"), UnpackOutcome::Succeeded);
    std::vector<std::int16_t> tone(3000, 1000);
    WriteWavFile(sound / "new.wav", tone, 1, 22050, std::nullopt);
    const std::string stream = sound / "music_/music_00002.asf";
    const std::string original = ReadFileBytes(stream);
    for (int nth = 1;; ++nth) {
        SetIoFault(IoFault{IoOperation::Open, nth, EACCES, {}});
        bool failed = false;
        try {
            failed = ReplaceStream(sound / "music_", "music_00002.asf", sound / "new.wav",
                                   window) != ReplaceOutcome::Replaced;
        } catch (const std::exception&) {
            failed = true;
        }
        const bool reached = IoCallCount(IoOperation::Open) >= nth;
        SetIoFault(std::nullopt);
        if (!reached)
            break;
        SCOPED_TRACE(nth);
        EXPECT_TRUE(failed);
        EXPECT_EQ(ReadFileBytes(stream), original);
        EXPECT_FALSE(fs::exists(stream + ".orig"));
    }
}

TEST(TakenFolder, NoLockIsHeldWhileABoxWaits) {
    TempDir dir;
    BuildPair(dir.path(), "intro", ThreeStreams());
    // Each box and question tries to take the folder, as a second command would.
    struct Trying : RecordingWindow {
        std::string folder;
        std::vector<std::string> locked;
        void Try(const std::string& what) {
            FolderLock other;
            locked.push_back(what +
                             (other.TryLock(folder) == LockResult::Locked ? " free" : " locked"));
        }
        void InformationBox(const std::string& text, const std::string& caption) override {
            Try("information");
            RecordingWindow::InformationBox(text, caption);
        }
        void WarningBox(const std::string& text, const std::string& caption) override {
            Try("warning");
            RecordingWindow::WarningBox(text, caption);
        }
        bool ConfirmReplacingStreams(const std::string&, const std::string&,
                                     const std::vector<std::string>&) override {
            Try("question");
            return true;
        }
    } window;
    window.folder = dir / "intro_";
    StreamTable table;
    ASSERT_EQ(UnpackPickedFile(table, window, dir / "intro.ast"), UnpackOutcome::Succeeded);
    WriteFileBytes(dir / "intro_/intro_00003.asf", "edited");
    ASSERT_EQ(UnpackPickedFile(table, window, dir / "intro.ast"), UnpackOutcome::Succeeded);
    WriteFileBytes(dir / "intro_/intro_00002.asf", test::StreamBytes(9, 250));
    ASSERT_EQ(PackAt(dir / "intro_", window), PackOutcome::Succeeded);
    WriteFileBytes(dir / "intro_/intro_.tba", "17,2147483647\r\n");
    ASSERT_EQ(PackAt(dir / "intro_", window), PackOutcome::TableRefused);
    EXPECT_EQ(window.locked,
              (std::vector<std::string>{"information free", "question free", "information free",
                                        "information free", "warning free"}));
}

}  // namespace
}  // namespace tamrel
