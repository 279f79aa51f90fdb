// Replacing a stream file of a work folder with any audio file, encoded in
// the stream's own format, and putting the original back.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audio/ReplacementLoop.h"

namespace tamrel {

class WindowServices;

enum class ReplaceOutcome {
    Replaced,
    Unchanged,  // the audio encodes to the very bytes the stream file holds: nothing written
    Restored,
    FolderInUse,   // "FOLDER is in use by another command of this program."
    CannotEncode,  // EncodeVerdict refuses the stream: its why is the message
    LoopRefused,   // a loop given by hand that the stream or the audio cannot take
    NoOriginal,    // nothing was kept to restore
    LoopWritten,   // the header's loop tags were rewritten
    Previewed,     // a dry run: encoded and decoded in memory, nothing written
};

// A dry run's result: the new stream as the program's decoder reads it back,
// against the audio file as it was converted for it.
struct ReplacePreview {
    std::vector<std::int16_t> decoded;  // channels interleaved
    int channels = 0, rate = 0;
    double snrDb = 0;        // of the decoded sound against the converted audio
    int peakDifference = 0;  // the largest difference of one sample
};

struct ReplaceReport {
    std::uint64_t oldSize = 0, newSize = 0;  // bytes of the stream file
    double oldSeconds = 0, newSeconds = 0;
    LoopDecision loop;       // which loop the new stream got, and why
    std::string loopText;    // DescribeLoop of it: empty for a stream that does not loop
    ReplacePreview preview;  // a dry run's
};

struct ReplaceOptions {
    std::optional<GivenLoop> loop;  // a loop by hand, in seconds of the audio file
    bool showProgress = true;       // the progress bar follows the audio file's reading
    // Encode and decode back in memory and report (Previewed); the folder is
    // opened for reading only, not locked, and nothing is written.
    bool dryRun = false;
};

// The copy of the first original that a replacement keeps beside a stream
// file (a name or a path: NAME.asf gives NAME.asf.orig).
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

// One stream of a replacement from a folder of audio files.
struct FolderStreamResult {
    enum class Kind { Replaced, Unchanged, Failed };
    Kind kind = Kind::Failed;
    std::string name;       // the stream file
    std::string audioFile;  // the file (or files) that matched it
    std::string why;        // Failed: the reason
    ReplaceReport report;   // Replaced: what changed
};

struct FolderReplaceSummary {
    int replaced = 0, unchanged = 0, failed = 0;
    std::vector<std::string> unmatched;  // audio files that matched no stream
    // Stopped by the user: the rows dealt with, of all of them; the files
    // of the rows not reached are neither replaced nor called unmatched.
    bool stopped = false;
    int rowsDone = 0, rows = 0;
    // "Replaced 3 streams, 41 unchanged, 1 failed, 2 files matched no
    // stream.", after "Stopped after 44 of 900 rows. " when stopped.
    std::string Text() const;
    // Every file matched a stream, and every matched stream was replaced or unchanged.
    bool Complete() const { return !stopped && failed == 0 && unmatched.empty(); }
};

// The extensions of the audio files a folder replacement takes, any case.
bool IsReplaceableAudioName(const std::string& fileName);

// Replaces, in row order, every stream of the work folder whose name
// without ".asf" is the name without extension of an audio file in
// audioFolder, each as ReplaceStream does, under one lock for the whole run.
// A file whose decoding equals the stream's sample for sample (and whose
// loop, if it has one, is the stream's) is left as it is: "unchanged". A
// stream that fails is reported and the others go on. onStream hears each
// stream's end; the progress bar counts the rows. The user's stop ends it
// after the current row. Nothing when another command has the folder (the
// box said so).
std::optional<FolderReplaceSummary> ReplaceFromFolder(
    const std::string& folder, const std::string& audioFolder, WindowServices& window,
    const std::function<void(const FolderStreamResult&)>& onStream);

// A loop for SetStreamLoop: start to end (end not included) in seconds of
// the stream or in its samples, or none at all.
struct LoopRequest {
    bool off = false;
    bool inSamples = false;
    double start = 0, end = 0;
};

// Sets (or removes) the loop of the stream file name by rewriting the loop
// tags of its header alone: every other byte stays as it is, and a header
// without room for the tags grows. The first original is kept as
// NAME.asf.orig, and the file is replaced through a temporary one under the
// folder's lock. Refuses (LoopRefused, the box says why) a loop outside the
// stream, a stream whose loop the header alone does not carry (MicroTalk's,
// or one with a loop block) and a stream without a header; Unchanged when
// the header says so already. The loop written is given back in samples.
ReplaceOutcome SetStreamLoop(const std::string& folder, const std::string& name,
                             const LoopRequest& request, WindowServices& window,
                             std::optional<SampleLoop>* written = nullptr);

// What putting back many originals did.
struct RestoreSummary {
    int restored = 0, failed = 0;
    // "Restored 3 streams, 1 failed."
    std::string Text() const;
};

// Puts back the kept originals of the stream files names, under one lock for
// them all, syncing the folder once; a name without a kept original is
// reported as failed, unless onlyKept (every stream's name given, of which
// those with an original are restored). onStream hears each stream: its
// name, and why it failed (empty when restored). Nothing when another
// command has the folder (the box said so).
std::optional<RestoreSummary> RestoreStreams(
    const std::string& folder, const std::vector<std::string>& names, bool onlyKept,
    WindowServices& window,
    const std::function<void(const std::string&, const std::string&)>& onStream);

// Puts the kept original back over the stream file and removes the copy.
ReplaceOutcome RestoreStream(const std::string& folder, const std::string& name,
                             WindowServices& window);

}  // namespace tamrel
