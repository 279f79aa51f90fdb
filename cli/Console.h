// What the console's commands share: their options and exit statuses, the
// path and list rules of the command line, and the table of a folder or a
// pair read without writing.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ConsoleWindow.h"
#include "audio/StreamInfo.h"
#include "io/FileIo.h"
#include "table/StreamColumns.h"
#include "table/StreamTable.h"

namespace tamrel::cli {

inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;
inline constexpr int kUsage = 2;

struct Options {
    std::string command;
    std::vector<std::string> arguments;
    bool tsv = false;
    bool dryRun = false;
    bool quiet = false;
    bool force = false;
    bool details = false;
    bool json = false;
    bool progress = false;
    std::optional<std::string> rows;
    std::optional<std::string> outputFolder;
    std::optional<std::string> loop;
    std::optional<std::string> from;
    std::optional<std::string> samples;  // loop --samples S-E
    bool off = false;                    // loop --off
    bool all = false;                    // restore --all
};

// Text on stdout, as the user's console shows it (UTF-8 everywhere).
void Print(const std::string& text);
// printf's formatting into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Says a usage error with the hint to --help; returns kUsage.
int UsageError(const std::string& message);

// A path as the user typed it turned into what the window's dialogs hand
// over: absolute, normalised by its text (symbolic links are not resolved),
// with no separator at its end but for the root.
std::string AsDialogPath(const std::string& typed);

std::string Join(const std::vector<std::string>& parts, const char* separator);

// Rows like "2,5-7", each between 1 and last; nothing when the list is
// malformed (why then says so, naming the list as what).
std::optional<std::vector<std::int32_t>> ParseRowList(const std::string& list, std::int32_t last,
                                                      const std::string& what, std::string& why);

// "706624 bytes, 0:03.00".
std::string SizeAndLength(std::uint64_t bytes, double seconds);

// The work folder at path opened for a command that only reads it, and its
// table read through it; nothing (the reason said) when there is none.
std::optional<Folder> OpenWorkTable(StreamTable& table, const std::string& folder,
                                    ConsoleWindow& window);

// When path is a file where command takes a work folder: says so, and
// which folder Unpack made of it when it is a file of a pair; true then.
bool SaidFileIsNoWorkFolder(const std::string& path, const std::string& command,
                            ConsoleWindow& window);

// The table of a pair, listed as Unpack lists it and nothing written; false
// (the reason said) when the pair does not unpack.
bool ListPair(StreamTable& table, const std::string& file, ConsoleWindow& window);

// The commands, one file each.
int RunUnpack(const Options& options, ConsoleWindow& window);
int RunPack(const Options& options, ConsoleWindow& window);
int RunList(const Options& options, ConsoleWindow& window);
int RunCheck(const Options& options, ConsoleWindow& window);
int RunExport(const Options& options, ConsoleWindow& window);
int RunReplace(const Options& options, ConsoleWindow& window);
int RunRestore(const Options& options, ConsoleWindow& window);
int RunLoop(const Options& options, ConsoleWindow& window);

}  // namespace tamrel::cli
