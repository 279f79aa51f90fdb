// A stream as a WAV file: decoded exactly, with its loop kept.
#pragma once

#include <functional>
#include <string>

#include "audio/StreamInfo.h"

namespace tamrel {

// Decodes the stream (name names it in errors) and writes wavPath through a
// temporary file; throws DecodeError for a stream without a decoder or with
// damage, IoError when the file cannot be written.
void ExportWav(const ByteSource& stream, const std::string& name, const std::string& wavPath);

// The WAV file's name for a stream file's name: "intro_00002.asf" gives
// "intro_00002.wav".
std::string WavNameFor(const std::string& streamName);

}  // namespace tamrel
