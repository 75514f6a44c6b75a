#include "vela_support.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "decoder/decoder.h"
#include "frame/t81tables.h"
#include "vela/vela.h"

namespace velatest {

std::vector<uint8_t> packBits(const std::string& bits)
{
    std::vector<uint8_t> out;
    int used = 0;
    for (char b : bits) {
        if (b != '0' && b != '1') continue;
        if (used % 8 == 0) out.push_back(0xFF);
        if (b == '0') out.back() = static_cast<uint8_t>(out.back() & ~(0x80 >> (used % 8)));
        ++used;
    }
    return out;
}

std::string bitString(const uint8_t* bytes, size_t count)
{
    std::string s;
    for (size_t i = 0; i < count; ++i)
        for (int b = 7; b >= 0; --b) s += ((bytes[i] >> b) & 1) != 0 ? '1' : '0';
    return s;
}

std::vector<uint8_t> fromHex(const std::string& hex)
{
    std::vector<uint8_t> out;
    std::string digits;
    for (char ch : hex)
        if (std::isxdigit(static_cast<unsigned char>(ch))) digits += ch;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::string toHex(const uint8_t* bytes, size_t count)
{
    static const char* kDigits = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) s += ' ';
        s += kDigits[bytes[i] >> 4];
        s += kDigits[bytes[i] & 15];
    }
    return s;
}

const int32_t* testQuantTable()
{
    static int32_t table[64];
    for (int i = 0; i < 64; ++i) table[i] = mox::kLuminanceQuant[i];
    return table;
}

McuDecoder::McuDecoder(uint32_t sizeMode, uint32_t rotation) : rangeLimit(mox::kRangeLimitBytes)
{
    mox::buildHuffmanTable(mox::kLuminanceDc.bits, mox::kLuminanceDc.values, &dc);
    mox::buildHuffmanTable(mox::kLuminanceAc.bits, mox::kLuminanceAc.values, &ac);
    std::memcpy(quant, testQuantTable(), sizeof(quant));
    mox::buildRangeLimit(rangeLimit.data());
    param.componentCount = 4;
    param.mcuSize = 64;
    param.rangeLimit = rangeLimit.data() + mox::kRangeLimitOrigin;
    param.sizeMode = sizeMode;
    param.rotation = rotation;
    for (auto& c : param.component) c = mox::McuComponent{1, 1, &dc, &ac, quant};
}

std::vector<Mcu> McuDecoder::decodeAll(std::vector<uint8_t> stream, int32_t* status, size_t mcus)
{
    std::vector<Mcu> out;
    mox::BitCursor cursor = cursorOver(stream);
    *status = 0;
    while (out.size() < mcus) {
        Mcu mcu;
        *status = mox::vela_decodemcu(&cursor, &param, mcu.planes());
        if (*status != 0) break;
        out.push_back(mcu);
    }
    return out;
}

moxtest::Picture velaPage(int width, int height, int components, uint32_t seed)
{
    moxtest::Picture p{width, height, components, {}};
    p.pixels.resize(size_t(width) * height * components);
    uint32_t state = seed * 2654435761u + 1;
    auto noise = [&state]() {
        state = state * 1103515245u + 12345u;
        return int((state >> 16) & 31) - 16;
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c) {
                int kind = (x / 8 + 2 * (y / 8) + c + int(seed)) % 4;
                int u = x % 8;
                int v = y % 8;
                int value = 0;
                switch (kind) {
                case 0: value = 40 + 9 * x + 5 * y + 30 * c + noise(); break;  // photo-like
                case 1: value = 200 - 20 * c; break;                          // flat
                case 2: value = (u == v || u == 3) ? 20 : 235; break;          // text: two values
                default: value = u < 2 ? 0 : (v > 5 ? 128 : 250); break;      // three values
                }
                p.pixels[(size_t(y) * width + x) * components + c] = uint8_t(std::clamp(value, 0, 255));
            }
    return p;
}

VelaSetup velaSetup(int width, int height, int pixelFormat, int velaMode, uint32_t sizeMode,
                    uint32_t seed)
{
    VelaSetup v;
    v.setup = enctest::makeSetup(width, height, pixelFormat, 5, seed);
    v.setup.picture = velaPage(width, height, enctest::bytesPerPixel(pixelFormat), seed);
    v.setup.pic.codingMode = 1;
    v.setup.param.velaMode = velaMode;
    for (int c = 0; c < 4; ++c) v.setup.param.quantSel[c] = 0;
    std::memcpy(v.setup.param.quantTable[0], testQuantTable(), 64 * sizeof(int32_t));
    v.words.word[31] = sizeMode;
    v.words.word[33] = 64;
    return v;
}

enctest::EncodeRun encodeVela(VelaSetup& v)
{
    v.setup.param.velaParam = &v.words;
    return enctest::runEncode(v.setup);
}

void velaRecords(PictureInfo& pic, DecodeParam& param, int width, int height, int outFormat,
                 const uint32_t* velaWords)
{
    pic.mode = MOX_MODE_VELA;
    pic.width = width;
    pic.height = height;
    pic.componentCount = 4;
    pic.outFormat = outFormat;
    for (int c = 0; c < 4; ++c) param.quantSel[c] = 0;
    std::memcpy(param.quantTable[0], testQuantTable(), 64 * sizeof(int32_t));
    param.velaParam = velaWords;
}

}  // namespace velatest
