// replace, restore and loop: a stream file replaced by an audio file, or a
// folder of them, put back, or given another loop in its header alone.
#include "Console.h"

#include "archive/folder/Replace.h"
#include "audio/ReplacementLoop.h"
#include "table/StreamColumns.h"

namespace tamrel::cli {

namespace {

// A time as "12.5" (seconds) or "0:12.50" (minutes and seconds) or
// "1:02:03" (hours too); nothing when the text is none of these.
std::optional<double> ParseTime(const std::string& text) {
    double total = 0;
    std::size_t start = 0;
    for (int part = 0; part < 3; ++part) {
        const std::size_t colon = text.find(':', start);
        const bool last = colon == std::string::npos;
        const std::string field = text.substr(start, last ? std::string::npos : colon - start);
        const bool decimal = last && field.find('.') != std::string::npos;
        if (field.empty() ||
            field.find_first_not_of(decimal ? "0123456789." : "0123456789") != std::string::npos ||
            field.find('.') != field.rfind('.') || field == ".")
            return std::nullopt;
        const double value = std::stod(field);
        // Seconds and minutes after a colon stay below 60.
        if (part > 0 && value >= 60)
            return std::nullopt;
        total = total * 60 + value;
        if (last)
            return total;
        start = colon + 1;
    }
    return std::nullopt;
}

// "START-END" as two times (what names where it was given); nothing (with
// why) when malformed.
std::optional<GivenLoop> ParseLoop(const std::string& text, const std::string& what,
                                   std::string& why) {
    const std::size_t dash = text.find('-');
    const auto start = ParseTime(text.substr(0, dash));
    const auto end = dash == std::string::npos ? std::nullopt : ParseTime(text.substr(dash + 1));
    if (!start || !end) {
        why = what + ": '" + text + "' is no loop like 12.5-80 or 0:12.50-1:20.00";
        return std::nullopt;
    }
    if (*end <= *start) {
        why = what + ": the loop " + text + " ends before it starts";
        return std::nullopt;
    }
    return GivenLoop{*start, *end};
}

// "S-E" as two sample numbers, E above S; nothing (with why) when malformed.
std::optional<GivenLoop> ParseSampleLoop(const std::string& text, std::string& why) {
    const std::size_t dash = text.find('-');
    const auto number = [](const std::string& field) -> std::optional<double> {
        if (field.empty() || field.size() > 15 ||
            field.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        return std::stod(field);
    };
    const auto start = number(text.substr(0, dash));
    const auto end = dash == std::string::npos ? std::nullopt : number(text.substr(dash + 1));
    if (!start || !end || *end <= *start) {
        why = "--samples: '" + text + "' is no loop of samples like 5-1000";
        return std::nullopt;
    }
    return GivenLoop{*start, *end};
}

// The stream file name of a row of a work folder's table file; empty (with
// the message said) when the folder has none.
std::optional<std::string> RowName(const std::string& folder, const std::string& rowText,
                                   ConsoleWindow& window, int& status, const char* command) {
    if (SaidFileIsNoWorkFolder(folder, command, window)) {
        status = kFailure;
        return std::nullopt;
    }
    StreamTable table;
    if (!OpenWorkTable(table, folder, window)) {
        status = kFailure;
        return std::nullopt;
    }
    std::string why;
    const auto rows = ParseRowList(rowText, table.RowCount() - 1, "ROW", why);
    if (!rows || rows->size() != 1) {
        status = UsageError(rows ? "ROW is one row, like 2" : why);
        return std::nullopt;
    }
    return table.CellText(kNameCol, rows->front());
}

// replace FOLDER --from DIR: every stream that an audio file in DIR names.
int RunReplaceFromFolder(const Options& options, ConsoleWindow& window) {
    const std::string folder = AsDialogPath(options.arguments[0]);
    const std::string audioFolder = AsDialogPath(*options.from);
    if (SaidFileIsNoWorkFolder(folder, "replace", window))
        return kFailure;
    const auto summary =
        ReplaceFromFolder(folder, audioFolder, window, [&](const FolderStreamResult& r) {
            window.EraseProgress();
            switch (r.kind) {
                case FolderStreamResult::Kind::Replaced: {
                    std::string line =
                        "Replaced " + r.name + ": " +
                        SizeAndLength(r.report.oldSize, r.report.oldSeconds) + " before, " +
                        SizeAndLength(r.report.newSize, r.report.newSeconds) + " now.";
                    if (!r.report.loopText.empty())
                        line += " " + r.report.loopText;
                    window.Success(line);
                    break;
                }
                case FolderStreamResult::Kind::Unchanged:
                    window.Success(r.name + " unchanged");
                    break;
                case FolderStreamResult::Kind::Failed:
                    window.Error(r.name + ": " + r.why);
                    break;
            }
        });
    if (!summary) {
        window.ReportBoxes(false);
        return kFailure;
    }
    window.ReportBoxes(true);
    for (const std::string& file : summary->unmatched)
        window.Error(file + " matches no stream");
    window.Success(summary->Text());
    return summary->Complete() ? kSuccess : kFailure;
}

}  // namespace

int RunReplace(const Options& options, ConsoleWindow& window) {
    if (options.from)
        return RunReplaceFromFolder(options, window);
    ReplaceOptions replaceOptions;
    if (options.loop) {
        std::string why;
        replaceOptions.loop = ParseLoop(*options.loop, "--loop", why);
        if (!replaceOptions.loop)
            return UsageError(why);
    }
    const std::string folder = AsDialogPath(options.arguments[0]);
    int status = kSuccess;
    const auto name = RowName(folder, options.arguments[1], window, status, "replace");
    if (!name)
        return status;
    ReplaceReport report;
    const std::string audio = AsDialogPath(options.arguments[2]);
    replaceOptions.dryRun = options.dryRun;
    const ReplaceOutcome outcome =
        ReplaceStream(folder, *name, audio, window, &report, replaceOptions);
    if (outcome == ReplaceOutcome::Unchanged) {
        window.ReportBoxes(true);
        window.Success(*name + " unchanged: it holds exactly what " + audio + " encodes to");
        return kSuccess;
    }
    const bool replaced =
        outcome == ReplaceOutcome::Replaced || outcome == ReplaceOutcome::Previewed;
    window.ReportBoxes(replaced);
    if (!replaced)
        return kFailure;
    const std::string sizes = SizeAndLength(report.oldSize, report.oldSeconds) + " before, " +
                              SizeAndLength(report.newSize, report.newSeconds) + " now";
    if (options.dryRun) {
        // Printed with -q too: it is what was asked for.
        char quality[160];
        std::snprintf(quality, sizeof quality,
                      "Decoded back: %.1f dB SNR against the converted audio, peak difference "
                      "%d of 32768",
                      report.preview.snrDb, report.preview.peakDifference);
        Print("Would replace " + *name + ": " + sizes + "; nothing was written\n");
        if (!report.loopText.empty())
            Print(report.loopText + "\n");
        Print(std::string(quality) + "\n");
        return kSuccess;
    }
    window.Success("Replaced " + *name + ": " + sizes);
    if (!report.loopText.empty())
        window.Success(report.loopText);
    return kSuccess;
}

// restore FOLDER --all or --rows LIST: many originals back, one lock.
int RunRestoreMany(const Options& options, ConsoleWindow& window) {
    const std::string folder = AsDialogPath(options.arguments[0]);
    if (SaidFileIsNoWorkFolder(folder, "restore", window))
        return kFailure;
    StreamTable table;
    if (!OpenWorkTable(table, folder, window))
        return kFailure;
    std::vector<std::int32_t> rows;
    if (options.rows) {
        std::string why;
        const auto listed = ParseRowList(*options.rows, table.RowCount() - 1, "--rows", why);
        if (!listed)
            return UsageError(why);
        rows = *listed;
    } else {
        for (std::int32_t row = 1; row < table.RowCount(); ++row)
            rows.push_back(row);
    }
    std::vector<std::string> names;
    for (const std::int32_t row : rows)
        names.push_back(table.CellText(kNameCol, row));
    const auto summary = RestoreStreams(folder, names, options.all, window,
                                        [&](const std::string& name, const std::string& why) {
                                            if (why.empty())
                                                window.Success("Restored the original of " + name);
                                            else
                                                window.Error(name + ": " + why);
                                        });
    window.ReportBoxes(summary.has_value());
    if (!summary)
        return kFailure;
    window.Success(summary->Text());
    return summary->failed == 0 ? kSuccess : kFailure;
}

int RunRestore(const Options& options, ConsoleWindow& window) {
    if (options.all || options.rows)
        return RunRestoreMany(options, window);
    const std::string folder = AsDialogPath(options.arguments[0]);
    int status = kSuccess;
    const auto name = RowName(folder, options.arguments[1], window, status, "restore");
    if (!name)
        return status;
    const ReplaceOutcome outcome = RestoreStream(folder, *name, window);
    const bool restored = outcome == ReplaceOutcome::Restored;
    window.ReportBoxes(restored);
    if (restored)
        window.Success("Restored the original of " + *name);
    return restored ? kSuccess : kFailure;
}

int RunLoop(const Options& options, ConsoleWindow& window) {
    const bool times = options.arguments.size() == 3;
    if (int{times} + int{options.off} + int{options.samples.has_value()} != 1)
        return UsageError("loop takes one of START-END, --samples S-E and --off");
    LoopRequest request;
    request.off = options.off;
    if (!options.off) {
        std::string why;
        const auto loop = options.samples ? ParseSampleLoop(*options.samples, why)
                                          : ParseLoop(options.arguments[2], "START-END", why);
        if (!loop)
            return UsageError(why);
        request.inSamples = options.samples.has_value();
        request.start = loop->start;
        request.end = loop->end;
    }
    const std::string folder = AsDialogPath(options.arguments[0]);
    int status = kSuccess;
    const auto name = RowName(folder, options.arguments[1], window, status, "loop");
    if (!name)
        return status;
    std::optional<SampleLoop> written;
    const ReplaceOutcome outcome = SetStreamLoop(folder, *name, request, window, &written);
    const bool done =
        outcome == ReplaceOutcome::LoopWritten || outcome == ReplaceOutcome::Unchanged;
    window.ReportBoxes(done);
    if (!done)
        return kFailure;
    const std::string what = written ? "loops over samples " + std::to_string(written->start) +
                                           "-" + std::to_string(written->end)
                                     : "does not loop";
    window.Success(outcome == ReplaceOutcome::Unchanged
                       ? *name + " unchanged: it " + what + " already"
                       : "Now " + *name + " " + what);
    return kSuccess;
}

}  // namespace tamrel::cli
