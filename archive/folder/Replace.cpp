#include "archive/folder/Replace.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>

#include "archive/folder/FolderCommit.h"
#include "archive/folder/FolderTable.h"
#include "archive/folder/Path.h"
#include "archive/folder/WorkFolder.h"
#include "archive/host/WindowServices.h"
#include "archive/pair/StreamColumns.h"
#include "audio/AudioFile.h"
#include "audio/Decoder.h"
#include "audio/Encoder.h"
#include "audio/StreamInfo.h"
#include "io/FileIo.h"
#include "table/StreamTable.h"
#include "table/TableFile.h"

namespace tamrel {

namespace {

constexpr std::int32_t kProgressSteps = 1000;

// A stream file of the folder and its kept original, the folder taken for
// the command (with the leftovers of a killed Replace or Restore removed);
// nothing when another command has it.
struct TakenStream {
    TakenFolder taken;
    std::string name, original;
};

std::optional<TakenStream> TakeStream(const std::string& folder, const std::string& name,
                                      WindowServices& window) {
    // A name is a file of the folder itself, never a path.
    if (!IsPlainFileName(name))
        throw std::runtime_error("'" + name + "' is not a stream file in the work folder " +
                                 folder);
    const std::string original = name + ".orig";
    auto taken = TakeFolder(folder, window, [&](const std::string& target) {
        return target == name || target == original;
    });
    if (!taken)
        return std::nullopt;
    return TakenStream{std::move(*taken), name, original};
}

// Decodes the new stream back from its file, block by block: a stream that
// the program cannot read back, or that holds another number of samples
// than were encoded, never replaces the old one.
void ReadBack(const ReplacingFileWriter& file, const std::string& name, std::uint64_t frames) {
    const FileSource written(file.InFolder(), file.TemporaryName());
    if (!written.IsOpen())
        throw IoError(written.OpenError(), "Cannot open file " + file.TemporaryPath());
    const StreamInfo info = ReadStreamInfo(written);
    std::uint64_t decoded = 0;
    try {
        DecodeBlocks(written, info, name, [&decoded](const std::int16_t*, std::size_t n) {
            decoded += n;
            return true;
        });
    } catch (const DecodeError& e) {
        throw std::logic_error(std::string("Internal error: the new stream does not decode: ") +
                               e.what());
    }
    if (decoded != frames || info.samples != frames || !info.problems.empty())
        throw std::logic_error("Internal error: the new stream of " + name + " reads back as " +
                               std::to_string(decoded) + " samples, not the " +
                               std::to_string(frames) + " encoded; nothing was replaced.");
}

}  // namespace

std::string KeptOriginalOf(const std::string& streamPath) {
    return streamPath + ".orig";
}

namespace {

// One replacement's end: the outcome and, for a refusal, its text.
struct StepResult {
    ReplaceOutcome outcome = ReplaceOutcome::Replaced;
    std::string refusal;
};

// The old stream of a taken folder, read where needed, never whole: its
// header, its blocks' preambles, and later a copy made a chunk at a time.
struct OldStream {
    FileSource file;
    StreamInfo info;
    std::uint64_t size = 0;

    OldStream(const Folder& work, const std::string& name) : file(work, name) {
        if (!file.IsOpen())
            throw IoError(file.OpenError(), "Cannot open file " + work.PathOf(name));
        size = file.Size();
        info = ReadStreamInfo(file);
    }

