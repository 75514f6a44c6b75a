#include "vela_support.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <sstream>

#include "decoder/decoder.h"
#include "frame/t81tables.h"
#include "vela/bp.h"
#include "vela/vela.h"

namespace velatest {

std::vector<uint8_t> fromHex(const std::string& hex)
{
    std::vector<uint8_t> out;
    std::istringstream in(hex);
    for (unsigned value = 0; in >> std::hex >> value;) out.push_back(uint8_t(value));
    return out;
}

std::string toHex(const uint8_t* bytes, size_t count)
{
    std::string s;
    for (size_t i = 0; i < count; ++i) s += (i > 0 ? " " : "") + std::string{"0123456789ABCDEF"[bytes[i] >> 4], "0123456789ABCDEF"[bytes[i] & 15]};
    return s;
}

const int32_t* testQuantTable()
{
    static int32_t table[64];
    for (int i = 0; i < 64; ++i) table[i] = mox::kLuminanceQuant[i];
    return table;
}

McuDecoder::McuDecoder(int mode, uint32_t size, int outFormat) : rangeLimit(mox::kRangeLimitBytes)
{
    mox::buildHuffmanTable(mox::kLuminanceDc.bits, mox::kLuminanceDc.values, &dc[0]);
    mox::buildHuffmanTable(mox::kLuminanceAc.bits, mox::kLuminanceAc.values, &ac[0]);
    mox::buildHuffmanTable(mox::kChrominanceDc.bits, mox::kChrominanceDc.values, &dc[1]);
    mox::buildHuffmanTable(mox::kChrominanceAc.bits, mox::kChrominanceAc.values, &ac[1]);
    std::memcpy(quant, testQuantTable(), sizeof(quant));
    mox::buildRangeLimit(rangeLimit.data());
    param.componentCount = mode == 3 ? 3 : 4;
    param.mcuSize = mode == 2 ? size : 64;
    param.sizeMode = mode == 1 ? size : 0;
    param.outFormat = outFormat;
    param.rangeLimit = rangeLimit.data() + mox::kRangeLimitOrigin;
    param.bpTables = mox::bpDefaultTables();
    param.copier.words[1] = 1;  // fixed rotation 0
    for (int c = 0; c < 4; ++c) {
        const int chroma = mode == 3 && (c == 1 || c == 2);
        param.component[c] = mox::McuComponent{1, 1, &dc[chroma], &ac[chroma], quant};
    }
}

std::array<int32_t, 64> McuDecoder::samples(const int32_t* coefficients, int c) const
{
    std::array<int32_t, 64> out{};
    mox::D_idctBlock(coefficients, &param, &param.component[c], out.data());
    return out;
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
    uint32_t state = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c) {
                const int u = x % 8, v = y % 8, kind = (x / 8 + 2 * (y / 8) + c + int(seed)) % 4;
                const int value = kind == 0   ? 40 + 9 * x + 5 * y + 30 * c +  // photo-like
                                                  int(((state = state * 1103515245u + 12345u) >> 16) & 31) - 16
                                  : kind == 1 ? 200 - 20 * c                          // flat
                                  : kind == 2 ? (u == v || u == 3) ? 20 : 235         // text: two values
                                              : u < 2 ? 0 : (v > 5 ? 128 : 250);      // three values
                p.pixels.push_back(uint8_t(std::clamp(value, 0, 255)));
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
    std::fill_n(v.setup.param.quantSel, 4, 0);
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
    pic.width = width, pic.height = height;
    pic.componentCount = 4;
    pic.outFormat = outFormat;
    std::fill_n(param.quantSel, 4, 0);
    std::memcpy(param.quantTable[0], testQuantTable(), 64 * sizeof(int32_t));
    param.velaParam = velaWords;
}

// ---- bp and copier writer ----

namespace {

constexpr int kOffset[5] = {0, 267, 564, 5748, 5952};  // cn_len, add_len, mb_len, ms, col_posi
constexpr int kRows[5] = {89, 99, 288, 34, 120};
constexpr int kStride[5] = {3, 3, 18, 6, 6};
constexpr int kKeys[5] = {2, 2, 3, 1, 1};

std::array<std::array<uint8_t, 64>, 6> buildScans()
{
    std::array<std::array<uint8_t, 64>, 6> s{};
    for (int t = 0; t < 64; ++t) {
        int major = t / 8, minor = t % 8;
        int snake = major % 2 == 0 ? minor : 7 - minor;
        s[0][t] = uint8_t(t);
        s[1][t] = uint8_t(major * 8 + snake);
        s[2][t] = uint8_t(minor * 8 + major);
        s[3][t] = uint8_t(snake * 8 + major);
        int n = mox::kZigzagToNatural[t];
        s[4][t] = uint8_t(n);
        s[5][t] = uint8_t(n / 8 * 8 + 7 - n % 8);
    }
    return s;
}

void putRun(Bits& bits, uint32_t r)
{
    if (r <= 4) {
        bits.put(0, 1);
        bits.put(r - 1, 2);
        return;
    }
    uint32_t k = 31 - __builtin_clz(r - 1);
    bits.put((1u << (k - 1)) - 1, k - 1);  // k - 1 one-bits
    bits.put(0, 1);
    bits.put(r - 1 - (1u << k), k);
}

// Huffman code of a symbol in a T.81 BITS/HUFFVAL table.
void putSymbol(Bits& bits, const mox::HuffmanDefinition& table, uint8_t symbol)
{
    uint32_t code = 0;
    int index = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < table.bits[length - 1]; ++i, ++index, ++code)
            if (table.values[index] == symbol) {
                bits.put(code, uint32_t(length));
                return;
            }
        code <<= 1;
    }
}

