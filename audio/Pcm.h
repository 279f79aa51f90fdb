// PCM in every layout the streams hold: 16-bit in either byte order or
// 8-bit, interleaved or one run per channel.
#pragma once

#include <memory>

#include "audio/Codecs.h"

namespace tamrel {

std::unique_ptr<CodecDecoder> MakePcmDecoder(const StreamInfo& info);
std::unique_ptr<CodecEncoder> MakePcmEncoder(const StreamInfo& info, EncodeStats& stats);

}  // namespace tamrel
