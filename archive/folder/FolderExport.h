// Streams exported as WAV files into a folder, for the console and the
// window alike: each row's stream read where its source says (through the
// opened work folder, or from a pair's archive in memory), each WAV file
// written through the taken output folder.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "archive/folder/FolderCommit.h"

namespace tamrel {

class StreamSources;
class StreamTable;
class WindowServices;

// One row's end in an export.
struct ExportedRow {
    std::int32_t row = 0;
    std::string name;  // the stream file's
    bool written = false;
    std::string why;  // not written: why ("The stream NAME is skipped: ...")
};

// Takes the folder the WAV files go to, as every folder a command writes is
// taken, with the leftovers of a killed export of wavNames removed. When it
// is the work folder itself (by its path), it must be the very folder that
// work opened: one renamed and replaced meanwhile is refused, so that the
// sound of one folder is never written into another. Nothing when another
// command has it (the box said so).
std::optional<TakenFolder> TakeExportFolder(const Folder& work, const std::string& outFolder,
                                            const std::set<std::string>& wavNames,
                                            WindowServices& window);

// How far an export got.
struct ExportCount {
    int done = 0;          // rows dealt with, written or not
    int written = 0;       // WAV files written
    bool stopped = false;  // the user stopped it before the last row
};

// Exports the rows' streams as NAME.wav into out, in the order given; the
// progress bar counts the rows. A stream that cannot be read or decoded is
// that row's end (onRow hears why) and the others go on; an error writing a
// WAV file ends the export, and so does the user's stop, after the current
// row.
ExportCount ExportRows(const StreamSources& sources, const std::vector<std::int32_t>& rows,
                       const Folder& out, WindowServices& window,
                       const std::function<void(const ExportedRow&)>& onRow = {});

// Picks the rows to export from the work folder's table; nothing when the
// export is not to go on (the chooser said why).
using RowChooser = std::function<std::optional<std::vector<std::int32_t>>(const StreamTable&)>;

struct FolderExportResult {
    bool started = false;  // false: nothing was written (the reason said, or existing)
    int rows = 0;          // rows chosen
    ExportCount count;
    // WAV files in the output folder that the export would have replaced
    // and was not allowed to: nothing was written.
    std::vector<std::string> existing;
};

// Exports streams of the work folder at folder as WAV files into outFolder
// (created when missing; the work folder itself when it is the same path):
// the work folder is opened once and its table and every stream file are
// read through it, the output folder taken by TakeExportFolder. WAV files
// there already are kept, and nothing written, unless replaceExisting.
FolderExportResult ExportWorkFolder(const std::string& folder, const std::string& outFolder,
                                    bool replaceExisting, const RowChooser& choose,
                                    WindowServices& window,
                                    const std::function<void(const ExportedRow&)>& onRow = {});

}  // namespace tamrel
