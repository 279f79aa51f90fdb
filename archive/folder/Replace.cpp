#include "archive/folder/Replace.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>

#include "archive/folder/FolderCommit.h"
#include "archive/folder/FolderTable.h"
#include "archive/folder/StreamSources.h"
#include "archive/folder/WorkFolder.h"
#include "archive/host/WindowServices.h"
#include "audio/AudioFile.h"
#include "audio/Blocks.h"
#include "audio/Decoder.h"
#include "audio/Encoder.h"
#include "audio/StreamInfo.h"
#include "io/FileIo.h"
#include "io/Path.h"
#include "table/StreamColumns.h"
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
    if (std::string refusal = RowNameRefusal(name); !refusal.empty())
        throw InputError("T" + refusal.substr(1) + " " + folder + ".");
    const std::string original = KeptOriginalOf(name);
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

// An audio file of an opened folder: every reading of it goes through the folder.
struct AudioAt {
    const Folder& folder;
    std::string name;
};

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

    // True when the file holds exactly these bytes, read a chunk at a time.
    bool Holds(const EncodedStream& encoded) const {
        if (encoded.Size() != size)
            return false;
        std::string chunk;
        std::uint64_t at = 0;
        auto same = [&](const std::string& piece) {
            chunk.resize(piece.size());
            if (file.ReadAt(at, chunk.data(), chunk.size()) != chunk.size() || chunk != piece)
                return false;
            at += piece.size();
            return true;
        };
        if (!same(encoded.head))
            return false;
        for (const std::string& piece : encoded.body)
            if (!same(piece))
                return false;
        return true;
    }
};

// The new stream file, finished, takes the old one's place; the first
// original stays beside it until it is restored.
void PutInPlace(const Folder& work, const std::string& name, ReplacingFileWriter& file,
                std::optional<OldStream>& old) {
    const std::string original = KeptOriginalOf(name);
    if (StatusAt(work, original, false).kind == NameStatus::Kind::Missing)
        CopyFileAt(work, name, original);
    old.reset();  // Windows renames over no file that is still open
    file.RenameIntoPlace();
    work.Sync();
}

// The stream a replacement is encoded like: its header's tags, codec,
// layout and block length.
struct StreamTemplate {
    StreamInfo info;
    std::string header;
};

// The kept original where there is one that can be replaced, so that the
// same audio always gives the same stream however often it is replaced;
// else the stream file as it is.
StreamTemplate TemplateFor(const Folder& work, const std::string& name, const OldStream& old) {
    StreamTemplate chosen{old.info, {}};
    const ByteSource* source = &old.file;
    const FileSource original(work, KeptOriginalOf(name));
    // A kept original that is there but cannot be read must not be passed
    // over: the new stream would then depend on what was replaced before.
    if (!original.IsOpen() && original.OpenError() != ENOENT)
        throw IoError(original.OpenError(),
                      "Cannot open file " + work.PathOf(KeptOriginalOf(name)));
    if (original.IsOpen()) {
        StreamInfo info = ReadStreamInfo(original);
        if (info.hasHeader && EncodeVerdict(info, name).ok) {
            chosen.info = std::move(info);
            source = &original;
        }
    }
    chosen.header.resize(chosen.info.headerSize);
    if (source->ReadAt(0, chosen.header.data(), chosen.header.size()) != chosen.header.size())
        throw IoError(EIO, "Cannot read " + work.PathOf(name));
    return chosen;
}