    // Why the stream cannot be replaced, or empty.
    std::string Refusal(const std::string& name) const {
        if (const std::string refusal = info.PlausibilityRefusal(name);
            info.hasHeader && !refusal.empty())
            return refusal;
        if (std::string refusal = info.LayoutRefusal(name, "replaced"); !refusal.empty())
            return refusal;
        if (const char* why = TraitsOf(info.codec).whyNot; info.hasHeader && why)
            return "The stream " + name + " is " + info.CodecName() + ": " + why + ".";
        if (!CanEncode(info))
            return "The stream " + name + " is " +
                   (info.hasHeader ? info.CodecName() : "without a stream header") +
                   ", which this program cannot encode yet.";
        return {};
    }
};

// Replaces the stream file name of the taken folder with the audio file;
// boxes are the caller's. Throws for what cannot be read or written.
StepResult ReplaceIn(const Folder& work, const std::string& name, const std::string& audioFile,
                     WindowServices& window, const ReplaceOptions& options, ReplaceReport* report) {
    std::optional<OldStream> old(std::in_place, work, name);
    if (std::string refusal = old->Refusal(name); !refusal.empty())
        return {ReplaceOutcome::CannotEncode, std::move(refusal)};
    const StreamInfo info = std::move(old->info);
    const std::uint64_t oldSize = old->size;
    if (options.loop && !info.Loops())
        return {ReplaceOutcome::LoopRefused,
                "The stream " + name + " does not loop, so it takes no loop."};
    AudioFileReader audio(audioFile);
    std::string oldHeader(info.headerSize, '\0');
    if (old->file.ReadAt(0, oldHeader.data(), oldHeader.size()) != oldHeader.size())
        throw IoError(EIO, "Cannot read " + work.PathOf(name));

    StreamEncoder encoder(info, oldHeader);
    const double expected = static_cast<double>(audio.Facts().expectedFrames);
    try {
        // Coefficients in the header are fitted to all of the sound: a first
        // reading of the file, kept to a bounded set of windows.
        if (encoder.NeedsTraining())
            AudioFileReader(audioFile).ConvertTo(
                static_cast<int>(info.sampleRate), static_cast<int>(info.channels),
                [&encoder](const std::int16_t* samples, std::size_t frames) {
                    encoder.Train(samples, frames);
                    return true;
                },
                [&](std::uint64_t) { window.PumpEvents(); });
        audio.ConvertTo(
            static_cast<int>(info.sampleRate), static_cast<int>(info.channels),
            [&encoder](const std::int16_t* samples, std::size_t frames) {
                encoder.Add(samples, frames);
                return true;
            },
            [&](std::uint64_t read) {
                if (expected > 0 && options.showProgress)
                    window.SetProgressPosition(static_cast<std::int32_t>(
                        std::min(1.0, static_cast<double>(read) / expected) * kProgressSteps));
                window.PumpEvents();
            });
    } catch (const EncodeError& e) {
        throw EncodeError("Cannot replace " + name + ": " + e.what() + ".");
    }
    const LoopDecision loop =
        ChooseLoop(info, encoder.Frames(), audio.Facts().rate, audio.Facts().loop, options.loop);
    if (!loop.refusal.empty())
        return {ReplaceOutcome::LoopRefused, loop.refusal};
    EncodedStream encoded = encoder.Finish(loop.loop);
    const std::uint64_t newSize = encoded.Size();
    const std::uint64_t frames = encoded.frames;

    // The new stream goes to its temporary file first, which tells early
    // whether the stream file can be written at all.
    ReplacingFileWriter file(work, name);
    file.Write(encoded.head);
    for (std::string& piece : encoded.body) {
        file.Write(piece);
        std::string().swap(piece);  // given back as soon as it is on its way
    }
    file.Finish();
    ReadBack(file, name, frames);

    // The first original stays beside the file until it is restored.
    const std::string original = name + ".orig";
    if (StatusAt(work, original, false).kind == NameStatus::Kind::Missing)
        CopyFileAt(work, name, original);
    old.reset();  // Windows renames over no file that is still open
    file.RenameIntoPlace();
    work.Sync();
    if (report) {
        report->oldSize = oldSize;
        report->newSize = newSize;
        report->oldSeconds = info.Duration();
        report->newSeconds = static_cast<double>(frames) / static_cast<double>(info.sampleRate);
        report->loop = loop;
        report->loopText = DescribeLoop(loop, info.sampleRate);
    }
    return {};
}

}  // namespace

ReplaceOutcome ReplaceStream(const std::string& folder, const std::string& name,
                             const std::string& audioFile, WindowServices& window,
                             ReplaceReport* report, const ReplaceOptions& options) {
    auto stream = TakeStream(folder, name, window);
    if (!stream)
        return ReplaceOutcome::FolderInUse;
    StepResult result;
    {
        DisabledWindowGuard disabled(window);
        window.SetProgressMin(0);
        window.SetProgressMax(kProgressSteps);
        result = ReplaceIn(stream->taken.Work(), name, audioFile, window, options, report);
    }
    window.SetProgressPosition(0);
    // No box waits for the user while the folder is locked.
    stream->taken.Release();
    if (!result.refusal.empty())
        window.WarningBox(result.refusal, "Error");
    return result.outcome;
}

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The name without its extension: "intro_00003.wav" gives "intro_00003".
std::string Stem(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// True when the audio file holds exactly the stream's sound: the same rate
// and channels, every sample, and (where the file has a loop) the stream's
// loop. Both are read a block or a chunk at a time.
bool SameSound(const OldStream& old, const std::string& name, const std::string& audioFile) {
    const StreamInfo& info = old.info;
    if (!CanDecode(info))
        return false;
    AudioFileReader audio(audioFile);
    const AudioFileFacts& facts = audio.Facts();
    if (facts.rate != info.sampleRate || facts.channels != info.channels ||
        (facts.exactFrames && *facts.exactFrames != info.samples))
        return false;
    if (facts.loop) {
        const auto loop = info.ValidLoop();
        if (!loop || loop->first != facts.loop->start || loop->second != facts.loop->end)
            return false;
    }
    try {
        BlockReader reader(old.file, info, name);
        std::vector<std::int16_t> block;
        std::size_t at = 0;
        bool same = true;
        audio.ConvertTo(
            facts.rate, facts.channels, [&](const std::int16_t* samples, std::size_t frames) {
                const std::size_t total = frames * static_cast<std::size_t>(facts.channels);
                for (std::size_t i = 0; i < total;) {
                    while (at == block.size()) {
                        if (!reader.Next(block)) {
                            same = false;  // the file goes on after the stream's end
                            return false;
                        }
                        at = 0;
                    }
                    const std::size_t n = std::min(total - i, block.size() - at);
                    if (!std::equal(samples + i, samples + i + n,
                                    block.begin() + static_cast<std::ptrdiff_t>(at))) {
                        same = false;
                        return false;
                    }
                    i += n;
                    at += n;
                }
                return true;
            });
        if (!same || at != block.size())
            return false;
        // Nothing of the stream may be left over.
        while (reader.Next(block))
            if (!block.empty())
                return false;
        return true;
    } catch (const DecodeError&) {
        return false;  // a damaged stream is replaced, not kept
    }
}

}  // namespace

bool IsReplaceableAudioName(const std::string& fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return false;
    const std::string ext = Lower(fileName.substr(dot));
    for (const char* known : {".wav", ".flac", ".ogg", ".oga", ".opus", ".mp3", ".aif", ".aiff"})
        if (ext == known)
            return true;
    return false;
}

std::string FolderReplaceSummary::Text() const {
    const auto count = [](int n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    return "Replaced " + count(replaced, "stream", "streams") + ", " + std::to_string(unchanged) +
           " unchanged, " + std::to_string(failed) + " failed, " +
           count(static_cast<int>(unmatched.size()), "file matched no stream.",
                 "files matched no stream.");
}

std::optional<FolderReplaceSummary> ReplaceFromFolder(
    const std::string& folder, const std::string& audioFolder, WindowServices& window,
    const std::function<void(const FolderStreamResult&)>& onStream) {
    // The audio files, by the name they share with a stream.
    const Folder audio(audioFolder);
    if (!audio.IsOpen())
        throw IoError(audio.OpenError(), "Cannot open the folder " + audioFolder);
    std::map<std::string, std::vector<std::string>> filesByStem;
    for (const std::string& name : NamesIn(audio))
        if (IsReplaceableAudioName(name) &&
            StatusAt(audio, name, true).kind == NameStatus::Kind::File)
            filesByStem[Stem(name)].push_back(name);
    for (auto& [stem, files] : filesByStem)
        std::sort(files.begin(), files.end());

    // One lock for the run; the leftovers of any killed Replace or Restore.
    auto taken = TakeFolder(folder, window, [](const std::string& target) {
        return target.size() > 4 && (target.substr(target.size() - 4) == ".asf" ||
                                     target.substr(target.size() - 5) == ".orig");
    });
    if (!taken)
        return std::nullopt;
    const Folder& work = taken->Work();
    const PackNames names = PackNamesFor(folder);
    StreamTable table;
    if (const auto refusal = LoadFolderTable(table, InputFile(work, names.tableFileName)))
        throw TableFileError("The table file " + names.tableFile + " cannot be read: " + *refusal);

    FolderReplaceSummary summary;
    std::set<std::string> matched;
    DisabledWindowGuard disabled(window);
    window.SetProgressMin(0);
    window.SetProgressMax(std::max(1, table.RowCount() - 1));
    ReplaceOptions options;
    options.showProgress = false;
    for (std::int32_t row = 1; row < table.RowCount(); ++row) {
        window.SetProgressPosition(row);
        window.PumpEvents();
        const std::string& name = table.CellText(kNameCol, row);
        const auto files = filesByStem.find(Stem(name));
        if (files == filesByStem.end())
            continue;
        matched.insert(files->first);
        FolderStreamResult result;
        result.name = name;
        for (const std::string& file : files->second)
            result.audioFile += (result.audioFile.empty() ? "" : ", ") + audio.PathOf(file);
        try {
            if (!IsPlainFileName(name))
                throw std::runtime_error("'" + name + "' is not a stream file in the work folder");
            if (files->second.size() > 1)
                throw std::runtime_error("two audio files for one stream (" + result.audioFile +
                                         ")");
            const std::string file = audio.PathOf(files->second.front());
            // Closed again before a replacement renames over the file.
            const bool same = SameSound(OldStream(work, name), name, file);
            if (same) {
                result.kind = FolderStreamResult::Kind::Unchanged;
            } else {
                const StepResult step =
                    ReplaceIn(work, name, file, window, options, &result.report);
                if (!step.refusal.empty())
                    throw std::runtime_error(step.refusal);
                result.kind = FolderStreamResult::Kind::Replaced;
            }
        } catch (const std::exception& e) {
            result.kind = FolderStreamResult::Kind::Failed;
            result.why = e.what();
        }
        ++(result.kind == FolderStreamResult::Kind::Replaced    ? summary.replaced
           : result.kind == FolderStreamResult::Kind::Unchanged ? summary.unchanged
                                                                : summary.failed);
        if (onStream)
            onStream(result);
    }
    for (const auto& [stem, files] : filesByStem)
        if (!matched.count(stem))
            for (const std::string& file : files)
                summary.unmatched.push_back(audio.PathOf(file));
    window.SetProgressPosition(0);
    taken->Release();
    return summary;
}

ReplaceOutcome RestoreStream(const std::string& folder, const std::string& name,
                             WindowServices& window) {
    auto stream = TakeStream(folder, name, window);
    if (!stream)
        return ReplaceOutcome::FolderInUse;
    const Folder& work = stream->taken.Work();
    if (StatusAt(work, stream->original, false).kind != NameStatus::Kind::File) {
        stream->taken.Release();
        window.InformationBox("No original of " + name + " is kept in " + folder + ".",
                              "Information");
        return ReplaceOutcome::NoOriginal;
    }
    RenameAt(work, stream->original, name);
    try {
        work.Sync();
    } catch (const IoError& e) {
        throw IoError(e.code().value(), "The original of " + name +
                                            " is back in place, but the folder " + folder +
                                            " could not be synced to disk");
    }
    return ReplaceOutcome::Restored;
}

}  // namespace tamrel
