#include "io/FileIo.h"

#include <gtest/gtest.h>

#include <filesystem>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "TestFiles.h"

namespace tamrel {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

TEST(ReplacingFileWriter, ReplacesOnlyOnCommit) {
    TempDir dir;
    const std::string path = dir / "bank.abk";
    WriteFileBytes(path, "old");
    {
        ReplacingFileWriter writer(path);
        writer.Write("new ");
        writer.Write("bytes");
        EXPECT_EQ(ReadFileBytes(path), "old");
        writer.Commit();
    }
    EXPECT_EQ(ReadFileBytes(path), "new bytes");
    EXPECT_EQ(dir.Listing(), "bank.abk\n");

    {
        ReplacingFileWriter abandoned(path);
        abandoned.Write("never seen");
    }
    EXPECT_EQ(ReadFileBytes(path), "new bytes");
    EXPECT_EQ(dir.Listing(), "bank.abk\n");
}

TEST(ReplacingFileWriter, PositionedWritesLeaveZerosInGaps) {
    TempDir dir;
    const std::string path = dir / "new.ast";
    ReplacingFileWriter writer(path);
    writer.WriteAt(4, "SCHl");
    writer.WriteAt(0, "ab");
    writer.Commit();
    EXPECT_EQ(ReadFileBytes(path), std::string("ab\0\0SCHl", 8));
}

TEST(ReplacingFileWriter, KeepsTheModeOfTheFileItReplaces) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows files have no POSIX mode to keep";
#else
    TempDir dir;
    const std::string path = dir / "t.tba";
    WriteFileBytes(path, "x");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ReplacingFileWriter writer(path);
    writer.Write("y");
    writer.Commit();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
#endif
}

TEST(ReplacingFileWriter, RefusesWhatCannotBeCreated) {
    TempDir dir;
    EXPECT_THROW(ReplacingFileWriter(dir / "missing/x"), IoError);
    EXPECT_THROW(ReplacingFileWriter(dir.path()), IoError);  // a folder stands there
#ifndef _WIN32
    if (::geteuid() != 0) {  // root writes wherever it likes
        const std::string readOnly = dir / "ro";
        WriteFileBytes(readOnly, "keep");
        ::chmod(readOnly.c_str(), 0444);
        EXPECT_THROW(ReplacingFileWriter{readOnly}, IoError);
        EXPECT_EQ(ReadFileBytes(readOnly), "keep");
    }
#endif
}

#ifdef _WIN32
// A file another program holds open (without letting it be deleted) is not
// replaced: after a short wait the message says it is in use, and the file
// and its folder are as they were.
TEST(ReplacingFileWriter, AFileAnotherProgramHoldsIsSaidToBeInUse) {
    TempDir dir;
    const std::string path = dir / "s.asf";
    WriteFileBytes(path, "old");
    HANDLE held = ::CreateFileW(test::FsPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ReplacingFileWriter writer(path);
    writer.Write("new");
    try {
        writer.Commit();
        ADD_FAILURE() << "replaced";
    } catch (const IoError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot replace " + path + ": it is in use by another program");
    }
    ::CloseHandle(held);
    EXPECT_EQ(ReadFileBytes(path), "old");
    EXPECT_EQ(dir.Listing(), "s.asf\n");
}
#endif

TEST(InputFile, ReadsWholeFilesAndReportsOpenFailures) {
    TempDir dir;
    const std::string path = dir / "a.bin";
    const std::string bytes("\0SCHl\x1A\xFF", 7);
    WriteFileBytes(path, bytes);
    InputFile file(path);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.Size(), 7);
    EXPECT_EQ(file.ReadAll(), bytes);

    InputFile missing(dir / "none");
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(missing.OpenError(), ENOENT);
    EXPECT_FALSE(InputFile(dir.path()).IsOpen());

    EXPECT_TRUE(IsExistingFile(path));
    EXPECT_FALSE(IsExistingFile(dir.path()));
    EXPECT_FALSE(IsExistingFile(dir / "none"));
}

TEST(InputFile, RefusesFilesOf2GiBOrMore) {
    TempDir dir;
    const std::string path = dir / "huge.ast";
    WriteFileBytes(path, "");
    std::filesystem::resize_file(test::FsPath(path), kMaxFileSize + 1);  // sparse: costs no disk
    InputFile file(path);
    EXPECT_THROW(file.Size(), FileTooLargeError);
    EXPECT_THROW(file.ReadAll(), FileTooLargeError);
}

}  // namespace
}  // namespace tamrel
