// What the tool reads from a JPEG header beside MoxAnalysisHeader: the
// frame type, how the first scan is laid out, and the colour transform an
// Adobe APP14 segment (or the component identifiers) states.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace moxtool {

struct JpegFacts {
    int frameMarker = 0;       // 0xC0 baseline, 0xC1 extended, 0xC2 progressive, ...; 0 none seen
    int frameComponents = 0;
    uint8_t componentIds[4] = {};
    int scanComponents = 0;    // of the first scan; 0 when none seen
    bool jfif = false;         // a JFIF APP0 segment
    int adobeTransform = -1;   // APP14 "Adobe" transform flag, -1 without one
};

// Walks the marker segments of `bytes` up to the first scan header.
JpegFacts probeJpeg(const uint8_t* bytes, size_t size);

// The colourTransform to give the decoder: APP14's flag, else 0 for
// three components named 'R', 'G', 'B' without JFIF, else -1 (the default).
int32_t colorTransformOf(const JpegFacts& facts);

// One phrase on how three components are stored ("YCbCr" / "RGB"), and why.
std::string describeColorTransform(const JpegFacts& facts);

// Why the decoder cannot take this JPEG in mode 0, or "" when it can.
std::string unsupportedReason(const JpegFacts& facts);

}  // namespace moxtool
