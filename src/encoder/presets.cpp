// Defaults the encoder settles at Init: the quality preset rows (derived from
// T.81 K.1/K.2), the typical Huffman tables K.3..K.6 re-indexed to symbol
// order, and the colour matrix. The standard data exists once, in
// frame/t81tables; everything here is derived from it.
#include "encoder/encoder.h"
#include "frame/t81tables.h"

namespace mox::enc {

namespace {

// Scale of each row in percent of K.1/K.2, coarsest first.
constexpr int kRowPercent[kQualityLevels] = {320, 280, 260, 210, 150, 110, 90, 70, 50, 30, 10};

// Entries of table 0 that rows 3, 6 and 7 carry one below the rule.
constexpr int kTrimmedEntries[] = {15, 41, 42, 58};

bool rowIsTrimmed(int level)
{
    return level == 3 || level == 6 || level == 7;
}

int32_t scaled(int k, int percent)
{
    int32_t value = (k * percent + 50) / 100;
    return value > 255 ? 255 : value;
}

}  // namespace

const float kDefaultColorMatrix[16] = {
    0.299f,   0.587f,   0.114f,   0.0f,  //
    -0.1687f, -0.3313f, 0.5f,     0.0f,  //
    0.5f,     -0.4187f, -0.0813f, 0.0f,  //
    0.0f,     0.0f,     0.0f,     1.0f,
};

void qualityPresets(int level, PresetRow* row)
{
    // Component 0 is 2x2 in the two coarsest rows, 2x1 above; the others 1x1.
    for (int c = 0; c < 4; ++c) {
        row->h[c] = c == 0 ? 2 : 1;
        row->v[c] = c == 0 && level <= 1 ? 2 : 1;
    }
    int percent = kRowPercent[level];
    for (int n = 0; n < 64; ++n) {
        row->quant[0][n] = scaled(kLuminanceQuant[n], percent);
        row->quant[1][n] = scaled(kChrominanceQuant[n], percent);
    }
    if (rowIsTrimmed(level))
        for (int n : kTrimmedEntries) row->quant[0][n] -= 1;
    if (level == 5) {
        row->quant[0][0] = 14;
        row->quant[1][0] = 15;
    }
}

uint8_t acSymbolOfIndex(uint32_t index)
{
    if (index == 0) return 0x00;  // EOB
    if (index >= kAcIndexZrl) return static_cast<uint8_t>(0xF0 + (index - kAcIndexZrl));
    uint32_t run = (index - 1) / 10;
    uint32_t size = index - 10 * run;
    return static_cast<uint8_t>(16 * run + size);
}

uint32_t acIndexOfSymbol(uint8_t symbol)
{
    uint32_t run = symbol >> 4;
    uint32_t size = symbol & 0x0F;
    if (run == 15) return kAcIndexZrl + size;
    return 10 * run + size;  // EOB (0x00) maps to 0
}

void defaultHuffmanTable(bool ac, int id, HuffDecodeTable* table)
{
    const HuffmanDefinition& standard =
        ac ? (id == 0 ? kLuminanceAc : kChrominanceAc) : (id == 0 ? kLuminanceDc : kChrominanceDc);
    HuffDecodeTable segmentOrder{};
    buildHuffmanTable(standard.bits, standard.values, &segmentOrder);
    *table = HuffDecodeTable{};
    table->count = ac ? kAcSymbols : kDcSymbols;
    for (uint32_t j = 0; j < segmentOrder.count; ++j) {
        uint8_t symbol = static_cast<uint8_t>(segmentOrder.symbols[j]);
        uint32_t index = ac ? acIndexOfSymbol(symbol) : symbol;
        table->lengths[index] = segmentOrder.lengths[j];
        table->codes[index] = segmentOrder.codes[j];
    }
    for (uint32_t i = 0; i < table->count; ++i) table->symbols[i] = i;
}

}  // namespace mox::enc