void putValue(Bits& bits, const mox::HuffmanDefinition& table, uint8_t run, int32_t value)
{
    uint32_t magnitude = uint32_t(value < 0 ? -value : value);
    uint32_t size = magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
    putSymbol(bits, table, uint8_t(run << 4 | size));
    if (size != 0) bits.put(uint32_t(value < 0 ? value - 1 : value), size);
}

}  // namespace

Bits& Bits::put(uint64_t value, uint32_t n)
{
    for (uint32_t i = n; i-- > 0; ++count) {
        if (count % 8 == 0) bytes.push_back(0);
        if ((value >> i) & 1) bytes.back() |= uint8_t(0x80 >> (count % 8));
    }
    return *this;
}

std::vector<uint8_t> Bits::padded() const
{
    std::vector<uint8_t> out = bytes;
    if (count % 8 != 0) out.back() |= uint8_t(0xFF >> (count % 8));
    return out;
}

const uint8_t* scanOrder(int x)
{
    static const auto scans = buildScans();
    return scans[x].data();
}

const uint8_t* bpFindRow(const uint8_t* tables, int table, int a, int second, int third)
{
    const int key[3] = {a, second, third};
    for (int r = 0; r < kRows[table]; ++r) {
        const uint8_t* row = tables + kOffset[table] + r * kStride[table];
        bool match = true;
        for (int i = 0; i < kKeys[table]; ++i)
            match = match && (row[i] == key[i] || (table != 0 && i == 1 && row[i] == 15) ||
                              (i == 2 && row[i] == 25));
        if (match) return row;
    }
    return nullptr;
}

BpLayout bpLayout(const uint8_t* tables, int a, int d, int k, int e)
{
    BpLayout l{};
    const uint8_t* ms = bpFindRow(tables, 3, a, 0, 0);
    const uint8_t* perm = bpFindRow(tables, 4, e, 0, 0) + 1;
    for (int i = 0; i < 5; ++i) l.size[i] = ms[1 + i], l.position[i] = perm[i];
    const uint8_t* add = bpFindRow(tables, 1, a, d, 0);
    l.kBits = add ? add[2] : -1;
    l.row = bpFindRow(tables, 2, a, d, k);
    return l;
}

