#include "archive/Replace.h"

#include <memory>
#include <stdexcept>

#include "archive/FolderCommit.h"
#include "archive/Path.h"
#include "archive/WindowServices.h"
#include "audio/AudioFile.h"
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

}  // namespace

std::string KeptOriginalOf(const std::string& streamPath) {
    return streamPath + ".orig";
}

ReplaceOutcome ReplaceStream(const std::string& folder, const std::string& name,
                             const std::string& audioFile, WindowServices& window,
                             ReplaceReport* report) {
    const auto locked = LockStream(folder, name, window);
    if (!locked)
        return ReplaceOutcome::FolderInUse;
    const std::string& path = locked->path;
    const std::string& original = locked->original;
    RemoveLeftoverTemporaries(folder, [&](const std::string& target) {
        return target == name || target == FileNamePart(original);
    });

    const std::string old = ReadWholeFile(path);
    const StreamInfo info = ReadStreamInfo(MemorySource(old));
    if (!CanEncode(info)) {
        window.WarningBox("The stream " + name + " is " +
                              (info.hasHeader ? info.CodecName() : "without a stream header") +
                              ", which this program cannot encode yet.",
                          "Error");
        return ReplaceOutcome::CannotEncode;
    }
    const PcmAudio audio = ReadAudioFileAs(audioFile, info.sampleRate, info.channels);

    DisabledWindowGuard disabled(window);
    window.SetProgressMin(0);
    window.SetProgressMax(kProgressSteps);
    const std::string stream = EncodeStream(info, old, audio.samples, [&window](double done) {
        window.SetProgressPosition(static_cast<std::int32_t>(done * kProgressSteps));
        window.PumpEvents();
    });

    // The first original stays beside the file until it is restored.
    if (!IsExistingFile(original)) {
        ReplacingFileWriter copy(original);
        copy.Write(old);
        copy.Commit();
    }
    ReplacingFileWriter file(path);
    file.Write(stream);
    file.Commit();
    disabled.Release();
    window.SetProgressPosition(0);

    if (report) {
        report->oldSize = old.size();
        report->newSize = stream.size();
        report->oldSeconds = info.Duration();
        report->newSeconds = ReadStreamInfo(MemorySource(stream)).Duration();
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
