#include "Console.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "archive/folder/FolderTable.h"
#include "archive/folder/WorkFolder.h"
#include "archive/pair/PackPlan.h"
#include "archive/pair/Unpack.h"
#include "io/FileIo.h"
#include "io/Path.h"
#include "table/CellNumber.h"
#include "table/StreamColumns.h"

namespace tamrel::cli {

void Print(const std::string& text) {
    WriteText(stdout, text);
}

std::string Format(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list again;
    va_copy(again, arguments);
    const int n = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(static_cast<std::size_t>(std::max(n, 0)) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    text.resize(static_cast<std::size_t>(std::max(n, 0)));
    return text;
}

int UsageError(const std::string& message) {
    WriteText(stderr,
              "tamrel-cli: " + message + "\nTry 'tamrel-cli --help' for more information.\n");
    return kUsage;
}

std::string AsDialogPath(const std::string& typed) {
    return AbsolutePath(typed);
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const std::string& part : parts) {
        if (!out.empty())
            out += separator;
        out += part;
    }
    return out;
}

std::optional<std::vector<std::int32_t>> ParseRowList(const std::string& list, std::int32_t last,
                                                      const std::string& what, std::string& why) {
    std::vector<std::int32_t> rows;
    std::size_t start = 0;
    auto number = [&](const std::string& text, std::int32_t& value) {
        const auto n = ParseCellNumber(text);
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || !n)
            return false;
        value = static_cast<std::int32_t>(*n);
        return true;
    };
    while (start <= list.size()) {
        const auto comma = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, comma - start);
        const auto dash = item.find('-');
        std::int32_t from = 0, to = 0;
        if (dash == std::string::npos
                ? !number(item, from)
                : !number(item.substr(0, dash), from) || !number(item.substr(dash + 1), to)) {
            why = what + ": '" + item + "' is no row and no range like 5-7";
            return std::nullopt;
        }
        if (dash == std::string::npos)
            to = from;
        if (from > to) {
            why = what + ": the range " + item + " runs backwards";
            return std::nullopt;
        }
        if (from < 1 || to > last) {
            why = what + ": " + item + " is outside the table's rows 1 to " + std::to_string(last);
            return std::nullopt;
        }
        for (std::int32_t r = from; r <= to; ++r)
            rows.push_back(r);
        start = comma + 1;
    }
    return rows;
}

std::string SizeAndLength(std::uint64_t bytes, double seconds) {
    return std::to_string(bytes) + " bytes, " + FormatDuration(seconds);
}

std::optional<Folder> OpenWorkTable(StreamTable& table, const std::string& folder,
                                    ConsoleWindow& window) {
    Folder opened(folder);
    if (!opened.IsOpen())
        throw IoError(opened.OpenError(), "Cannot open the folder " + folder);
    if (ReadFolderTable(table, opened, window))
        return opened;
    window.ReportBoxes(false);
    return std::nullopt;
}

bool SaidFileIsNoWorkFolder(const std::string& path, const std::string& command,
                            ConsoleWindow& window) {
    if (!IsExistingFile(path))
        return false;
    std::string text = path + " is a file, not a work folder; " + command +
                       " takes the folder that unpack made of a pair";
    const std::string name = FileNamePart(path);
    const auto dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    if (ext == ".ast" || ext == ".abk")
        text += ", here " + UnpackNamesFor(path).workFolder;
    window.Error(text + ".");
    return true;
}

bool ListPair(StreamTable& table, const std::string& file, ConsoleWindow& window) {
    const UnpackOutcome outcome = UnpackPickedFile(table, window, file, /*writeFolder=*/false);
    const bool listed = outcome == UnpackOutcome::Succeeded || outcome == UnpackOutcome::EmptyBank;
    window.ReportBoxes(listed);
    return listed;
}

}  // namespace tamrel::cli
