#include "archive/Replace.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <stdexcept>

#include "archive/FolderCommit.h"
#include "archive/Path.h"
#include "archive/WindowServices.h"
#include "audio/AudioFile.h"
#include "audio/Decoder.h"
#include "audio/Encoder.h"
#include "audio/StreamInfo.h"
#include "io/FileIo.h"

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
    if (name.empty() || name.find_first_of("/\\") != std::string::npos || name == "." ||
        name == "..")
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
    const FileSource written(file.FolderFd(), file.TemporaryName(), file.TemporaryPath());
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

ReplaceOutcome ReplaceStream(const std::string& folder, const std::string& name,
                             const std::string& audioFile, WindowServices& window,
                             ReplaceReport* report, const ReplaceOptions& options) {
    auto stream = TakeStream(folder, name, window);
    if (!stream)
        return ReplaceOutcome::FolderInUse;
    const Folder& work = stream->taken.Work();
    // No box waits for the user while the folder is locked.
    auto refuse = [&](ReplaceOutcome outcome, const std::string& text) {
        stream->taken.Release();
        window.WarningBox(text, "Error");
        return outcome;
    };

    // The old stream is read where needed, never whole: its header, its
    // blocks' preambles, and later a copy made a chunk at a time.
    const FileSource old(work.Fd(), name, work.PathOf(name));
    if (!old.IsOpen())
        throw IoError(old.OpenError(), "Cannot open file " + work.PathOf(name));
    const std::uint64_t oldSize = old.Size();
    const StreamInfo info = ReadStreamInfo(old);
    if (const std::string refusal = info.PlausibilityRefusal(name);
        info.hasHeader && !refusal.empty())
        return refuse(ReplaceOutcome::CannotEncode, refusal);
    if (!CanEncode(info))
        return refuse(ReplaceOutcome::CannotEncode,
                      "The stream " + name + " is " +
                          (info.hasHeader ? info.CodecName() : "without a stream header") +
                          ", which this program cannot encode yet.");
    if (options.loop && !info.Loops())
        return refuse(ReplaceOutcome::LoopRefused,
                      "The stream " + name + " does not loop, so it takes no loop.");
    AudioFileReader audio(audioFile);
    std::string oldHeader(info.headerSize, '\0');
    if (old.ReadAt(0, oldHeader.data(), oldHeader.size()) != oldHeader.size())
        throw IoError(EIO, "Cannot read " + work.PathOf(name));

    DisabledWindowGuard disabled(window);
    window.SetProgressMin(0);
    window.SetProgressMax(kProgressSteps);
    StreamEncoder encoder(info, oldHeader);
    const double expected = static_cast<double>(audio.Facts().expectedFrames);
    try {
        audio.ConvertTo(
            static_cast<int>(info.sampleRate), static_cast<int>(info.channels),
            [&encoder](const std::int16_t* samples, std::size_t frames) {
                encoder.Add(samples, frames);
            },
            [&](std::uint64_t read) {
                if (expected > 0)
                    window.SetProgressPosition(static_cast<std::int32_t>(
                        std::min(1.0, static_cast<double>(read) / expected) * kProgressSteps));
                window.PumpEvents();
            });
    } catch (const EncodeError& e) {
        throw EncodeError("Cannot replace " + name + ": " + e.what() + ".");
    }
    const LoopDecision loop =
        ChooseLoop(info, encoder.Frames(), audio.Facts().rate, audio.Facts().loop, options.loop);
    if (!loop.refusal.empty()) {
        disabled.Release();
        window.SetProgressPosition(0);
        return refuse(ReplaceOutcome::LoopRefused, loop.refusal);
    }
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
    if (StatusAt(work.Fd(), stream->original, false).kind == NameStatus::Kind::Missing)
        CopyFileAt(work, name, stream->original);
    file.RenameIntoPlace();
    work.Sync();
    stream->taken.Release();
    disabled.Release();
    window.SetProgressPosition(0);

    if (report) {
        report->oldSize = oldSize;
        report->newSize = newSize;
        report->oldSeconds = info.Duration();
        report->newSeconds = static_cast<double>(frames) / static_cast<double>(info.sampleRate);
        report->loop = loop;
        report->loopText = DescribeLoop(loop, info.sampleRate);
    }
    return ReplaceOutcome::Replaced;
}

ReplaceOutcome RestoreStream(const std::string& folder, const std::string& name,
                             WindowServices& window) {
    auto stream = TakeStream(folder, name, window);
    if (!stream)
        return ReplaceOutcome::FolderInUse;
    const Folder& work = stream->taken.Work();
    if (StatusAt(work.Fd(), stream->original, false).kind != NameStatus::Kind::File) {
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
