// Unpack: cuts a stream archive into its streams, finds each stream's
// reference in the bank, fills the stream table and writes the work folder.
#pragma once

#include <string>

namespace tamrel {

class StreamTable;
class WindowServices;

// How an Unpack ended. The window shows its own boxes and ignores this; a
// console host turns it into an exit status.
enum class UnpackOutcome {
    Succeeded,
    Cancelled,         // the file-open dialog was cancelled
    FileMissing,       // "File: ... not found."
    NoStreams,         // "No streams found in ..."
    MissingReference,  // "Address: ... not found in abk."
    Inconsistent,      // "Some addresses not correctly found in abk."
    EmptyBank,         // the bank holds no bytes: the table is listed, nothing written
    FolderInUse,       // another command of this program writes the work folder
    ReplaceDeclined,   // the user kept the edited stream files: nothing written
};

// Lays out the stream table's 17 columns, their widths and header texts.
void PrepareStreamColumns(StreamTable& table);

// The whole command: asks for either file of a pair, then unpacks it.
UnpackOutcome Unpack(StreamTable& table, WindowServices& window);

// The folder that wrote the pair of the picked file, when its name says
// Pack made it: the folder X_ beside the pair X_; else empty.
std::string WriterFolderOf(const std::string& pickedFile);

// The command after its dialog, for the file the user picked. With
// writeFolder false it lists the pair in the table and writes nothing.
UnpackOutcome UnpackPickedFile(StreamTable& table, WindowServices& window,
                               const std::string& pickedFile, bool writeFolder = true);

}  // namespace tamrel
