// Application segment 0 (JFIF and its JFXX extension) and the comment
// segment. Only the JFIF densities are kept; thumbnails and extension data
// are left in skipRemain for AnalysisMain to skip.
#include <cstring>

#include "frame/errlog.h"
#include "header/segments.h"

namespace mox {

namespace {

constexpr uint32_t kIdentifierSize = 5;        // "JFIF\0" or "JFXX\0"
constexpr uint32_t kIdentifierNeed = 6;        // identifier plus one byte of slack
constexpr int32_t kJfifFixedFields = 7;        // version 2, units 1, densities 4
constexpr int32_t kJfifWithoutThumbnail = 9;   // fixed fields and two zero dimensions
constexpr uint8_t kJfxxJpeg = 0x10;
constexpr uint8_t kJfxxPalette = 0x11;
constexpr uint8_t kJfxxRgb = 0x13;

// The identifier is four letters and its terminating NUL.
bool identifierIs(const ByteReader* in, const char (&identifier)[kIdentifierSize])
{
    return std::memcmp(in->data + in->offset, identifier, kIdentifierSize) == 0;
}

}  // namespace

int AnalysisJFIF(HeaderCursor* cursor, PictureInfo* pic, int32_t rest)
{
    static constexpr const char* kName = "AnalysisJFIF";
    ByteReader* in = &cursor->bytes;
    // A segment too short for its own fixed fields cannot be skipped safely.
    if (rest < kJfifFixedFields) return MOX_FAIL(kName, kSegmentRefused, nullptr);

    MOX_READ_OR_RETURN(SkipByte(in, 2), kName);  // version
    uint8_t units = 0;
    uint32_t densityX = 0;
    uint32_t densityY = 0;
    MOX_READ_OR_RETURN(GetByte(in, &units), kName);
    pic->densityUnit = units;
    MOX_READ_OR_RETURN(GetWord(in, &densityX), kName);
    pic->densityX = static_cast<int32_t>(densityX);
    MOX_READ_OR_RETURN(GetWord(in, &densityY), kName);
    pic->densityY = static_cast<int32_t>(densityY);

    cursor->skipRemain = static_cast<uint32_t>(rest - kJfifFixedFields);
    return rest == kJfifWithoutThumbnail ? kSegmentJfif : kSegmentThumbnail;
}

int AnalysisAPP(HeaderCursor* cursor, PictureInfo* pic)
{
    static constexpr const char* kName = "AnalysisAPP";
    ByteReader* in = &cursor->bytes;
    uint32_t body = 0;
    int status = readSegmentBody(in, kName, &body);
    if (status != MOX_OK) return status;

    if (bytesLeft(in) < kIdentifierNeed) return MOX_NEED_INPUT;

    if (identifierIs(in, "JFIF")) {
        in->offset += kIdentifierSize;
        int result = AnalysisJFIF(cursor, pic, static_cast<int32_t>(body) - 5);
        if (result == kSegmentThumbnail || result == kSegmentJfif) return result;
        return MOX_FAIL(kName, result, nullptr);
    }

    if (identifierIs(in, "JFXX")) {
        in->offset += kIdentifierSize;
        uint8_t extension = 0;
        MOX_READ_OR_RETURN(GetByte(in, &extension), kName);
        if (body < kIdentifierNeed) return MOX_FAIL(kName, kSegmentRefused, nullptr);
        uint32_t rest = body - kIdentifierNeed;
        switch (extension) {
        case kJfxxJpeg: cursor->skipRemain = rest; return kSegmentJfxxJpeg;
        case kJfxxPalette: cursor->skipRemain = rest; return kSegmentJfxxPalette;
        case kJfxxRgb: cursor->skipRemain = rest; return kSegmentJfxxRgb;
        default:
            MOX_READ_OR_RETURN(SkipByte(in, rest), kName);
            cursor->skipRemain = 0;
            return MOX_OK;
        }
    }

    // Another APP0 identifier: nothing of it is kept.
    MOX_READ_OR_RETURN(SkipByte(in, body), kName);
    cursor->skipRemain = 0;
    return MOX_OK;
}

int AnalysisCOM(HeaderCursor* cursor, DecodeParam* param)
{
    static constexpr const char* kName = "AnalysisCOM";
    ByteReader* in = &cursor->bytes;
    uint32_t size = 0;
    int status = readSegmentBody(in, kName, &size);
    if (status != MOX_OK) return status;
    // Like a skip, the copy needs one byte beyond the text.
    if (bytesLeft(in) <= size) return MOX_FAIL(kName, MOX_NEED_INPUT, nullptr);

    // A comment longer than the field (100 characters and NUL) is dropped
    // whole rather than cut, and the earlier comment stays.
    if (size < MOX_COMMENT_SIZE) {
        std::memcpy(param->comment, in->data + in->offset, size);
        param->comment[size] = '\0';
    }
    in->offset += size;
    return kSegmentComment;
}

}  // namespace mox