std::vector<uint8_t> writeBpTag(const uint8_t* tables, const BpTag& tag)
{
    const BpLayout l = bpLayout(tables, tag.a, tag.d, tag.k, tag.e);
    Bits bits;
    bits.put(uint32_t(tag.a), 6);
    bits.put(tag.b ? 1 : 0, 1);
    if (tag.b) bits.put(0xA5A5A5A5u, 32), bits.put(0x5A5A5A5Au, 32);
    if (tag.a != 33) bits.put(uint32_t(tag.d), 4);
    bits.put(uint32_t(tag.e), 7);
    bool onTag = false;
    for (int i = 0; i < 5; ++i) {
        if (l.size[i] == 5) continue;
        onTag = onTag || l.position[i] == 0;
        for (int j = 0; j <= l.size[i]; ++j) bits.put(tag.palette[i][j], l.position[i] == 0 ? 2 : 8);
    }
    if (!onTag) bits.put(tag.uniformTag, 2);
    if (l.kBits > 0) bits.put(uint32_t(tag.k), uint32_t(l.kBits));
    const uint8_t* groups = l.row + 8;
    for (int g = 1; g <= 2; ++g) {
        int classes = 0;
        for (int i = 4; i >= 0; --i) {
            if (groups[i] != g || l.size[i] == 5) continue;
            if (classes == 0) {
                classes = l.size[i] + 1;
                continue;
            }
            for (int j = 0; j < classes; ++j) bits.put(tag.mapping[i][j], l.size[i] == 1 ? 1 : 2);
        }
    }
    if (tag.d == 14) {
        const uint8_t* scan = scanOrder(tag.k);
        int t = 0;
        while (t < 64) {
            int run = 1;
            while (t + run < 64 && tag.maps[0][scan[t + run]] == tag.maps[0][scan[t]]) ++run;
            putRun(bits, uint32_t(run));
            t += run;
        }
    } else if (tag.d != 0) {
        for (int m = 0; m < 4; ++m) {
            uint8_t type = l.row[3 + m];
            if (type == 0) continue;
            for (int p = 0; p < 64; ++p) bits.put(tag.maps[m][p], type);
        }
    }
    return bits.padded();
}

BpPlanes bpExpected(const uint8_t* tables, const BpTag& tag)
{
    const BpLayout l = bpLayout(tables, tag.a, tag.d, tag.k, tag.e);
    BpPlanes out;
    std::fill(std::begin(out.values[0]), std::end(out.values[0]), tag.uniformTag);
    const uint8_t* groups = l.row + 8;
    const uint8_t* mapIndex = l.row + 13;
    for (int i = 0; i < 5; ++i) {
        if (l.size[i] == 5) continue;
        // The first group member walking down from entity 4 keeps its classes.
        bool permuted = false;
        for (int j = 4; j > i && groups[i] != 0; --j) permuted = permuted || (groups[j] == groups[i] && l.size[j] != 5);
        for (int p = 0; p < 64; ++p) {
            int cls = mapIndex[i] < 4 ? tag.maps[mapIndex[i]][p] : 0;
            int value = tag.palette[i][permuted ? tag.mapping[i][cls] : cls];
            out.values[l.position[i]][p] = uint8_t(value);
        }
        out.flags |= l.position[i] == 0 ? 0u : 1u << (4 - l.position[i]);
    }
    return out;
}

std::vector<uint8_t> writeBlock(const int32_t* coefficients, bool chroma)
{
    const mox::HuffmanDefinition& dc = chroma ? mox::kChrominanceDc : mox::kLuminanceDc;
    const mox::HuffmanDefinition& ac = chroma ? mox::kChrominanceAc : mox::kLuminanceAc;
    Bits bits;
    putValue(bits, dc, 0, coefficients[0]);
    int last = 63;
    while (last > 0 && coefficients[last] == 0) --last;
    int run = 0;
    for (int k = 1; k <= last; ++k) {
        if (coefficients[k] == 0) {
            ++run;
            continue;
        }
        for (; run > 15; run -= 16) putSymbol(bits, ac, 0xF0);
        putValue(bits, ac, uint8_t(run), coefficients[k]);
        run = 0;
    }
    if (last < 63) putSymbol(bits, ac, 0x00);
    return bits.padded();
}

std::vector<uint8_t> writeBpMcu(const std::vector<uint8_t>& tag, const std::vector<uint8_t> blocks[4],
                                bool shortForm, int size)
{
    std::vector<uint8_t> out;
    uint32_t b[4];
    for (int i = 0; i < 4; ++i) b[i] = uint32_t(blocks[i].size());
    if (shortForm) {
        out = {uint8_t(0x80 | tag.size()), uint8_t(b[3] << 2 | 3)};
    } else {
        out = {uint8_t(tag.size()), uint8_t(b[0] << 2 | b[1] >> 4), uint8_t((b[1] & 15) << 4 | b[2] >> 2),
               uint8_t((b[2] & 3) << 6 | b[3])};
    }
    out.insert(out.end(), tag.begin(), tag.end());
    for (int i = shortForm ? 3 : 0; i < 4; ++i) out.insert(out.end(), blocks[i].begin(), blocks[i].end());
    if (size > 0 && out.size() < size_t(size)) out.resize(size_t(size), 0xFF);
    return out;
}

