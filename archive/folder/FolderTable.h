// The one loader of a work folder's table file, for every command and the
// window: a size line that declares more rows or columns than the file has
// lines is damage, refused before anything acts on such a table.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tamrel {

class Folder;
class InputFile;
class StreamTable;
class WindowServices;

// Loads the opened table file into table; returns why it is refused ("its
// size line declares R rows and C columns, more than its L lines can hold.",
// the table then reset), or nothing.
std::optional<std::string> LoadFolderTable(StreamTable& table, const InputFile& file,
                                           const std::function<void()>& pumpEvents = {});

// The words for a folder without a table file, and for a table file that
// is refused or cannot be read, wherever a work folder is opened.
std::string ResourcesMissingText(const std::string& folder);
std::string TableUnreadableText(const std::string& tableFile, const std::string& why);

enum class OpenOutcome {
    Opened,
    ResourcesMissing,  // "Resource files not found in ..."
    TableRefused,      // the table file cannot be read
    NoStreamRows,      // "No streams listed in ..."
    FolderInUse,       // another command of this program writes the folder
};

// Opens a work folder in the window, as Pack's first steps take it: the
// folder taken (an interrupted commit completed) and let go again, its table
// file loaded into table, panels 0 and 1 showing the folder and the stream
// count, and the window's work folder set, so that its streams can be heard,
// exported and replaced. Nothing is written but what completing a commit
// writes.
OpenOutcome OpenWorkFolder(StreamTable& table, WindowServices& window, const std::string& folder);

// Status panels 0 and 1 describe the work folder whose table is shown: its
// name and "Asf count: N"; panels 2 and 3 are emptied.
void ShowFolderPanels(WindowServices& window, const std::string& folder, const StreamTable& table);

// The table file of the opened work folder loaded into table; throws
// TableFileError ("The table file PATH cannot be read: " and why) for one
// that is refused or cannot be read.
void LoadWorkTable(StreamTable& table, const Folder& folder);

// The table of the opened work folder for a command that only reads it.
// False (and "Resource files not found in FOLDER" said) when the folder has
// no table file; throws TableFileError ("The table file PATH cannot be
// read: " and why) for one that is refused or cannot be read.
bool ReadFolderTable(StreamTable& table, const Folder& folder, WindowServices& window);

}  // namespace tamrel
