// Drives a whole encode job for the tests: the picture fed in bands by push
// or pull input, the stream collected by push or pull output.
#pragma once

#include <cstdint>
#include <vector>

#include "moxcodec.h"
#include "support/picture.h"

namespace enctest {

struct EncodeSetup {
    moxtest::Picture picture;  // components = bytes per pixel of pixelFormat
    EncodePicture pic{};
    EncodeParam param{};       // cleared by makeSetup
    uint32_t bandLines = 0;    // 0: the whole picture in one band
    uint32_t outBufSize = 1u << 20;
    bool pullInput = false;
    bool pullOutput = false;
    int32_t outputResult = 0;    // what OutputFunc returns
    uint8_t* workBuf = nullptr;  // caller work area, or null: the library's
    uint32_t workSize = 0;
};

struct EncodeRun {
    int32_t initStatus = 0;
    int32_t status = 0;                // last MoxEncode result, or initStatus
    std::vector<uint8_t> stream;
    std::vector<uint32_t> handOvers;   // lengths given to OutputFunc
    std::vector<uint32_t> pushed;      // *outBytes at each return of 2
    int needInput = 0;                 // returns of 1
    int32_t callbackError = 0;         // MoxEncode's cbError slot
};

int bytesPerPixel(int pixelFormat);
// A synthetic picture in `pixelFormat`, quality row `quality`, the whole
// picture as region.
EncodeSetup makeSetup(int width, int height, int pixelFormat, int quality = 5, uint32_t seed = 1);
EncodeRun runEncode(const EncodeSetup& setup);

// Caller tables 0 of 16-bit codes FFFF, FFFE, ... (not a prefix code a
// decoder could rebuild): nearly every coded byte is 0xFF and stuffed, for
// tests of the output discipline.
void useDenseCodes(EncodeParam* param);

}  // namespace enctest