std::vector<uint8_t> writeCopierMcu(int r, const std::vector<uint8_t> blocks[3], bool variable)
{
    uint32_t b0 = uint32_t(blocks[0].size()), b1 = uint32_t(blocks[1].size()), b2 = uint32_t(blocks[2].size());
    uint32_t header = uint32_t(r & 3) << 20 | b0 << 12 | b1 << 6 | b2;
    std::vector<uint8_t> out = {uint8_t(header >> 16), uint8_t(header >> 8), uint8_t(header)};
    for (int i = 0; i < 3; ++i) out.insert(out.end(), blocks[i].begin(), blocks[i].end());
    if (!variable && out.size() < 64) out.resize(64, 0xFF);
    return out;
}

// A tag whose maps, palettes and permutations are random but valid for the
// key: a map's classes stay below what every entity on it can resolve.
BpTag makeTag(const uint8_t* tables, int a, int d, int k, int e, bool b, uint32_t seed)
{
    std::mt19937 rng(seed);
    BpTag tag;
    tag.a = a, tag.d = d, tag.k = k, tag.e = e, tag.b = b;
    const BpLayout l = bpLayout(tables, a, d, k, e);
    const uint8_t* groups = l.row + 8;
    const uint8_t* mapIndex = l.row + 13;
    int limit[4] = {1, 1, 1, 1};
    for (int m = 0; m < 4; ++m) {
        bool read = d == 14 ? m == 0 : d != 0 && l.row[3 + m] != 0;
        if (read) limit[m] = d == 14 ? 2 : 1 << l.row[3 + m];
    }
    for (int i = 0; i < 5; ++i) {
        if (l.size[i] == 5) continue;
        int classes = l.size[i] + 1;
        for (int j = 4; j > i && groups[i] != 0; --j)
            if (groups[j] == groups[i] && l.size[j] != 5) classes = l.size[j] + 1;  // the group's first member
        if (mapIndex[i] < 4) limit[mapIndex[i]] = std::min(limit[mapIndex[i]], classes);
        for (int j = 0; j < 4; ++j) {
            tag.palette[i][j] = uint8_t(rng() % (l.position[i] == 0 ? 4 : 256));
            tag.mapping[i][j] = uint8_t(rng() % (l.size[i] + 1));
        }
    }
    for (int m = 0; m < 4; ++m)
        for (int p = 0; p < 64; ++p) tag.maps[m][p] = uint8_t(rng() % limit[m]);
    if (d == 14) {  // runs start with class 0; make the map runs of varying length
        for (int p = 0; p < 64; ++p) tag.maps[0][p] = uint8_t((p * p / 7 + seed) / 5 % 2);
        const uint8_t* scan = scanOrder(k);
        if (tag.maps[0][scan[0]] != 0)
            for (auto& c : tag.maps[0]) c ^= 1;
    }
    tag.uniformTag = uint8_t(rng() % 4);
    return tag;
}

// Every (A, D, K) that resolves through add_len_TBL and mb_len_TBL.
std::vector<BpKey> validKeys()
{
    std::vector<BpKey> keys;
    for (int a = 0; a <= 33; ++a)
        for (int d = 0; d <= 14; ++d) {
            if (a == 33 && d != 0) continue;
            const uint8_t* add = bpFindRow(mox::bpDefaultTables(), 1, a, d, 0);
            if (add == nullptr) continue;
            int count = add[2] == 0 ? 1 : 1 << add[2];
            for (int n = 0; n < count; ++n) {
                int k = add[2] == 0 ? 31 : n;
                if (d == 14 && k > 5) continue;  // scan orders 0..5
                if (bpFindRow(mox::bpDefaultTables(), 2, a, d, k) != nullptr) keys.push_back({a, d, k});
            }
        }
    return keys;
}

// Coefficients of a test block: a DC and a few AC values, one far enough
// behind the others for ZRL codes, at times the last one (no EOB).
std::array<int32_t, 64> someCoefficients(uint32_t seed)
{
    std::array<int32_t, 64> z{};
    z[0] = int32_t(seed % 61) - 30;
    z[1 + seed % 5] = int32_t(seed % 7) - 3;
    z[9 + seed % 11] = (seed & 1) ? 2 : 0;
    if (seed % 4 != 1) z[40 + seed % 24] = seed % 3 ? 1 : -1;
    return z;
}

}  // namespace velatest
