#include "table/TableFile.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "io/Bytes.h"
#include "io/FileIo.h"
#include "table/CellNumber.h"
#include "table/StreamTable.h"

namespace tamrel {

namespace {

constexpr char kEndOfFile = 0x1A;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Splits at the first comma: the part before it (empty when there is no
// comma) and the rest (everything when there is no comma).
std::pair<std::string_view, std::string_view> SplitAtComma(std::string_view text) {
    auto comma = text.find(',');
    if (comma == std::string_view::npos)
        return {{}, text};
    return {text.substr(0, comma), text.substr(comma + 1)};
}

// Hands out the file's lines: a line feed ends a line, carriage returns are
// never part of a line, and a 0x1A ends the file (the text before it on its
// line still counts as a line).
class LineReader {
public:
    explicit LineReader(std::string_view bytes) : bytes_(bytes) {}

    bool Next(std::string& line) {
        if (pos_ >= bytes_.size() || bytes_[pos_] == kEndOfFile)
            return false;
        line.clear();
        while (pos_ < bytes_.size()) {
            char c = bytes_[pos_++];
            if (c == '\n')
                return true;
            if (c == kEndOfFile) {
                pos_ = bytes_.size();
                return true;
            }
            if (c != '\r')
                line.push_back(c);
        }
        return true;
    }

private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
};

void AppendLine(std::string& out, std::string_view line) {
    out.append(line);
    out.append("\r\n");
}

}  // namespace

std::int32_t ReadTableNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    const ScannedNumber n = ScanNumber(text, i, /*bareXIsHex=*/true);
    if (n.digits == 0)
        return 0;
    // Beyond the 32-bit range the value saturates; trailing characters drop the sign.
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
    if (n.end < text.size() || !n.negative)
        return static_cast<std::int32_t>(std::min(n.magnitude, kMax));
    if (n.magnitude > kMax)
        return std::numeric_limits<std::int32_t>::min();
    return -static_cast<std::int32_t>(n.magnitude);
}

std::string EncodeCellText(std::string_view text) {
    std::string out(text);
    // A line feed alone would also end the line in the file and shift every
    // line after it, so it is encoded like a carriage return is.
    if (out.find_first_of("\r\n") != std::string::npos) {
        std::replace(out.begin(), out.end(), '\r', '\t');
        std::replace(out.begin(), out.end(), '\n', '\b');
    }
    return out;
}

std::string DecodeCellText(std::string_view text) {
    std::string out(text);
    if (out.find('\b') != std::string::npos) {
        std::replace(out.begin(), out.end(), '\t', '\r');
        std::replace(out.begin(), out.end(), '\b', '\n');
    }
    auto cr = out.find('\r');
    if (cr != std::string::npos)
        out.resize(cr);
    return out;
}

std::string FormatTableFile(const StreamTable& table) {
    std::string out;
    AppendLine(out, std::to_string(table.ColCount()) + "," + std::to_string(table.RowCount()));
    for (std::int32_t col = 0; col < table.ColCount(); ++col) {
        AppendLine(out, "cw " + std::to_string(col) + "," + std::to_string(table.ColWidths(col)));
    }
    table.ForEachFilledCell([&](std::int32_t col, std::int32_t row, const std::string& text) {
        out.append(std::to_string(col));
        out.push_back(',');
        out.append(std::to_string(row));
        out.push_back(',');
        AppendLine(out, EncodeCellText(text));
    });
    return out;
}

std::int64_t ApplyTableFileContents(StreamTable& table, std::string_view contents,
                                    const std::function<void()>& pumpEvents) {
    LineReader lines(contents);
    std::string line;
    std::int64_t count = 0;
    if (!lines.Next(line))
        return count;
    ++count;
    if (!line.empty()) {
        auto [cols, rows] = SplitAtComma(line);
        table.SetColCount(ReadTableNumber(cols));
        table.SetRowCount(ReadTableNumber(rows));
    }
    while (lines.Next(line)) {
        ++count;
        std::string_view text(line);
        if (text.substr(0, 2) == "cw") {
            auto comma = text.find(',');
            std::string_view colPart;
            if (comma != std::string_view::npos && comma > 3)
                colPart = text.substr(3, comma - 3);
            std::string_view widthPart =
                comma == std::string_view::npos ? text : text.substr(comma + 1);
            std::int32_t col = ReadTableNumber(colPart);
            if (col >= 0 && col < table.ColCount())
                table.SetColWidths(col, ReadTableNumber(widthPart));
            continue;
        }
        auto [colPart, rest] = SplitAtComma(text);
        auto [rowPart, cellText] = SplitAtComma(rest);
        std::int32_t col = ReadTableNumber(colPart);
        std::int32_t row = ReadTableNumber(rowPart);
        // Negative indexes are not filtered here: writing them raises the
        // table's index error, which ends the load.
        if (col < table.ColCount() && row < table.RowCount()) {
            table.SetCellText(col, row, DecodeCellText(cellText));
        }
        if (pumpEvents)
            pumpEvents();
    }
    return count;
}

namespace {

ReplacingFileWriter WriteTableFile(const StreamTable& table, const std::string& path,
                                   const std::function<ReplacingFileWriter()>& create) {
    std::string contents = FormatTableFile(table);
    std::optional<ReplacingFileWriter> file;
    try {
        file.emplace(create());
    } catch (const IoError& e) {
        throw TableFileError("Cannot Create " + path + ": " + e.code().message());
    }
    file->Write(contents);
    return std::move(*file);
}

}  // namespace

ReplacingFileWriter PrepareTableFile(const StreamTable& table, const std::string& path) {
    return WriteTableFile(table, path, [&path] { return ReplacingFileWriter(path); });
}

ReplacingFileWriter PrepareTableFile(const StreamTable& table, const Folder& folder,
                                     const std::string& name) {
    return WriteTableFile(table, folder.PathOf(name),
                          [&] { return ReplacingFileWriter(folder, name); });
}

std::int64_t StreamTable::LoadTableFile(const InputFile& file,
                                        const std::function<void()>& pumpEvents) {
    if (!file.IsOpen())
        throw TableFileError("Cannot open file " + file.Path() + ": " +
                             ErrorText(file.OpenError()));
    std::string contents = file.ReadAll();
    const std::int64_t lines = ApplyTableFileContents(*this, contents, pumpEvents);
    NotifyTableChanged();
    return lines;
}

}  // namespace tamrel
