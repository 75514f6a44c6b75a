// The encoder's job state. The allocator copy comes first; Init builds the
// configuration from the caller's three records, MoxEncode keeps the loop
// state here so that a job can stop before any MCU and resume.
#pragma once

#include <cstdint>

#include "frame/bits.h"
#include "frame/memory.h"
#include "moxcodec.h"

namespace mox {
// Callback-set flags: unset until MoxEncSetInFunc / MoxEncSetOutFunc.
constexpr int32_t kCallbackUnset = -1;
constexpr int32_t kCallbackSet = 1;
}  // namespace mox

namespace mox::enc {

constexpr int kMaxComponents = 4;
constexpr int kMaxBlocksPerMcu = 10;  // sum of H x V over the components

// Where each code entry of one coded block ends (filled by codeHuffman):
// per entry the free bits left in the byte holding its last bit and that
// byte's index in the buffer written. 516 bytes, one per block of an MCU.
struct CodePositions {
    int32_t freeBits[64];
    int32_t byteIndex[64];
    int32_t count;
};
static_assert(sizeof(CodePositions) == 516, "one code position record is 516 bytes");

// What a block coder needs of one component.
struct ComponentRecord {
    uint32_t byteBudget;  // VELA only: bytes this block may take in the MCU
    const HuffDecodeTable* dcTable;
    const HuffDecodeTable* acTable;
    const int32_t* quantTable;  // natural order
};

struct McuComponent {
    uint8_t h;
    uint8_t v;
    ComponentRecord record;
    // The quantisation table as floats in transposed order (u * 8 + v) for
    // the fast block coder, or null: blocks go through codeJpgBlk.
    const float* divisors;
};

// The set-up handed with every MCU to MoxCodeMcu (or the VELA MCU coder).
struct McuConfig {
    uint32_t velaSizeMode;  // VELA word 31; unused in baseline mode
    uint32_t velaMode;
    uint32_t dcReset;       // 1: every block starts from predictor 0
    uint32_t mcuSize;       // 64
    uint32_t components;
    McuComponent component[kMaxComponents];
};

// Entry 0 the VELA tag plane (null in baseline mode), then the block
// buffers of components 0..3 (null for absent components).
struct BlockPointers {
    uint8_t* tagPlane;
    int32_t* blocks[kMaxComponents];
};

// Work areas of the VELA MCU coder, cleared at every MCU: each block is
// coded whole into its own buffer (room for a worst-case block with every
// byte stuffed), then cut into the MCU.
constexpr uint32_t kVelaBlockBufferBytes = 420;
struct VelaCoderArea {
    uint8_t blockBits[kMaxComponents][kVelaBlockBufferBytes];
    CodePositions positions[kMaxComponents];
    uint8_t tagSection[80];
    uint8_t mcu[80];
};

enum class OutputMode : int32_t { direct, spill };

// MoxEncode's state between calls.
enum : int32_t {
    kEncodeRunning = 0,
    kEncodeWaitingInput = 1,   // returned 1: the caller supplies the next band
    kEncodeWaitingOutput = 2,  // returned 2: the caller takes the full output buffer
};

constexpr uint8_t kCodingBaseline = 0;
constexpr uint8_t kCodingVela = 1;
}  // namespace mox::enc

struct EncoderContext {
    mox::Allocator alloc;  // must stay first

    InputFunc inputFunc;
    void* inputUser;
    int32_t inputSet;  // kCallbackUnset / kCallbackSet
    OutputFunc outputFunc;
    void* outputUser;
    int32_t outputSet;

    // Picture.
    int32_t width;
    int32_t height;
    int32_t regionWidth;
    int32_t regionHeight;
    int32_t regionLeft;
    int32_t regionTop;
    uint8_t pixelFormat;
    uint8_t components;  // 1, 3 or 4
    uint8_t codingMode;  // kCodingBaseline / kCodingVela
    uint16_t densityX;
    uint16_t densityY;
    uint8_t densityUnit;

    // Coding configuration, settled at Init.
    uint8_t downsampleMode;  // 0 decimation, 1 rounded mean
    uint32_t restartInterval;  // 0: no restart markers
    uint8_t colorTransform;
    float colorMatrix[16];  // row-major 4 x 4
    int32_t levelShift[4];
    uint8_t hSamp[4];
    uint8_t vSamp[4];
    uint8_t hMax;
    uint8_t vMax;
    int32_t quantTable[4][64];  // natural order
    uint8_t quantSel[4];
    uint8_t dcSel[4];
    uint8_t acSel[4];
    HuffDecodeTable dcHuff[2];  // symbol-index order
    HuffDecodeTable acHuff[2];
    char comment[MOX_ENC_COMMENT_SIZE];

    // VELA mode.
    uint8_t velaMode;
    VelaEncodeParam velaParam;
    uint8_t tagPlane[64];
    mox::enc::VelaCoderArea velaCoder;

    // Job flags.
    int32_t headerWritten;
    int32_t noEoi;
    int32_t inputValidated;
    int32_t imageDone;

    // Buffers; the *Supplied flags tell which ones belong to the caller.
    uint8_t* inBuf;
    uint32_t inBufSize;
    uint32_t lineBytes;
    uint32_t linesPerBand;
    uint32_t bandCount;
    uint8_t* outBuf;
    uint32_t outBufSize;
    uint8_t* workBuf;
    uint32_t workSize;
    bool inBufSupplied;
    bool outBufSupplied;
    bool workBufSupplied;

    // Work area carving (see carveWorkArea).
    uint8_t* mcuRowBuf;
    uint8_t* spill;
    uint32_t spillCapacity;  // kSpillSize less the 0..3 bytes that align the work area
    int32_t* convertedPlane[4];
    int32_t* rawPlane[4];
    int32_t* blockBuf[4];
    mox::enc::CodePositions* positions;
    uint8_t* velaArea;
    uint32_t planeSamples;  // samples per plane: 64 x Hmax x Vmax
    uint32_t blocksPerMcu;  // sum of H x V

    // Loop state.
    uint32_t mcuRow;
    uint32_t mcuColumn;
    uint32_t mcuRows;
    uint32_t mcuColumns;
    uint32_t bandCounter;
    uint32_t bandBytes;
    uint32_t readPos;
    const uint8_t* rowSource;
    uint32_t rowBytes;
    uint32_t heldBytes;
    int32_t fetchedRow;
    uint32_t remainingTop;
    bool firstBandPulled;
    int32_t state;
    int32_t failure;  // the first failure of the job, 0 while there is none
    mox::enc::OutputMode outputMode;
    uint32_t spillPending;   // complete bytes waiting at the spill start
    uint32_t* callerCount;
    uint32_t mcusCoded;
    uint32_t restartIndex;
    int32_t dcPred[4];
    int32_t fixedMatrix[16];
    float divisors[4][64];  // quantTable as floats, transposed, for the fast block coder
    mox::BitCursor writer;
    mox::enc::BlockPointers blockPointers;
    mox::enc::McuConfig mcuConfig;
};
