// Header analysis: reads the marker segments at the head of a JPEG stream,
// up to the start of scan, out of the caller's input buffer. The buffer is
// never refilled here; when it ends before the header does, the stream
// position is put back so the caller can supply more and call again.
#include "frame/errlog.h"
#include "frame/markers.h"
#include "header/segments.h"

namespace mox {

namespace {

constexpr uint8_t kReserved02 = 0x02;  // skipped by its length like APPn

// APP1..APP15 and the reserved code 0x02: skipped by their length.
int skipSegment(HeaderCursor* cursor)
{
    static constexpr const char* kName = "AnalysisMarker";
    uint32_t body = 0;
    int result = readSegmentBody(&cursor->bytes, kName, &body);
    if (result != MOX_OK) return result;
    MOX_READ_OR_RETURN(SkipByte(&cursor->bytes, body), kName);
    return MOX_OK;
}

// The piece may hold bytes past the end of the stream (a buffer larger than
// what is left of it): those are not read, so a header that runs past
// `totalSize` ends like one cut at the end of the piece.
uint32_t streamEndInPiece(const SystemParam* sys)
{
    uint32_t left = sys->totalSize > sys->consumedTotal ? sys->totalSize - sys->consumedTotal : 0;
    uint32_t offset = sys->pieceOffset < sys->pieceSize ? sys->pieceOffset : sys->pieceSize;
    return sys->pieceSize - offset > left ? offset + left : sys->pieceSize;
}

}  // namespace

int readSegmentBody(ByteReader* in, const char* analyser, uint32_t* body)
{
    constexpr uint32_t kLengthField = 2;  // the length counts itself
    uint32_t length = 0;
    MOX_READ_OR_RETURN(GetWord(in, &length), analyser);
    if (length < kLengthField) return MOX_FAIL(analyser, kSegmentRefused, nullptr);
    *body = length - kLengthField;
    return MOX_OK;
}

int AnalysisMarker(HeaderCursor* cursor, uint8_t marker, PictureInfo* pic, DecodeParam* param)
{
    switch (marker) {
    case kMarkerSof0: {
        int result = AnalysisFrame(cursor, pic, param);
        if (result != MOX_OK) return MOX_FAIL("AnalysisMarker", result, nullptr);
        return kSegmentFrame;
    }
    case kMarkerDht: return AnalysisDHT(cursor, param);
    case kMarkerDqt: return AnalysisDQT(cursor, param);
    case kMarkerDri: return AnalysisDRI(cursor, param);
    case kMarkerDnl: return AnalysisDNL(cursor, pic);
    case kMarkerSos: return AnalysisSOS(cursor, pic, param);
    case kMarkerApp0: return AnalysisAPP(cursor, pic);
    case kMarkerCom: return AnalysisCOM(cursor, param);
    case kMarkerSoi: return kSegmentStartOfImage;
    default: break;
    }
    if (marker >= kMarkerRst0 && marker <= kMarkerRst7) return kSegmentRefused;
    if (marker == kReserved02 || (marker >= kMarkerApp1 && marker <= kMarkerApp15)) return skipSegment(cursor);
    // TEM, SOF1..SOF15 (progressive, lossless, arithmetic and hierarchical
    // frames), DAC, DHP, EXP and JPG0..JPG13.
    return MOX_ERR_UNSUPPORTED;
}

// Reads segment after segment until the start of scan. `sys` still holds
// the position the cursor started from (it is written back by the caller).
int AnalysisMain(HeaderCursor* cursor, const SystemParam* sys, PictureInfo* pic,
                 DecodeParam* param)
{
    static constexpr const char* kName = "AnalysisMain";
    ByteReader* in = &cursor->bytes;
    bool skipped = false;  // a thumbnail or extension segment was passed over

    uint8_t marker = GetMarker(in);
    if (marker == kMarkerInvalid) return MOX_FAIL(kName, MOX_ERR_MARKER, nullptr);
    for (;;) {
        if (marker == kMarkerBufferEnded) return MOX_FAIL(kName, MOX_NEED_INPUT, nullptr);
        if (marker == kMarkerEoi) {
            uint32_t consumed = sys->consumedTotal + (in->offset - sys->pieceOffset);
            if (consumed == sys->totalSize) return MOX_HEADER_EOI;
            return MOX_FAIL(kName, MOX_ERR_EARLY_EOI, nullptr);
        }

        int result = AnalysisMarker(cursor, marker, pic, param);
        switch (result) {
        case MOX_ERR_UNSUPPORTED:
        case MOX_ERR_HUFFMAN_TABLE:
            return MOX_FAIL(kName, result, nullptr);
        case MOX_NEED_INPUT:
            return MOX_FAIL(kName, MOX_NEED_INPUT, nullptr);
        case kSegmentThumbnail:
        case kSegmentJfxxJpeg:
        case kSegmentJfxxPalette:
        case kSegmentJfxxRgb:
            skipped = true;
            [[fallthrough]];
        case kSegmentJfif:
            if (SkipByte(in, cursor->skipRemain) != MOX_OK)
                return MOX_FAIL(kName, MOX_NEED_INPUT, nullptr);
            cursor->skipRemain = 0;
            break;
        case kSegmentScan:
            return skipped ? MOX_HEADER_SKIPPED : MOX_OK;
        case kSegmentRefused:
            return MOX_FAIL(kName, MOX_ERR_MARKER, nullptr);
        default:
            break;  // a segment read, or an APPn skipped
        }

        // The next marker needs two bytes.
        if (bytesLeft(in) == 1) return MOX_FAIL(kName, MOX_NEED_INPUT, nullptr);
        marker = GetMarker(in);
        if (marker == kMarkerInvalid) return MOX_FAIL(kName, MOX_ERR_MARKER, nullptr);
    }
}

}  // namespace mox

