// Table segments: quantisation tables (T.81 B.2.4.1) stored in natural order,
// and Huffman tables (B.2.4.2) stored in segment order with their code
// lengths and codes (Annex C). One segment may hold several tables; the
// segment length is only counted down, never checked against the tables.
#include "frame/errlog.h"
#include "frame/t81tables.h"
#include "header/segments.h"

namespace mox {

namespace {

constexpr int kCoefficients = 64;
constexpr int kCodeLengths = 16;
constexpr int kStoredHuffmanIds = 2;  // DecodeParam keeps ids 0 and 1 per class
constexpr int kMaxHuffmanId = 3;

}  // namespace

int AnalysisDQT(HeaderCursor* cursor, DecodeParam* param)
{
    static constexpr const char* kName = "AnalysisDQT";
    ByteReader* in = &cursor->bytes;
    uint32_t length = 0;
    MOX_READ_OR_RETURN(GetWord(in, &length), kName);

    // Signed, so that a length below 2 reads on until the buffer ends.
    int32_t remaining = static_cast<int32_t>(length) - 2;
    while (remaining != 0) {
        uint8_t precisionAndId = 0;
        MOX_READ_OR_RETURN(GetByte(in, &precisionAndId), kName);
        bool wide = (precisionAndId >> 4) != 0;  // Pq = 1: 16-bit entries
        int32_t* table = param->quantTable[precisionAndId & 0x03];
        for (int k = 0; k < kCoefficients; ++k) {
            uint32_t value = 0;
            if (wide) {
                MOX_READ_OR_RETURN(GetWord(in, &value), kName);
            } else {
                uint8_t byte = 0;
                MOX_READ_OR_RETURN(GetByte(in, &byte), kName);
                value = byte;
            }
            table[kZigzagToNatural[k]] = static_cast<int32_t>(value);
        }
        remaining -= 1 + (wide ? 2 : 1) * kCoefficients;
    }
    return kSegmentQuant;
}

int AnalysisDHT(HeaderCursor* cursor, DecodeParam* param)
{
    static constexpr const char* kName = "AnalysisDHT";
    ByteReader* in = &cursor->bytes;
    uint32_t length = 0;
    MOX_READ_OR_RETURN(GetWord(in, &length), kName);

    int32_t remaining = static_cast<int32_t>(length) - 2;
    while (remaining != 0) {
        uint8_t classAndId = 0;
        MOX_READ_OR_RETURN(GetByte(in, &classAndId), kName);
        int tableClass = classAndId >> 4;
        int id = classAndId & 0x0F;
        if (tableClass > 1 || id > kMaxHuffmanId) return MOX_FAIL(kName, kSegmentRefused, nullptr);

        uint8_t bits[kCodeLengths];
        uint32_t count = 0;
        for (int i = 0; i < kCodeLengths; ++i) {
            MOX_READ_OR_RETURN(GetByte(in, &bits[i]), kName);
            count += bits[i];
        }
        // The table has room for 162 codes, the most a baseline AC table
        // needs; more lengths than that cannot describe a usable table.
        if (count > MOX_HUFF_MAX_CODES) return MOX_FAIL(kName, MOX_ERR_HUFFMAN_TABLE, nullptr);

        uint8_t values[MOX_HUFF_MAX_CODES];
        for (uint32_t i = 0; i < count; ++i) MOX_READ_OR_RETURN(GetByte(in, &values[i]), kName);

        // Ids 2 and 3 are legal in T.81 but have no place in DecodeParam:
        // their bytes are consumed and the table is dropped.
        if (id < kStoredHuffmanIds) {
            HuffDecodeTable* table = tableClass == 0 ? &param->dcHuff[id] : &param->acHuff[id];
            buildHuffmanTable(bits, values, table);
        }
        remaining -= static_cast<int32_t>(1 + kCodeLengths + count);
    }
    return kSegmentHuffman;
}

}  // namespace mox
