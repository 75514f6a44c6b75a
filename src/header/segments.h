// Marker-segment analysers of the header analysis. Each reads one segment
// from the byte after its marker code and stores what the decoder needs.
// Results: the segment's code below on success, 1 when the buffer ended
// (recorded by the reader and the analyser), MOX_SEGMENT_REFUSED (255) for a
// segment the library does not decode, or a negative status.
#pragma once

#include <cstdint>

#include "frame/reader.h"
#include "moxcodec.h"

namespace mox {

// Segment results that pass from the analysers to AnalysisMain only.
constexpr int kSegmentThumbnail = 100;      // JFIF APP0 with a thumbnail; skip the rest
constexpr int kSegmentFrame = 192;          // SOF0 read
constexpr int kSegmentHuffman = 196;        // DHT read
constexpr int kSegmentJfxxJpeg = 200;       // JFXX thumbnail coded as JPEG; skip the rest
constexpr int kSegmentStartOfImage = 216;   // SOI
constexpr int kSegmentScan = 218;           // SOS read: the header ends here
constexpr int kSegmentQuant = 219;          // DQT read
constexpr int kSegmentLines = 220;          // DNL read
constexpr int kSegmentRestart = 221;        // DRI read
constexpr int kSegmentJfif = 224;           // JFIF APP0 without thumbnail; skip the rest
constexpr int kSegmentComment = 254;        // COM read
constexpr int kSegmentRefused = MOX_SEGMENT_REFUSED;  // 255
constexpr int kSegmentJfxxPalette = 300;    // JFXX thumbnail, 1 byte per pixel
constexpr int kSegmentJfxxRgb = 400;        // JFXX thumbnail, 3 bytes per pixel

// The analysis position: a view of the caller's inputBuffer, pieceSize and
// pieceOffset, written back to the SystemParam when the analysis ends.
struct HeaderCursor {
    ByteReader bytes;
    uint32_t skipRemain;  // bytes of the current segment left for AnalysisMain to skip
};

// Reads segments until the start of scan; `sys` holds the entry position.
int AnalysisMain(HeaderCursor* cursor, const SystemParam* sys, PictureInfo* pic,
                 DecodeParam* param);
// Runs the analyser of one marker code (the code already read).
int AnalysisMarker(HeaderCursor* cursor, uint8_t marker, PictureInfo* pic, DecodeParam* param);

int AnalysisFrame(HeaderCursor* cursor, PictureInfo* pic, DecodeParam* param);
int AnalysisSOS(HeaderCursor* cursor, const PictureInfo* pic, DecodeParam* param);
int AnalysisDRI(HeaderCursor* cursor, DecodeParam* param);
int AnalysisDNL(HeaderCursor* cursor, PictureInfo* pic);
int AnalysisDQT(HeaderCursor* cursor, DecodeParam* param);
int AnalysisDHT(HeaderCursor* cursor, DecodeParam* param);
int AnalysisAPP(HeaderCursor* cursor, PictureInfo* pic);
int AnalysisJFIF(HeaderCursor* cursor, PictureInfo* pic, int32_t rest);
int AnalysisCOM(HeaderCursor* cursor, DecodeParam* param);

// Reads a segment's length field into the byte count that follows it:
// MOX_OK, 1 when the buffer ends, or kSegmentRefused for a length below 2.
int readSegmentBody(ByteReader* in, const char* analyser, uint32_t* body);

}  // namespace mox

// A read that an analyser needs: when the reader reports the end of the
// buffer (and has recorded it), the analyser records the same under its own
// name and returns 1.
#define MOX_READ_OR_RETURN(read, analyser)                              \
    do {                                                                \
        if ((read) != MOX_OK) return MOX_FAIL((analyser), MOX_NEED_INPUT, nullptr); \
    } while (0)
