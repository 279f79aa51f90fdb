// The table file: a StreamTable as lines of text in the work folder, the index
// that Unpack leaves for Pack.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "io/FileIo.h"

namespace tamrel {

class StreamTable;

// A table file that cannot be created or opened; the message says which.
class TableFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a count, index or width the lenient way the table file is read: blanks
// first, an optional sign, decimal digits or hex after "$", "x" or "0x"; other
// characters after the digits drop the sign; anything unreadable is 0. Values
// beyond the 32-bit range saturate at its bounds instead of overflowing.
std::int32_t ReadTableNumber(std::string_view text);

// A cell text as it stands on its line: line breaks become tabs and backspaces
// so that the text stays on one line.
std::string EncodeCellText(std::string_view text);
// The reverse on loading; a text with a carriage return keeps only its first line.
std::string DecodeCellText(std::string_view text);

// The file's whole content for the table, as SaveTableFile writes it.
std::string FormatTableFile(const StreamTable& table);
// Writes the table file into a temporary file beside path, to be renamed over
// it by Commit(); SaveTableFile is this and Commit() at once. Throws
// TableFileError ("Cannot Create " + path + ": " and the OS's cause) when
// the file cannot be created.
ReplacingFileWriter PrepareTableFile(const StreamTable& table, const std::string& path);
// The same for the file name in an open folder.
ReplacingFileWriter PrepareTableFile(const StreamTable& table, const Folder& folder,
                                     const std::string& name);

// Applies a table file's content to the table, as LoadTableFile does after
// reading the file (without the final change report). Returns the number of
// lines read.
std::int64_t ApplyTableFileContents(StreamTable& table, std::string_view contents,
                                    const std::function<void()>& pumpEvents);

}  // namespace tamrel
