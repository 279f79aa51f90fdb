// The platforms a stream's header names (after "PT"), and the rules that
// follow from the platform alone.
#pragma once

namespace tamrel {

enum Platform : int {
    kPc = 0,
    kPsx = 1,
    kN64 = 2,
    kMac = 3,
    kSaturn = 4,
    kPs2 = 5,
    kGameCube = 6,
    kXbox = 7,
    kGeneric = 8,
    kXbox360 = 9,
    kPsp = 0x0A,
    kPs3 = 0x0E,
    kWii = 0x10,
    k3ds = 0x14,
};

// The later revision of the format's frames (the XA ADPCM R2/R3 family,
// MicroTalk's byte-aligned frames): version 3, or 2 on PC, Mac and generic.
inline bool IsLaterRevision(int platform, int version) {
    return version == 3 ||
           (version == 2 && (platform == kPc || platform == kMac || platform == kGeneric));
}

}  // namespace tamrel