// Encodes the audio file in the template's format, reading it a chunk at a
// time (twice for codecs whose coefficients are fitted to all of it).
EncodedStream Encode(const StreamTemplate& like, const AudioAt& audioFile, WindowServices& window,
                     const ReplaceOptions& options, const std::string& name, LoopDecision& loop,
                     std::vector<std::int16_t>* converted) {
    const StreamInfo& info = like.info;
    AudioFileReader audio(audioFile.folder, audioFile.name);
    StreamEncoder encoder(info, like.header);
    const double expected = static_cast<double>(audio.Facts().expectedFrames);
    // The audio's own time, done of the whole: the positions are per mille.
    if (expected > 0 && options.showProgress && audio.Facts().rate > 0)
        window.BeginProgressPhase({"Encoding", ProgressPhase::Unit::AudioMilliseconds,
                                   static_cast<std::int64_t>(expected * 1000 / audio.Facts().rate),
                                   0, kProgressSteps});
    try {
        // A length the file declares exactly is known before it is read.
        if (const auto declared = audio.Facts().exactFrames)
            encoder.CheckLength(static_cast<std::uint64_t>(static_cast<double>(*declared) *
                                                           static_cast<double>(info.sampleRate) /
                                                           audio.Facts().rate));
        // Coefficients in the header are fitted to all of the sound: a first
        // reading of the file, kept to a bounded set of windows.
        if (encoder.NeedsTraining())
            AudioFileReader(audioFile.folder, audioFile.name)
                .ConvertTo(
                    static_cast<int>(info.sampleRate), static_cast<int>(info.channels),
                    [&encoder](const std::int16_t* samples, std::size_t frames) {
                        encoder.Train(samples, frames);
                        return true;
                    },
                    [&](std::uint64_t) { window.PumpEvents(); });
        audio.ConvertTo(
            static_cast<int>(info.sampleRate), static_cast<int>(info.channels),
            [&encoder, converted, &info](const std::int16_t* samples, std::size_t frames) {
                encoder.Add(samples, frames);
                if (converted)
                    converted->insert(converted->end(), samples, samples + frames * info.channels);
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
    loop = ChooseLoop(info, encoder.Frames(), audio.Facts().rate, audio.Facts().loop, options.loop);
    if (!loop.refusal.empty())
        return {};
    return encoder.Finish(loop.loop);
}

// The new stream read back by the program's own decoder, against the audio
// as it was converted for it.
ReplacePreview Preview(const EncodedStream& encoded, const std::vector<std::int16_t>& converted,
                       const std::string& name) {
    std::string bytes = encoded.head;
    for (const std::string& piece : encoded.body)
        bytes += piece;
    const MemorySource source(bytes);
    const StreamInfo info = ReadStreamInfo(source);
    ReplacePreview preview;
    preview.decoded = DecodeStream(source, info, name);
    preview.channels = static_cast<int>(info.channels);
    preview.rate = static_cast<int>(info.sampleRate);
    double signal = 0, error = 0;
    const std::size_t n = std::min(converted.size(), preview.decoded.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int difference = preview.decoded[i] - converted[i];
        signal += double(converted[i]) * converted[i];
        error += double(difference) * difference;
        preview.peakDifference = std::max(preview.peakDifference, std::abs(difference));
    }
    preview.snrDb = error == 0 ? 999.0 : signal == 0 ? 0.0 : 10 * std::log10(signal / error);
    return preview;
}

// Replaces the stream file name of the taken folder with the audio file;
// boxes are the caller's. Throws for what cannot be read or written.
StepResult ReplaceIn(const Folder& work, const std::string& name, const AudioAt& audioFile,
                     WindowServices& window, const ReplaceOptions& options, ReplaceReport* report) {
    std::optional<OldStream> old(std::in_place, work, name);
    const StreamTemplate like = TemplateFor(work, name, *old);
    const StreamInfo& info = like.info;
    if (Verdict verdict = EncodeVerdict(info, name); !verdict.ok)
        return {ReplaceOutcome::CannotEncode, std::move(verdict.why)};
    if (options.loop && !info.Loops())
        return {ReplaceOutcome::LoopRefused,
                "The stream " + name + " does not loop, so it takes no loop."};
    LoopDecision loop;
    std::vector<std::int16_t> converted;
    EncodedStream encoded =
        Encode(like, audioFile, window, options, name, loop, options.dryRun ? &converted : nullptr);
    if (!loop.refusal.empty())
        return {ReplaceOutcome::LoopRefused, loop.refusal};
    const std::uint64_t oldSize = old->size;
    const std::uint64_t newSize = encoded.Size();
    const std::uint64_t frames = encoded.frames;
    if (report) {
        report->oldSize = oldSize;
        report->newSize = newSize;
        report->oldSeconds = old->info.Duration();
        report->newSeconds = static_cast<double>(frames) / static_cast<double>(info.sampleRate);
        report->loop = loop;
        report->loopText = DescribeLoop(loop, info.sampleRate);
    }
    if (options.dryRun) {
        if (report)
            report->preview = Preview(encoded, converted, name);
        return {ReplaceOutcome::Previewed, {}};
    }
    // The very bytes the file holds already: nothing to write.
    if (old->Holds(encoded))
        return {ReplaceOutcome::Unchanged, {}};

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

    PutInPlace(work, name, file, old);
    return {};
}

// The audio file at a path, reached through its folder, opened once.
struct AudioFileOfPath {
    Folder folder;
    std::string name;

    explicit AudioFileOfPath(const std::string& path)
        : folder(PackNamesFor(path).parentFolder), name(FileNamePart(path)) {
        if (!folder.IsOpen())
            throw AudioFileError("Cannot read the audio file " + path + ": " +
                                 ErrorText(folder.OpenError()));
    }
};

// A dry run: the folder opened for reading only, nothing written.
ReplaceOutcome PreviewReplacement(const std::string& folder, const std::string& name,
                                  const std::string& audioFile, WindowServices& window,
                                  ReplaceReport* report, const ReplaceOptions& options) {
    if (std::string refusal = RowNameRefusal(name); !refusal.empty())
        throw InputError("T" + refusal.substr(1) + " " + folder + ".");
    const Folder work(folder);
    if (!work.IsOpen())
        throw IoError(work.OpenError(), "Cannot open the folder " + folder);
    StepResult result;
    {
        DisabledWindowGuard disabled(window);
        window.SetProgressMin(0);
        window.SetProgressMax(kProgressSteps);
        const AudioFileOfPath audio(audioFile);
        result = ReplaceIn(work, name, AudioAt{audio.folder, audio.name}, window, options, report);
    }
    window.SetProgressPosition(0);
    if (!result.refusal.empty())
        window.WarningBox(result.refusal, "Error");
    return result.outcome;
}

}  // namespace

ReplaceOutcome ReplaceStream(const std::string& folder, const std::string& name,
                             const std::string& audioFile, WindowServices& window,
                             ReplaceReport* report, const ReplaceOptions& options) {
    if (options.dryRun)
        return PreviewReplacement(folder, name, audioFile, window, report, options);
    auto stream = TakeStream(folder, name, window);
    if (!stream)
        return ReplaceOutcome::FolderInUse;
    StepResult result;
    {
        DisabledWindowGuard disabled(window);
        window.SetProgressMin(0);
        window.SetProgressMax(kProgressSteps);
        const AudioFileOfPath audio(audioFile);
        result = ReplaceIn(stream->taken.Work(), name, AudioAt{audio.folder, audio.name}, window,
                           options, report);
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
bool SameSound(const OldStream& old, const std::string& name, const AudioAt& audioFile) {
    const StreamInfo& info = old.info;
    if (!info.Playable())
        return false;
    AudioFileReader audio(audioFile.folder, audioFile.name);
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
    const std::string counts = "Replaced " + count(replaced, "stream", "streams") + ", " +
                               std::to_string(unchanged) + " unchanged, " + std::to_string(failed) +
                               " failed";
    if (stopped)
        return "Stopped after " + std::to_string(rowsDone) + " of " + std::to_string(rows) +
               " rows. " + counts + ".";
    return counts + ", " +
           count(static_cast<int>(unmatched.size()), "file matched no stream.",
                 "files matched no stream.");
}

std::optional<FolderReplaceSummary> ReplaceFromFolder(
    const std::string& folder, const std::string& audioFolder, WindowServices& window,
    const std::function<void(const FolderStreamResult&)>& onStream) {
    // One lock for the run; the leftovers of any killed Replace or Restore.
    auto taken = TakeFolder(folder, window, [](const std::string& target) {
        return target.size() > 4 && (target.substr(target.size() - 4) == ".asf" ||
                                     target.substr(target.size() - 5) == ".orig");
    });
    if (!taken)
        return std::nullopt;
    const Folder& work = taken->Work();
    // The audio folder is opened once too, after the work folder: audio kept
    // in the work folder itself is read through the folder taken.
    std::optional<Folder> ownAudio;
    if (audioFolder != folder) {
        ownAudio.emplace(audioFolder);
        if (!ownAudio->IsOpen())
            throw IoError(ownAudio->OpenError(), "Cannot open the folder " + audioFolder);
    }
    const Folder& audio = ownAudio ? *ownAudio : work;
    // The audio files, by the name they share with a stream.
    std::map<std::string, std::vector<std::string>> filesByStem;
    for (const std::string& name : NamesIn(audio))
        if (IsReplaceableAudioName(name) &&
            StatusAt(audio, name, true).kind == NameStatus::Kind::File)
            filesByStem[Stem(name)].push_back(name);
    for (auto& [stem, files] : filesByStem)
        std::sort(files.begin(), files.end());

    StreamTable table;
    LoadWorkTable(table, work);

    FolderReplaceSummary summary;
    summary.rows = table.RowCount() - 1;
    std::set<std::string> matched;
    // Busy, not disabled: the window's stop stays at hand.
    BusyGuard busy(window);
    window.SetProgressMin(0);
    window.SetProgressMax(std::max(1, table.RowCount() - 1));
    window.BeginProgressPhase({"Replacing streams", ProgressPhase::Unit::Streams,
                               table.RowCount() - 1, 0, table.RowCount() - 1});
    ReplaceOptions options;
    options.showProgress = false;
    for (std::int32_t row = 1; row < table.RowCount(); ++row) {
        window.SetProgressPosition(row);
        window.PumpEvents();
        if (window.StopRequested()) {
            summary.stopped = true;
            break;
        }
        summary.rowsDone = row;
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
            if (std::string refusal = RowNameRefusal(name); !refusal.empty())
                throw InputError(refusal);
            if (files->second.size() > 1)
                throw InputError("two audio files for one stream (" + result.audioFile + ")");
            const AudioAt file{audio, files->second.front()};
            // Closed again before a replacement renames over the file.
            const bool same = SameSound(OldStream(work, name), name, file);
            if (same) {
                result.kind = FolderStreamResult::Kind::Unchanged;
            } else {
                const StepResult step =
                    ReplaceIn(work, name, file, window, options, &result.report);
                if (!step.refusal.empty())
                    throw InputError(step.refusal);
                result.kind = step.outcome == ReplaceOutcome::Unchanged
                                  ? FolderStreamResult::Kind::Unchanged
                                  : FolderStreamResult::Kind::Replaced;
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
    // Files of rows not reached are not known to match nothing.
    for (const auto& [stem, files] : filesByStem)
        if (!summary.stopped && !matched.count(stem))
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

namespace {

// The loop asked for in the stream's samples, or why it cannot be set.
std::optional<SampleLoop> LoopInSamples(const LoopRequest& request, const StreamInfo& info,
                                        const std::string& name, std::string& refusal) {
    const auto toSamples = [&](double value) {
        return request.inSamples ? value : value * static_cast<double>(info.sampleRate);
    };
    const double start = std::round(toSamples(request.start));
    const double end = std::round(toSamples(request.end));
    const auto samples = static_cast<double>(info.samples);
    if (start < 0 || end <= start || end > samples) {
        refusal = "The loop " + std::to_string(static_cast<long long>(start)) + "-" +
                  std::to_string(static_cast<long long>(end)) + " does not lie inside the " +
                  std::to_string(info.samples) + " samples of " + name + ".";
        return std::nullopt;
    }
    return SampleLoop{static_cast<std::uint64_t>(start), static_cast<std::uint64_t>(end)};
}

// Why the header alone cannot carry a new loop of the stream; empty when it can.
std::string LoopRefusal(const StreamInfo& info, const FileSource& file, const std::string& name) {
    if (info.headerSize == 0)
        return "The stream " + name + " has no stream header.";
    if (info.codec == Codec::MicroTalk10 || info.codec == Codec::MicroTalk5)
        return "The loop of " + name +
               " cannot be set in its header alone: a MicroTalk stream keeps its loop as a second "
               "bitstream.";
    for (std::uint64_t at = 0;;) {
        const auto block = ReadPreamble(file, at, BlockSizeRule::EitherOrder);
        if (!block || block->size < kBlockPreamble || block->Is("SCEl"))
            return "";
        if (block->Is("SCLl"))
            return "The loop of " + name +
                   " cannot be set in its header alone: the stream has a loop block as well.";
        at += block->size;
    }
}

}  // namespace

ReplaceOutcome SetStreamLoop(const std::string& folder, const std::string& name,
                             const LoopRequest& request, WindowServices& window,
                             std::optional<SampleLoop>* written) {
    auto stream = TakeStream(folder, name, window);
    if (!stream)
        return ReplaceOutcome::FolderInUse;
    const Folder& work = stream->taken.Work();
    std::optional<OldStream> old(std::in_place, work, name);
    const StreamInfo& info = old->info;
    std::string refusal = LoopRefusal(info, old->file, name);
    std::optional<SampleLoop> loop;
    if (refusal.empty() && !request.off)
        loop = LoopInSamples(request, info, name, refusal);
    if (!refusal.empty()) {
        stream->taken.Release();
        window.WarningBox(refusal, "Error");
        return ReplaceOutcome::LoopRefused;
    }
    if (written)
        *written = loop;
    const auto now = info.ValidLoop();
    if (loop ? now && now->first == loop->start && now->second == loop->end : !info.Loops())
        return ReplaceOutcome::Unchanged;

    // The new header, then every byte after the old one as it is.
    std::string header(info.headerSize, '\0');
    if (old->file.ReadAt(0, header.data(), header.size()) != header.size())
        throw InputError("The stream file " + work.PathOf(name) + " changed while it was read.");
    HeaderChanges changes;
    changes.keepCount = true;
    changes.loop = loop;
    changes.dropLoop = !loop;
    ReplacingFileWriter file(work, name);
    file.Write(RewriteHeader(header, info.headerSize, changes));
    std::string chunk(1 << 20, '\0');
    for (std::uint64_t at = info.headerSize; at < old->size;) {
        const std::size_t n = old->file.ReadAt(at, chunk.data(), chunk.size());
        if (n == 0)
            throw InputError("The stream file " + work.PathOf(name) +
                             " changed while it was read.");
        file.Write(std::string_view(chunk.data(), n));
        at += n;
    }
    file.Finish();
    PutInPlace(work, name, file, old);
    return ReplaceOutcome::LoopWritten;
}

std::string RestoreSummary::Text() const {
    return "Restored " + std::to_string(restored) + (restored == 1 ? " stream" : " streams") +
           (failed > 0 ? ", " + std::to_string(failed) + " failed." : ".");
}

std::optional<RestoreSummary> RestoreStreams(
    const std::string& folder, const std::vector<std::string>& names, bool onlyKept,
    WindowServices& window,
    const std::function<void(const std::string&, const std::string&)>& onStream) {
    std::set<std::string> targets;
    for (const std::string& name : names) {
        if (std::string refusal = RowNameRefusal(name); !refusal.empty())
            throw InputError("T" + refusal.substr(1) + " " + folder + ".");
        targets.insert(name);
        targets.insert(KeptOriginalOf(name));
    }
    auto taken = TakeFolder(folder, window,
                            [&](const std::string& target) { return targets.count(target) > 0; });
    if (!taken)
        return std::nullopt;
    const Folder& work = taken->Work();
    RestoreSummary summary;
    for (const std::string& name : names) {
        const std::string original = KeptOriginalOf(name);
        if (StatusAt(work, original, false).kind != NameStatus::Kind::File) {
            if (!onlyKept) {
                ++summary.failed;
                onStream(name, "no original of it is kept");
            }
            continue;
        }
        RenameAt(work, original, name);
        ++summary.restored;
        onStream(name, "");
    }
    try {
        work.Sync();
    } catch (const IoError& e) {
        throw IoError(e.code().value(), "The originals are back in place, but the folder " +
                                            folder + " could not be synced to disk");
    }
    return summary;
}

}  // namespace tamrel
