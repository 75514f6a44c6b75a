// Frame and scan structure: the baseline frame header (T.81 B.2.2), the scan
// header (B.2.3), the restart interval (B.2.4.4) and the number of lines
// (B.2.5). Components and selectors are kept by position, not by identifier:
// the k-th scan component is the k-th frame component.
#include "frame/errlog.h"
#include "header/segments.h"

namespace mox {

namespace {

constexpr uint8_t kBaselinePrecision = 8;
constexpr int kMaxComponents = 4;
constexpr int kQuantTables = 4;
constexpr int kMaxSelector = 2;  // DC/AC selectors 0..2 pass here; decoder Init refuses 2

bool isFrameComponentCount(uint8_t count)
{
    return count == 1 || count == 3 || count == 4;
}

}  // namespace

int AnalysisFrame(HeaderCursor* cursor, PictureInfo* pic, DecodeParam* param)
{
    static constexpr const char* kName = "AnalysisFrame";
    ByteReader* in = &cursor->bytes;
    uint32_t length = 0;
    MOX_READ_OR_RETURN(GetWord(in, &length), kName);

    uint8_t precision = 0;
    MOX_READ_OR_RETURN(GetByte(in, &precision), kName);
    if (precision != kBaselinePrecision) return MOX_FAIL(kName, kSegmentRefused, nullptr);

    uint32_t lines = 0;
    uint32_t samplesPerLine = 0;
    MOX_READ_OR_RETURN(GetWord(in, &lines), kName);
    pic->height = static_cast<int32_t>(lines);
    MOX_READ_OR_RETURN(GetWord(in, &samplesPerLine), kName);
    pic->width = static_cast<int32_t>(samplesPerLine);

    uint8_t count = 0;
    MOX_READ_OR_RETURN(GetByte(in, &count), kName);
    if (!isFrameComponentCount(count)) return MOX_FAIL(kName, kSegmentRefused, nullptr);
    pic->componentCount = count;

    for (int i = 0; i < count; ++i) {
        uint8_t identifier = 0;
        uint8_t sampling = 0;
        uint8_t tableId = 0;
        MOX_READ_OR_RETURN(GetByte(in, &identifier), kName);
        MOX_READ_OR_RETURN(GetByte(in, &sampling), kName);
        param->hSamp[i] = sampling >> 4;
        param->vSamp[i] = sampling & 0x0F;
        MOX_READ_OR_RETURN(GetByte(in, &tableId), kName);
        param->quantSel[i] = tableId;
        // A table cleared to -1 passes; one left at 0 must be defined first.
        if (tableId >= kQuantTables || param->quantTable[tableId][0] == 0)
            return MOX_FAIL(kName, kSegmentRefused, nullptr);
    }
    return MOX_OK;
}

int AnalysisSOS(HeaderCursor* cursor, const PictureInfo* pic, DecodeParam* param)
{
    static constexpr const char* kName = "AnalysisSOS";
    ByteReader* in = &cursor->bytes;
    uint32_t length = 0;
    MOX_READ_OR_RETURN(GetWord(in, &length), kName);

    uint8_t count = 0;
    MOX_READ_OR_RETURN(GetByte(in, &count), kName);
    // The band decoder assembles whole MCUs of every component, so only a
    // scan holding all of the frame's components (interleaved) is decodable.
    if (count != pic->componentCount) return MOX_FAIL(kName, kSegmentRefused, nullptr);

    for (int k = 0; k < count; ++k) {
        uint8_t selector = 0;
        uint8_t tables = 0;
        MOX_READ_OR_RETURN(GetByte(in, &selector), kName);
        MOX_READ_OR_RETURN(GetByte(in, &tables), kName);
        int dcTable = tables >> 4;
        int acTable = tables & 0x0F;
        if (dcTable > kMaxSelector || acTable > kMaxSelector)
            return MOX_FAIL(kName, kSegmentRefused, nullptr);
        if (k < kMaxComponents) {
            param->dcSel[k] = dcTable;
            param->acSel[k] = acTable;
        }
    }

    // Ss, Se and Ah/Al are fixed for a baseline scan and not checked.
    for (int i = 0; i < 3; ++i) {
        uint8_t ignored = 0;
        MOX_READ_OR_RETURN(GetByte(in, &ignored), kName);
    }
    return kSegmentScan;
}

namespace {

// DRI and DNL: a length field (not used) and one 16-bit value.
int readWordSegment(HeaderCursor* cursor, const char* name, uint32_t* value)
{
    uint32_t length = 0;
    MOX_READ_OR_RETURN(GetWord(&cursor->bytes, &length), name);
    MOX_READ_OR_RETURN(GetWord(&cursor->bytes, value), name);
    return MOX_OK;
}

}  // namespace

int AnalysisDRI(HeaderCursor* cursor, DecodeParam* param)
{
    uint32_t interval = 0;
    int result = readWordSegment(cursor, "AnalysisDRI", &interval);
    if (result != MOX_OK) return result;
    param->restartInterval = static_cast<int32_t>(interval);
    return kSegmentRestart;
}

int AnalysisDNL(HeaderCursor* cursor, PictureInfo* pic)
{
    uint32_t lines = 0;
    int result = readWordSegment(cursor, "AnalysisDNL", &lines);
    if (result != MOX_OK) return result;
    pic->height = static_cast<int32_t>(lines);
    return kSegmentLines;
}

}  // namespace mox
