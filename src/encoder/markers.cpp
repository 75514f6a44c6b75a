// Marker writer: the JFIF header (SOI, APP0, DRI, COM, DQT, DHT, SOF0, SOS),
// restart markers and the end of the entropy-coded data. Marker bytes go at
// the bit writer's byte index, bypassing its stuffing; every marker starts at
// a byte boundary. 16-bit fields are big-endian.
#include <cstring>
#include <initializer_list>

#include "encoder/encoder.h"
#include "frame/markers.h"
#include "frame/t81tables.h"

namespace mox::enc {

namespace {


constexpr uint32_t kApp0Bytes = 18;
constexpr uint32_t kDriBytes = 6;
constexpr uint32_t kDqtBytes = 69;
constexpr uint32_t kDcDhtBytes = 33;
constexpr uint32_t kAcDhtBytes = 183;

void putByte(EncoderContext* ctx, uint32_t value)
{
    ctx->writer.data[ctx->writer.byteIndex++] = static_cast<uint8_t>(value);
}

void putWord(EncoderContext* ctx, uint32_t value)
{
    putByte(ctx, value >> 8);
    putByte(ctx, value);
}

void putMarker(EncoderContext* ctx, uint8_t code)
{
    putByte(ctx, kMarkerPrefix);
    putByte(ctx, code);
}

// Highest quantisation table any component selects; DQT covers 0..this.
uint32_t lastQuantTable(const EncoderContext* ctx)
{
    uint32_t last = 0;
    for (int c = 0; c < ctx->components; ++c)
        if (ctx->quantSel[c] > last) last = ctx->quantSel[c];
    return last;
}

size_t commentLength(const EncoderContext* ctx)
{
    return strnlen(ctx->comment, sizeof ctx->comment);
}

}  // namespace

uint32_t headerLength(const EncoderContext* ctx)
{
    uint32_t length = 2 + kApp0Bytes;
    if (ctx->restartInterval != 0) length += kDriBytes;
    size_t comment = commentLength(ctx);
    if (comment != 0) length += static_cast<uint32_t>(4 + comment + 1);
    length += (lastQuantTable(ctx) + 1) * kDqtBytes;
    length += 2 * kDcDhtBytes + 2 * kAcDhtBytes;
    length += 2 + 8 + 3u * ctx->components;
    length += 2 + 6 + 2u * ctx->components;
    return length;
}

void writeDht(EncoderContext* ctx, int tableClass, int id)
{
    const bool ac = tableClass == 1;
    const HuffDecodeTable& table = ac ? ctx->acHuff[id] : ctx->dcHuff[id];
    const uint32_t symbols = ac ? kAcSymbols : kDcSymbols;
    // BITS and HUFFVAL (T.81 B.2.4.2): by code length, then by symbol index.
    uint8_t bits[16] = {};
    uint8_t values[kAcSymbols] = {};
    uint32_t listed = 0;
    for (uint32_t length = 1; length <= 16; ++length) {
        for (uint32_t i = 0; i < symbols; ++i) {
            if (table.lengths[i] != length) continue;
            values[listed++] = ac ? acSymbolOfIndex(i) : static_cast<uint8_t>(i);
            ++bits[length - 1];
        }
    }
    putMarker(ctx, kMarkerDht);
    putWord(ctx, (ac ? kAcDhtBytes : kDcDhtBytes) - 2);
    putByte(ctx, static_cast<uint32_t>(tableClass * 16 + id));
    for (uint8_t count : bits) putByte(ctx, count);
    for (uint32_t i = 0; i < symbols; ++i) putByte(ctx, values[i]);
}

void writeHeader(EncoderContext* ctx)
{
    putMarker(ctx, kMarkerSoi);

    putMarker(ctx, kMarkerApp0);
    putWord(ctx, kApp0Bytes - 2);
    for (char letter : {'J', 'F', 'I', 'F', '\0'}) putByte(ctx, static_cast<uint8_t>(letter));
    putWord(ctx, 0x0102);  // JFIF 1.02
    putByte(ctx, ctx->densityUnit);
    putWord(ctx, ctx->densityX);
    putWord(ctx, ctx->densityY);
    putByte(ctx, 0);  // no thumbnail
    putByte(ctx, 0);

    if (ctx->restartInterval != 0) {
        putMarker(ctx, kMarkerDri);
        putWord(ctx, kDriBytes - 2);
        putWord(ctx, ctx->restartInterval & 0xFFFF);
    }

    size_t comment = commentLength(ctx);
    if (comment != 0) {
        putMarker(ctx, kMarkerCom);
        putWord(ctx, static_cast<uint32_t>(comment + 3));
        for (size_t i = 0; i <= comment; ++i) putByte(ctx, static_cast<uint8_t>(ctx->comment[i]));
    }

    for (uint32_t t = 0; t <= lastQuantTable(ctx); ++t) {
        putMarker(ctx, kMarkerDqt);
        putWord(ctx, kDqtBytes - 2);
        putByte(ctx, t);  // 8-bit precision, table t
        for (int k = 0; k < 64; ++k) putByte(ctx, ctx->quantTable[t][kZigzagToNatural[k]] & 0xFF);
    }

    writeDht(ctx, 0, 0);
    writeDht(ctx, 0, 1);
    writeDht(ctx, 1, 0);
    writeDht(ctx, 1, 1);

    putMarker(ctx, kMarkerSof0);
    putWord(ctx, 8 + 3u * ctx->components);
    putByte(ctx, 8);  // sample precision
    putWord(ctx, static_cast<uint32_t>(ctx->regionHeight));
    putWord(ctx, static_cast<uint32_t>(ctx->regionWidth));
    putByte(ctx, ctx->components);
    for (uint32_t c = 0; c < ctx->components; ++c) {
        putByte(ctx, c + 1);
        putByte(ctx, ctx->hSamp[c] * 16u + ctx->vSamp[c]);
        putByte(ctx, ctx->quantSel[c]);
    }

    putMarker(ctx, kMarkerSos);
    putWord(ctx, 6 + 2u * ctx->components);
    putByte(ctx, ctx->components);
    for (uint32_t c = 0; c < ctx->components; ++c) {
        putByte(ctx, c + 1);
        putByte(ctx, ctx->dcSel[c] * 16u + ctx->acSel[c]);
    }
    putByte(ctx, 0);   // Ss
    putByte(ctx, 63);  // Se
    putByte(ctx, 0);   // Ah, Al
}

namespace {

// Pads a partly written byte with 1-bits (T.81 F.1.2.3). A byte that
// becomes 0xFF is still data and gets its stuffing 0x00 (T.81 F.1.2.3,
// B.1.1.5) like any other; otherwise a decoder takes it for a fill byte
// in front of the marker that follows and loses its data bits. VELA data
// knows no stuffing.
void padPartialByte(EncoderContext* ctx)
{
    BitCursor& w = ctx->writer;
    if (w.bitPos == 7) return;
    uint8_t& byte = w.data[w.byteIndex];
    byte |= static_cast<uint8_t>((1u << (w.bitPos + 1)) - 1);
    ++w.byteIndex;
    if (byte == kMarkerPrefix && ctx->codingMode != kCodingVela) w.data[w.byteIndex++] = 0x00;
    w.bitPos = 7;
}

}  // namespace

void writeRestart(EncoderContext* ctx)
{
    padPartialByte(ctx);
    putMarker(ctx, static_cast<uint8_t>(kMarkerRst0 + ctx->restartIndex));
    for (int32_t& predictor : ctx->dcPred) predictor = 0;
    ctx->restartIndex = (ctx->restartIndex + 1) % 8;
}

void writeEnd(EncoderContext* ctx)
{
    padPartialByte(ctx);
    if (!ctx->noEoi) putMarker(ctx, kMarkerEoi);
    ctx->noEoi = 1;
}

}  // namespace mox::enc
