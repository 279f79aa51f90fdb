// A stream as a WAV file: decoded exactly, with its loop kept.
#pragma once

#include <functional>
#include <string>

#include "audio/StreamInfo.h"

namespace tamrel {

// Decodes the stream (name names it in errors) and writes wavPath through a
// temporary file; throws DecodeError for a stream without a decoder or with
// damage, IoError when the file cannot be written.
// progress is told each data block decoded and may stop the work (nothing
// is written then).
void ExportWav(const ByteSource& stream, const std::string& name, const std::string& wavPath,
               const std::function<bool(std::size_t)>& progress = {});
// The same into a file of an open folder.
void ExportWav(const ByteSource& stream, const std::string& name, const Folder& folder,
               const std::string& wavName, const std::function<bool(std::size_t)>& progress = {});

// The WAV file's name for a stream file's name: "intro_00002.asf" gives
// "intro_00002.wav".
std::string WavNameFor(const std::string& streamName);

}  // namespace tamrel
