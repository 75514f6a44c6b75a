// Byte and marker readers of the header analysis and of the decoder's
// restart handling. Markers follow T.81 B.1.1.2: 0xFF then a code.
#include "frame/reader.h"

#include "frame/errlog.h"
#include "frame/markers.h"
#include "moxcodec.h"

namespace mox {

int GetByte(ByteReader* reader, uint8_t* value)
{
    if (bytesLeft(reader) == 0) return MOX_FAIL("GetByte", MOX_NEED_INPUT, nullptr);
    *value = reader->data[reader->offset++];
    return MOX_OK;
}

int GetWord(ByteReader* reader, uint32_t* value)
{
    if (bytesLeft(reader) <= 2) return MOX_FAIL("GetWord", MOX_NEED_INPUT, nullptr);
    const uint8_t* at = reader->data + reader->offset;
    *value = (uint32_t{at[0]} << 8) | at[1];
    reader->offset += 2;
    return MOX_OK;
}

int SkipByte(ByteReader* reader, uint32_t n)
{
    if (bytesLeft(reader) <= n) return MOX_FAIL("SkipByte", MOX_NEED_INPUT, nullptr);
    reader->offset += n;
    return MOX_OK;
}

namespace {

// Codes that may follow 0xFF as a marker: TEM (0x01), the reserved 0x02 and
// 0xC0..0xFF (T.81 Table B.1). 0x00 is stuffing, 0x03..0xBF are reserved.
bool isMarkerCode(uint8_t code)
{
    return code == 0x01 || code == 0x02 || code >= 0xC0;
}

}  // namespace

uint8_t GetMarker(ByteReader* reader)
{
    uint8_t prefix = 0;
    if (GetByte(reader, &prefix) != MOX_OK) {
        MOX_FAIL("GetMarker", MOX_NEED_INPUT, nullptr);
        return kMarkerBufferEnded;
    }
    if (prefix != kMarkerPrefix) {
        MOX_FAIL("GetMarker", MOX_SEGMENT_REFUSED, nullptr);
        return kMarkerInvalid;
    }
    uint8_t code = 0;
    if (GetByte(reader, &code) != MOX_OK) {
        MOX_FAIL("GetMarker", MOX_NEED_INPUT, nullptr);
        return kMarkerBufferEnded;
    }
    if (!isMarkerCode(code)) {
        MOX_FAIL("GetMarker", MOX_SEGMENT_REFUSED, nullptr);
        return kMarkerInvalid;
    }
    return code;
}

}  // namespace mox