using namespace mox;

extern "C" MOX_API int32_t MoxAnalysisHeader(SystemParam* sys, InputFunc input, void* user,
                                             PictureInfo* pic, DecodeParam* param,
                                             int32_t* error)
{
    static constexpr const char* kName = "MoxAnalysisHeader";
    if (sys == nullptr || pic == nullptr || param == nullptr)
        return MOX_FAIL(kName, MOX_ERR_NULL, nullptr);
    if (sys->inputBuffer == nullptr || sys->pieceSize == 0 || sys->totalSize == 0) {
        MOX_FAIL("D_preprocess", MOX_ERR_NO_INPUT, nullptr);
        return MOX_FAIL(kName, MOX_ERR_NO_INPUT, nullptr);
    }

    // First fill: the caller asked for the buffer to be filled through input.
    if (input != nullptr && sys->pieceOffset == 0 && sys->firstFill == 1) {
        if (user == nullptr) return MOX_FAIL(kName, MOX_ERR_NULL, nullptr);
        uint32_t wanted = sys->totalSize < sys->pieceSize ? sys->totalSize : sys->pieceSize;
        int32_t result = input(sys->inputBuffer, 0, wanted, 0, user);
        if (result != 0) {
            if (error != nullptr) *error = result;
            return MOX_FAIL(kName, MOX_ERR_CALLBACK, nullptr);
        }
        sys->firstFill = 0;
    }

    // The stream fields change only when the analysis does not need more
    // input; a result of 1 leaves them as they were at entry.
    HeaderCursor cursor{{sys->inputBuffer, streamEndInPiece(sys), sys->pieceOffset}, sys->skipRemain};
    int result = AnalysisMain(&cursor, sys, pic, param);
    if (result == MOX_NEED_INPUT) return MOX_FAIL(kName, MOX_NEED_INPUT, nullptr);

    sys->consumedTotal += cursor.bytes.offset - sys->pieceOffset;
    sys->pieceOffset = cursor.bytes.offset;
    sys->skipRemain = cursor.skipRemain;
    return result;
}
