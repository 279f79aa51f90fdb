// Replacing a stream file of a work folder with any audio file, encoded in
// the stream's own format, and putting the original back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "audio/ReplacementLoop.h"

namespace tamrel {

class WindowServices;

enum class ReplaceOutcome {
    Replaced,
    Restored,
    FolderInUse,   // "FOLDER is in use by another command of this program."
    CannotEncode,  // "The stream NAME is CODEC, which this program cannot encode yet.", or
                   // its header declares what no stream can have
    LoopRefused,   // a loop given by hand that the stream or the audio cannot take
    NoOriginal,    // nothing was kept to restore
};

struct ReplaceReport {
    std::uint64_t oldSize = 0, newSize = 0;  // bytes of the stream file
    double oldSeconds = 0, newSeconds = 0;
    LoopDecision loop;     // which loop the new stream got, and why
    std::string loopText;  // DescribeLoop of it: empty for a stream that does not loop
};

struct ReplaceOptions {
    std::optional<GivenLoop> loop;  // a loop by hand, in seconds of the audio file
};

// The copy of the first original that a replacement keeps beside a stream file.
std::string KeptOriginalOf(const std::string& streamPath);

// Encodes audioFile in the codec, layout, rate and channels of the stream
// file name in folder and writes it over that file, under the folder's lock.
// The audio is read, converted and encoded a chunk at a time; the new stream
// is decoded back from its temporary file before it takes the old one's
// place. The first replacement keeps the original as NAME.asf.orig. The
// table file is not changed: Pack reads the file's new size. Throws
// AudioFileError for an audio file that cannot be read or is damaged; on
// every refusal and error nothing in the folder changes.
ReplaceOutcome ReplaceStream(const std::string& folder, const std::string& name,
                             const std::string& audioFile, WindowServices& window,
                             ReplaceReport* report = nullptr, const ReplaceOptions& options = {});

// Puts the kept original back over the stream file and removes the copy.
ReplaceOutcome RestoreStream(const std::string& folder, const std::string& name,
                             WindowServices& window);

}  // namespace tamrel
