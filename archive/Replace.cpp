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

// The folder locked for a command that writes it, with an interrupted
// commit completed; false (and the box said) when another command has it.
bool LockFolder(FolderLock& lock, const std::string& folder, WindowServices& window) {
    const FolderLock::Result locked = lock.TryLock(folder);
    if (locked == FolderLock::Result::InUse) {
        window.WarningBox(FolderInUseText(folder), "Error");
        return false;
    }
    if (locked == FolderLock::Result::CannotOpen)
        throw IoError(lock.OpenError(), "Cannot open folder " + folder);
    CompleteInterruptedCommit(folder, window);
    return true;
}

// A stream file of the folder and its kept original, the folder locked
// for the command; nothing when another command has it.
struct LockedStream {
    FolderLock lock;
    std::string path, original;
};

std::unique_ptr<LockedStream> LockStream(const std::string& folder, const std::string& name,
                                         WindowServices& window) {
    // A name is a file of the folder itself, never a path.
    if (name.empty() || name.find_first_of("/\\") != std::string::npos || name == "." ||
        name == "..")
        throw std::runtime_error("'" + name + "' is not a stream file in the work folder " +
                                 folder);
    auto stream = std::make_unique<LockedStream>();
    if (!LockFolder(stream->lock, folder, window))
        return nullptr;
    stream->path = JoinPath(folder, name);
    stream->original = KeptOriginalOf(stream->path);
    return stream;
}

// Decodes the new stream back from its file, block by block: a stream that
// the program cannot read back, or that holds another number of samples
// than were encoded, never replaces the old one.
void ReadBack(const std::string& path, const std::string& name, std::uint64_t frames) {
    const FileSource written(path);
    if (!written.IsOpen())
        throw IoError(written.OpenError(), "Cannot open file " + path);
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
    const auto locked = LockStream(folder, name, window);
    if (!locked)
        return ReplaceOutcome::FolderInUse;
    const std::string& path = locked->path;
    const std::string& original = locked->original;
    RemoveLeftoverTemporaries(folder, [&](const std::string& target) {
        return target == name || target == FileNamePart(original);
    });

    // The old stream is read where needed, never whole: its header, its
    // blocks' preambles, and later a copy made a chunk at a time.
    const FileSource old(path);
    if (!old.IsOpen())
        throw IoError(old.OpenError(), "Cannot open file " + path);
    const std::uint64_t oldSize = old.Size();
    const StreamInfo info = ReadStreamInfo(old);
    if (const std::string refusal = info.PlausibilityRefusal(name);
        info.hasHeader && !refusal.empty()) {
        window.WarningBox(refusal, "Error");
        return ReplaceOutcome::CannotEncode;
    }
    if (!CanEncode(info)) {
        window.WarningBox("The stream " + name + " is " +
                              (info.hasHeader ? info.CodecName() : "without a stream header") +
                              ", which this program cannot encode yet.",
                          "Error");
        return ReplaceOutcome::CannotEncode;
    }
    if (options.loop && !info.Loops()) {
        window.WarningBox("The stream " + name + " does not loop, so it takes no loop.", "Error");
        return ReplaceOutcome::LoopRefused;
    }
    AudioFileReader audio(audioFile);
    std::string oldHeader(info.headerSize, '\0');
    if (old.ReadAt(0, oldHeader.data(), oldHeader.size()) != oldHeader.size())
        throw IoError(EIO, "Cannot read " + path);

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
    const LoopDecision loop = ChooseLoop(info, encoder.Frames(), audio.Facts().rate,
                                         audio.Facts().loop, options.loop);
    if (!loop.refusal.empty()) {
        disabled.Release();
        window.SetProgressPosition(0);
        window.WarningBox(loop.refusal, "Error");
        return ReplaceOutcome::LoopRefused;
    }
    EncodedStream stream = encoder.Finish(loop.loop);
    const std::uint64_t newSize = stream.Size();
    const std::uint64_t frames = stream.frames;

    // The new stream goes to its temporary file first, which tells early
    // whether the stream file can be written at all.
    ReplacingFileWriter file(path);
    file.Write(stream.head);
    for (std::string& piece : stream.body) {
        file.Write(piece);
        std::string().swap(piece);  // given back as soon as it is on its way
    }
    file.Finish();
    ReadBack(file.TemporaryPath(), name, frames);

    // The first original stays beside the file until it is restored.
    if (!IsExistingFile(original))
        CopyFileReplacing(path, original);
    file.RenameIntoPlace();
    SyncFolder(folder);
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
    const auto locked = LockStream(folder, name, window);
    if (!locked)
        return ReplaceOutcome::FolderInUse;
    const std::string& path = locked->path;
    const std::string& original = locked->original;
    if (!IsExistingFile(original)) {
        window.InformationBox("No original of " + name + " is kept in " + folder + ".",
                              "Information");
        return ReplaceOutcome::NoOriginal;
    }
    RenameFile(original, path);
    return ReplaceOutcome::Restored;
}

}  // namespace tamrel
