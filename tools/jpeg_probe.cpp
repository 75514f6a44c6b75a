// A plain walk of marker segments: each is FF xx, a 16-bit length that
// counts itself, and its body; fill bytes FF may precede a marker.
#include "jpeg_probe.h"

#include <cstring>

namespace moxtool {

namespace {

constexpr int kSoi = 0xD8, kSos = 0xDA, kEoi = 0xD9, kApp0 = 0xE0, kApp14 = 0xEE;

bool isFrameMarker(int m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

}  // namespace

JpegFacts probeJpeg(const uint8_t* b, size_t size)
{
    JpegFacts facts;
    size_t p = 0;
    while (p + 1 < size) {
        if (b[p] != 0xFF) break;
        int marker = b[p + 1];
        if (marker == 0xFF) {  // fill byte
            ++p;
            continue;
        }
        p += 2;
        if (marker == kSoi || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;
        if (marker == kEoi || p + 2 > size) break;
        size_t length = size_t(b[p]) << 8 | b[p + 1];
        if (length < 2 || p + length > size) break;
        const uint8_t* body = b + p + 2;
        size_t n = length - 2;
        if (isFrameMarker(marker) && facts.frameMarker == 0 && n >= 6) {
            facts.frameMarker = marker;
            facts.frameComponents = body[5];
            for (int c = 0; c < 4 && c < body[5] && 6 + 3 * size_t(c) < n; ++c) {
                facts.componentIds[c] = body[6 + 3 * c];
            }
        } else if (marker == kApp0 && n >= 5 && std::memcmp(body, "JFIF", 5) == 0) {
            facts.jfif = true;
        } else if (marker == kApp14 && n >= 12 && std::memcmp(body, "Adobe", 5) == 0) {
            facts.adobeTransform = body[11];
        } else if (marker == kSos) {
            if (n >= 1) facts.scanComponents = body[0];
            break;
        }
        p += length;
    }
    return facts;
}

int32_t colorTransformOf(const JpegFacts& facts)
{
    if (facts.frameComponents != 3) return -1;
    if (facts.adobeTransform >= 0) return facts.adobeTransform == 0 ? 0 : 1;
    const uint8_t* id = facts.componentIds;
    if (!facts.jfif && id[0] == 'R' && id[1] == 'G' && id[2] == 'B') return 0;
    return -1;
}

std::string describeColorTransform(const JpegFacts& facts)
{
    if (facts.frameComponents != 3) return "none (" + std::to_string(facts.frameComponents) + " component" +
                                           (facts.frameComponents == 1 ? ")" : "s)");
    const bool stored = colorTransformOf(facts) == 0;
    std::string text = stored ? "0, RGB stored as is" : "1, YCbCr converted to RGB";
    if (facts.adobeTransform >= 0) return text + " (Adobe APP14 says " + std::to_string(facts.adobeTransform) + ")";
    if (stored) return text + " (components named R, G, B)";
    return text + (facts.jfif ? " (JFIF)" : " (assumed: no APP14)");
}

std::string unsupportedReason(const JpegFacts& facts)
{
    const int m = facts.frameMarker;
    const char* kind = m == 0 || m == 0xC0 ? nullptr
                       : m >= 0xC9         ? "uses arithmetic coding"
                       : m == 0xC2 || m == 0xC6 ? "is progressive"
                       : m == 0xC1              ? "is extended sequential"
                                                : "is lossless or hierarchical";
    if (kind != nullptr) {
        return std::string("the JPEG ") + kind +
               "; the decoder reads baseline (sequential, Huffman-coded) JPEGs only";
    }
    if (facts.frameComponents == 4) {
        return "the JPEG has four components (CMYK or YCCK); JPEG decoding (mode 0) takes one or "
               "three components";
    }
    if (facts.scanComponents != 0 && facts.scanComponents != facts.frameComponents) {
        return "the JPEG codes its components in separate scans (non-interleaved); the decoder "
               "reads single-scan interleaved JPEGs only";
    }
    return "";
}

}  // namespace moxtool
