#include "audio/ReplacementLoop.h"

#include <cmath>

namespace tamrel {

namespace {

std::string Range(double from, double to) {
    return FormatDuration(from) + " to " + FormatDuration(to);
}

}  // namespace

LoopDecision ChooseLoop(const StreamInfo& old, std::uint64_t newFrames, int fileRate,
                        std::optional<FrameLoop> fileLoop, std::optional<GivenLoop> given) {
    LoopDecision decision;
    const auto rate = static_cast<double>(old.sampleRate);
    const double seconds = static_cast<double>(newFrames) / rate;
    if (given) {
        const std::string range = Range(given->start, given->end);
        if (!old.Loops()) {
            decision.refusal = "The stream does not loop, so it takes no loop (" + range + ").";
            return decision;
        }
        const auto start = static_cast<std::int64_t>(std::llround(given->start * rate));
        const auto end = static_cast<std::int64_t>(std::llround(given->end * rate));
        if (given->start < 0 || start >= end || end > static_cast<std::int64_t>(newFrames)) {
            decision.refusal = "The loop " + range +
                               " does not lie within the new audio, which is " +
                               FormatDuration(seconds) + " long.";
            return decision;
        }
        decision.loop =
            SampleLoop{static_cast<std::uint64_t>(start), static_cast<std::uint64_t>(end)};
        decision.origin = LoopOrigin::Given;
        return decision;
    }
    if (fileLoop) {
        // At the stream's rate, to the nearest sample: at the same rate the
        // values come back exactly.
        const double scale = rate / fileRate;
        const auto start =
            static_cast<std::uint64_t>(std::llround(static_cast<double>(fileLoop->start) * scale));
        const auto end =
            static_cast<std::uint64_t>(std::llround(static_cast<double>(fileLoop->end) * scale));
        const std::string range = Range(static_cast<double>(fileLoop->start) / fileRate,
                                        static_cast<double>(fileLoop->end) / fileRate);
        if (!old.Loops())
            decision.unusedFileLoop =
                "The audio file's loop (" + range + ") was not used: the stream does not loop.";
        else if (start >= end || end > newFrames)
            decision.unusedFileLoop =
                "The audio file's loop (" + range + ") was not used: it lies outside the audio.";
        else {
            decision.loop = SampleLoop{start, end};
            decision.origin = LoopOrigin::AudioFile;
            return decision;
        }
    }
    if (!old.Loops())
        return decision;
    // An editor that drops the loop but keeps the length keeps the stream's loop.
    const auto oldLoop = old.ValidLoop();
    if (!fileLoop && oldLoop && newFrames == old.samples) {
        decision.loop = SampleLoop{oldLoop->first, oldLoop->second};
        decision.origin = LoopOrigin::KeptFromStream;
        return decision;
    }
    decision.loop = SampleLoop{0, newFrames};
    decision.origin = LoopOrigin::WholeAudio;
    return decision;
}

std::string DescribeLoop(const LoopDecision& decision, std::int64_t rate) {
    std::string text;
    if (decision.loop && rate > 0) {
        text = "Loop " +
               Range(static_cast<double>(decision.loop->start) / static_cast<double>(rate),
                     static_cast<double>(decision.loop->end) / static_cast<double>(rate)) +
               ": ";
        switch (decision.origin) {
            case LoopOrigin::Given:
                text += "as given.";
                break;
            case LoopOrigin::AudioFile:
                text += "the audio file's loop.";
                break;
            case LoopOrigin::KeptFromStream:
                text += "the stream's own loop, kept, as the new audio is just as long.";
                break;
            case LoopOrigin::WholeAudio:
            case LoopOrigin::None:
                text += "the whole new audio.";
                break;
        }
    }
    if (!decision.unusedFileLoop.empty())
        text += (text.empty() ? "" : " ") + decision.unusedFileLoop;
    return text;
}

}  // namespace tamrel
