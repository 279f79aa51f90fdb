// Which loop a replaced stream gets: the one the user gave, the audio file's
// own, the old stream's (when the new audio is just as long), or the whole
// new audio; and why an audio file's loop was left unused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "audio/AudioFile.h"
#include "audio/Encoder.h"
#include "audio/StreamInfo.h"

namespace tamrel {

// A loop given by hand, in seconds of the replacement audio: [start, end).
struct GivenLoop {
    double start = 0;
    double end = 0;
};

enum class LoopOrigin {
    None,            // the stream does not loop
    Given,           // given by hand
    AudioFile,       // the audio file's own loop
    KeptFromStream,  // the old stream's loop: the new audio is as long
    WholeAudio,      // over everything
};

struct LoopDecision {
    std::optional<SampleLoop> loop;  // in the new stream's samples
    LoopOrigin origin = LoopOrigin::None;
    std::string unusedFileLoop;  // why the audio file's loop was not taken, or empty
    std::string refusal;         // a given loop that cannot be taken, or empty
};

// The loop for a new stream of newFrames samples at old's rate, replacing
// old, from an audio file of fileRate frames per second.
LoopDecision ChooseLoop(const StreamInfo& old, std::uint64_t newFrames, int fileRate,
                        std::optional<FrameLoop> fileLoop, std::optional<GivenLoop> given);

// "Loop 0:12.00 to 1:30.00: the audio file's loop." and the like, for the
// messages of success; empty for a stream that does not loop.
std::string DescribeLoop(const LoopDecision& decision, std::int64_t rate);

}  // namespace tamrel
