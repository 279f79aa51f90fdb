// Pack: turns a work folder back into a stream archive and a bank beside it,
// moving the streams behind every stream that grew and patching the bank.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tamrel {

class StreamTable;
class WindowServices;

// How a Pack ended. The window shows its own boxes and ignores this; a
// console host turns it into an exit status.
enum class PackOutcome {
    Succeeded,
    Cancelled,          // the folder-selection dialog was cancelled
    ResourcesMissing,   // "Resource files not found in ..."
    EmptyBankImage,     // the bank image holds no bytes: nothing written
    NoStreamRows,       // "No streams listed in ..."
    StreamFileMissing,  // "File not found ..."
    IntError,           // "Alarm! Int error."
    TableRefused,       // the table does not fit the stream files or the bank image
};

// What Pack writes, worked out before a byte is written.
struct PackPlan {
    struct Stream {
        std::int32_t row = 0;
        std::string path;              // the stream file
        std::string name;              // its "Name", as a name inside the folder
        std::uint32_t oldAddress = 0;  // "Ast Addr" as loaded
        std::uint32_t address = 0;     // where it goes in the new archive
        std::uint32_t oldSize = 0;     // "Asf Size" as loaded
        std::uint32_t fileSize = 0;    // the stream file's length
        std::uint32_t newSize = 0;     // what is written: the file, zero-filled
    };
    struct Patch {
        std::int32_t row = 0;        // the row whose stream moves
        std::uint32_t position = 0;  // "Abk Pos": where in the bank
        std::uint32_t oldAddress = 0;
        std::uint32_t newAddress = 0;
    };
    std::vector<Stream> streams;
    std::vector<Patch> patches;
    std::uint32_t archiveSize = 0;  // the new archive's length
};

// The whole command: asks for a work folder, then packs it.
PackOutcome Pack(StreamTable& table, WindowServices& window);

// The command after its dialog, for the folder the user picked. With write
// false nothing is written: the plan is only worked out (and checked).
PackOutcome PackFolder(StreamTable& table, WindowServices& window, const std::string& folder,
                       bool write = true, PackPlan* plan = nullptr);

}  // namespace tamrel
