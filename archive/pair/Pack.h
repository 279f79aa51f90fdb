// Pack: turns a work folder back into a stream archive and a bank beside it,
// moving the streams behind every stream that grew and patching the bank.
#pragma once

#include <string>

#include "archive/pair/PackPlan.h"

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
    FolderInUse,        // another command of this program writes the folder
};

// The whole command: asks for a work folder, then packs it.
PackOutcome Pack(StreamTable& table, WindowServices& window);

// The command after its dialog, for the folder the user picked.
PackOutcome PackFolder(StreamTable& table, WindowServices& window, const std::string& folder);

// Pack's plan for the folder, worked out (and checked) as Pack would, with
// nothing written.
PackOutcome PlanPackFolder(StreamTable& table, WindowServices& window, const std::string& folder,
                           PackPlan& plan);

}  // namespace tamrel
