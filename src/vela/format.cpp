// The VELA MCU header, the run code and the scan orders.
#include "vela/format.h"


namespace mox {

namespace {

struct ScanOrders {
    uint8_t order[8][kVelaPixels];
};

// T.81 zig-zag walk of the diagonals, starting at the top-left pixel.
constexpr void zigzag(uint8_t* order)
{
    int row = 0;
    int column = 0;
    for (int t = 0; t < kVelaPixels; ++t) {
        order[t] = static_cast<uint8_t>(row * 8 + column);
        bool up = ((row + column) & 1) == 0;
        if (up) {
            if (column == 7) ++row;
            else if (row == 0) ++column;
            else --row, ++column;
        } else {
            if (row == 7) ++column;
            else if (column == 0) ++row;
            else ++row, --column;
        }
    }
}

constexpr ScanOrders buildScanOrders()
{
    ScanOrders s{};
    zigzag(s.order[4]);
    for (int t = 0; t < kVelaPixels; ++t) {
        int major = t / 8;
        int minor = t % 8;
        int reversed = (major & 1) != 0 ? 7 - minor : minor;
        s.order[0][t] = static_cast<uint8_t>(t);                     // raster
        s.order[1][t] = static_cast<uint8_t>(major * 8 + reversed);  // horizontal serpentine
        s.order[2][t] = static_cast<uint8_t>(minor * 8 + major);     // column by column
        s.order[3][t] = static_cast<uint8_t>(reversed * 8 + major);  // vertical serpentine
        int p = s.order[4][t];
        s.order[5][t] = static_cast<uint8_t>(p - p % 8 + 7 - p % 8);  // zig-zag mirrored
        s.order[6][t] = static_cast<uint8_t>(t);
        s.order[7][t] = static_cast<uint8_t>(t);
    }
    return s;
}

constexpr ScanOrders kOrders = buildScanOrders();

}  // namespace

const uint8_t* velaScanOrder(int32_t x)
{
    return kOrders.order[x & 7];
}

int32_t velaRunCode(int32_t run, uint32_t* bits)
{
    if (run < 1 || run > kVelaPixels) return 0;
    uint32_t v = static_cast<uint32_t>(run - 1);
    if (run <= 4) {
        *bits = v;  // prefix 0, two suffix bits
        return 3;
    }
    int32_t k = 0;
    while ((v >> (k + 1)) != 0) ++k;  // halvings that bring r - 1 down to 1
    uint32_t prefix = ((1u << (k - 1)) - 1u) << 1;  // k - 1 ones, then a zero
    *bits = (prefix << k) | (v & ((1u << k) - 1u));
    return 2 * k;
}

int32_t packVelaHeader(const VelaMcuHeader& h, uint8_t* out)
{
    const int32_t* b = h.blockBytes;
    out[0] = static_cast<uint8_t>((h.shortForm != 0 ? kVelaShortFormBit : 0) |
                                  (h.tagBytes & kVelaTagLengthMask));
    if (h.shortForm != 0) {
        out[1] = static_cast<uint8_t>(((b[3] & 0x3F) << 2) | kVelaShortLowBits);
        return kVelaShortHeaderBytes;
    }
    out[1] = static_cast<uint8_t>(((b[0] & 0x3F) << 2) | ((b[1] & 0x3F) >> 4));
    out[2] = static_cast<uint8_t>(((b[1] & 0x0F) << 4) | ((b[2] & 0x3F) >> 2));
    out[3] = static_cast<uint8_t>(((b[2] & 0x03) << 6) | (b[3] & 0x3F));
    return kVelaLongHeaderBytes;
}

VelaMcuHeader unpackVelaHeader(const uint8_t* bytes)
{
    VelaMcuHeader h{};
    h.shortForm = (bytes[0] & kVelaShortFormBit) != 0 ? 1 : 0;
    h.tagBytes = bytes[0] & kVelaTagLengthMask;
    if (h.shortForm != 0) {
        h.blockBytes[3] = bytes[1] >> 2;
        return h;
    }
    h.blockBytes[0] = bytes[1] >> 2;
    h.blockBytes[1] = ((bytes[1] & 0x03) << 4) | (bytes[2] >> 4);
    h.blockBytes[2] = ((bytes[2] & 0x0F) << 2) | (bytes[3] >> 6);
    h.blockBytes[3] = bytes[3] & 0x3F;
    return h;
}

int32_t velaBodyBytes(const VelaMcuHeader& h)
{
    return h.tagBytes + h.blockBytes[0] + h.blockBytes[1] + h.blockBytes[2] + h.blockBytes[3];
}

}  // namespace mox
