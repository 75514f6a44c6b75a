// Drives a whole decode job through the public interface: header analysis,
// Init, then MoxDecode with or without each callback, in pieces and bands of
// any size, collecting the delivered lines into one picture; or, on the same
// job set-up, the MCU loop that reads the quantised coefficients.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "moxcodec.h"
#include "support/allocator.h"
#include "support/picture.h"
#include "support/refjpeg.h"

namespace moxtest {

struct DecodeOptions {
    uint32_t pieceSize = 0;   // 0: the whole stream in one piece
    uint32_t bandLines = 0;   // 0: the whole picture in one band
    bool useInput = false;    // InputFunc set, else refill on return 1
    bool useOutput = false;   // OutputFunc set, else take the band on return 2
    int32_t outFormat = 1;
    int32_t inputResult = 0;   // what InputFunc returns after filling
    int32_t outputResult = 0;  // what OutputFunc returns
    int32_t colorTransform = -1;  // 0: three components delivered as coded (RGB)
    // For a stream without a header (the VELA modes): fills the records in
    // place of the header analysis, and the whole stream is MCU data. Such
    // a job fetches even its first piece through InputFunc.
    std::function<void(PictureInfo&, DecodeParam&)> records;
    int32_t reduction = -1;  // -1: as the records say; r: ceil(w / r) x ceil(h / r) pixels
    std::function<void(SystemParam&)> beforeInit;   // changes the records Init gets
    std::function<void(SystemParam&)> afterRefill;  // changes them after the first refill
    // Replaces the MoxDecode loop (its result is the status); `refill`
    // hands over the next piece, false when the stream is used up.
    std::function<int32_t(DecoderContext*, const std::function<bool()>& refill)> drive;
};

struct DecodeResult {
    int32_t headerStatus = 0;
    int32_t initStatus = 0;
    int32_t status = 0;       // last MoxDecode result
    int calls = 0;            // MoxDecode calls
    Picture picture;          // the delivered lines
    uint32_t consumedTotal = 0;
    uint32_t pieceOffset = 0;
    int liveBlocks = 0;       // allocations not released after Finalize
    int32_t statusAgain = 0;  // a further MoxDecode call after a failure
    uint32_t errorSlot = 0;   // MoxDecode's errorOut after the last call
    std::vector<uint32_t> bandLengths;  // byte counts handed to OutputFunc
};

size_t scanStart(const std::vector<uint8_t>& stream);  // the first byte after the SOS segment
DecodeResult decodeStream(const std::vector<uint8_t>& stream, const DecodeOptions& options);

// The quantised coefficients this decoder reads, block by block, through the
// driver's own piece splicing, restart handling and MCU decoders, for exact
// comparison with the reference codec's jpeg_read_coefficients.
struct OurCoefficients {
    std::string failure;             // empty when every MCU was read
    int components = 0;
    int blocksWide[4] = {};
    int blocksHigh[4] = {};
    std::vector<int32_t> blocks[4];  // 64 per block in zig-zag order, row after row
    int32_t quant[4][64] = {};       // component's table, natural order
    int refills = 0;                 // pieces fetched after the first
};

// pieceSize 0: the whole stream in one piece; a reduction (2, 4, 8) makes
// the MCU decoders compared along the way produce previews.
OurCoefficients readCoefficients(const std::vector<uint8_t>& stream, uint32_t pieceSize, int32_t reduction = -1);
// Empty when every block and the quantisation tables agree with the
// reference codec's reading, else the first difference.
std::string compareCoefficients(const RefCoefficients& ref, const OurCoefficients& ours);

}  // namespace moxtest
