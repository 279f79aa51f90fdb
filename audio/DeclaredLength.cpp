#include "audio/DeclaredLength.h"

#include <ogg/ogg.h>
#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "io/Bytes.h"
#include "io/FileIo.h"

namespace tamrel {

namespace {

// Calls visit(id, size, offset of the chunk's data) for each chunk of a
// RIFF or IFF file from offset 12, until visit returns false; sizes in the
// file's byte order, each chunk padded to an even length.
template <typename Visit>
void WalkChunks(const InputFile& file, bool bigEndian, Visit visit) {
    const auto size = static_cast<std::uint64_t>(file.RawSize());
    for (std::uint64_t at = 12; at + 8 <= size;) {
        unsigned char chunk[8];
        if (file.ReadAt(at, reinterpret_cast<char*>(chunk), 8) != 8)
            return;
        const std::uint32_t chunkSize = ReadUint32(chunk + 4, bigEndian);
        if (!visit(std::string(reinterpret_cast<const char*>(chunk), 4), chunkSize, at + 8))
            return;
        at += 8 + std::uint64_t{chunkSize} + (chunkSize & 1);
    }
}

bool FixedBytesPerFrame(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
            return true;
        default:
            return false;
    }
}

// A WAV file's frames: its data chunk's size over the frame's bytes where a
// frame is a fixed number of bytes, else its fact chunk's sample count.
std::optional<std::uint64_t> WavFrames(const InputFile& file, int format) {
    unsigned char riff[12];
    if (file.ReadAt(0, reinterpret_cast<char*>(riff), 12) != 12 ||
        std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return std::nullopt;
    const bool fixed = FixedBytesPerFrame(format);
    std::uint32_t blockAlign = 0;
    std::optional<std::uint64_t> frames;
    WalkChunks(file, false, [&](const std::string& id, std::uint32_t size, std::uint64_t data) {
        unsigned char bytes[14];
        if (id == "fmt " && size >= 14 &&
            file.ReadAt(data, reinterpret_cast<char*>(bytes), 14) == 14)
            blockAlign = bytes[12] | bytes[13] << 8;
        if (id == "fact" && !fixed && size >= 4 &&
            file.ReadAt(data, reinterpret_cast<char*>(bytes), 4) == 4) {
            frames = ReadUint32(bytes, /*bigEndian=*/false);
            return false;
        }
        if (id == "data" && fixed) {
            // Writers that could not go back to fill the size in leave it
            // open: no exact length then.
            if (blockAlign != 0 && size != 0 && size != 0xFFFFFFFFu)
                frames = size / blockAlign;
            return false;
        }
        return true;
    });
    return frames;
}

// An AIFF (or AIFF-C) file's frames: its COMM chunk's count.
std::optional<std::uint64_t> AiffFrames(const InputFile& file) {
    unsigned char form[12];
    if (file.ReadAt(0, reinterpret_cast<char*>(form), 12) != 12 ||
        std::memcmp(form, "FORM", 4) != 0 ||
        (std::memcmp(form + 8, "AIFF", 4) != 0 && std::memcmp(form + 8, "AIFC", 4) != 0))
        return std::nullopt;
    std::optional<std::uint64_t> frames;
    WalkChunks(file, true, [&](const std::string& id, std::uint32_t size, std::uint64_t data) {
        unsigned char comm[6];
        if (id != "COMM")
            return true;
        if (size >= 6 && file.ReadAt(data, reinterpret_cast<char*>(comm), 6) == 6)
            frames = ReadUint32(comm + 2, /*bigEndian=*/true);
        return false;
    });
    return frames;
}

// Walks an Ogg file's pages: each must pass its checksum, follow the page
// before it in its stream, and each stream must end with its end-of-stream
// page. Returns where the sound breaks, in seconds, or nothing when whole.
std::optional<double> OggDamage(const InputFile& file, int rate) {
    struct Stream {
        long nextPage = 0;
        bool ended = false;
        std::int64_t granule = 0;
    };
    std::map<int, Stream> streams;
    std::int64_t lastGranule = 0;  // of the last whole page, in its stream's units
    std::int64_t preSkip = 0;      // Opus: the samples its decoder drops first
    double unitsPerSecond = rate;
    auto damagedAt = [&] {
        return std::max(0.0, static_cast<double>(lastGranule - preSkip) / unitsPerSecond);
    };

    ogg_sync_state sync;
    ogg_sync_init(&sync);
    struct Clear {
        ogg_sync_state* s;
        ~Clear() { ogg_sync_clear(s); }
    } clear{&sync};
    constexpr std::size_t kChunk = 1 << 16;
    const auto size = static_cast<std::uint64_t>(file.RawSize());
    for (std::uint64_t at = 0;;) {
        ogg_page page;
        const int got = ogg_sync_pageout(&sync, &page);
        if (got < 0)
            return damagedAt();  // bytes skipped: a checksum failed, or no page where one was due
        if (got == 0) {
            if (at >= size)
                break;
            char* buffer = ogg_sync_buffer(&sync, kChunk);
            const std::size_t n = file.ReadAt(at, buffer, kChunk);
            ogg_sync_wrote(&sync, static_cast<long>(n));
            at += n;
            if (n == 0)
                break;
            continue;
        }
        Stream& stream = streams[ogg_page_serialno(&page)];
        if (ogg_page_bos(&page) && page.body_len >= 12 &&
            std::memcmp(page.body, "OpusHead", 8) == 0) {
            preSkip = page.body[10] | page.body[11] << 8;
            unitsPerSecond = 48000;
        }
        if (stream.ended || ogg_page_pageno(&page) != stream.nextPage)
            return damagedAt();
        stream.nextPage = ogg_page_pageno(&page) + 1;
        stream.ended = ogg_page_eos(&page) != 0;
        if (ogg_page_granulepos(&page) >= 0)
            lastGranule = stream.granule = ogg_page_granulepos(&page);
    }
    // A page begun and not finished, or a stream without its last page: cut.
    if (sync.fill > sync.returned || streams.empty())
        return damagedAt();
    for (const auto& [serial, stream] : streams)
        if (!stream.ended)
            return damagedAt();
    return std::nullopt;
}

}  // namespace

DeclaredLength DeclaredLengthOf(const InputFile& file, int format, int rate,
                                std::int64_t libraryFrames) {
    DeclaredLength length;
    const int type = format & SF_FORMAT_TYPEMASK;
    if (type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX)
        length.frames = WavFrames(file, format);
    if (type == SF_FORMAT_AIFF)
        length.frames = AiffFrames(file);
    if (type == SF_FORMAT_OGG)
        length.damagedAt = OggDamage(file, rate);
    // FLAC's stream info, Ogg's last granule position; a length the library
    // could not find is no length.
    if ((type == SF_FORMAT_FLAC || type == SF_FORMAT_OGG) && libraryFrames > 0 &&
        libraryFrames < SF_COUNT_MAX)
        length.frames = static_cast<std::uint64_t>(libraryFrames);
    return length;
}

}  // namespace tamrel
