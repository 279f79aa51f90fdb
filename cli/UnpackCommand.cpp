// unpack FILE: the pair into its work folder.
#include "Console.h"

#include "archive/folder/WorkFolder.h"
#include "archive/pair/Unpack.h"

namespace tamrel::cli {

int RunUnpack(const Options& options, ConsoleWindow& window) {
    StreamTable table;
    const std::string file = AsDialogPath(options.arguments[0]);
    const UnpackOutcome outcome = UnpackPickedFile(table, window, file);
    const bool succeeded = outcome == UnpackOutcome::Succeeded;
    window.ReportBoxes(succeeded);
    if (outcome == UnpackOutcome::EmptyBank)
        window.Error("nothing was written: the bank " + UnpackNamesFor(file).bank +
                     " holds no bytes");
    if (succeeded)
        window.Success(window.StatusLine());
    return succeeded ? kSuccess : kFailure;
}

}  // namespace tamrel::cli
