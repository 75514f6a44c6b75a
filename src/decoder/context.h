// The decoder's job state. The allocator copy comes first; Init builds the
// rest from the caller's three records, and every field that the band loop
// needs to resume after any MCU lives here, never on the stack.
#pragma once

#include <cstdint>

#include "frame/bits.h"
#include "frame/memory.h"
#include "moxcodec.h"

namespace mox {

constexpr int kMaxComponents = 4;
constexpr int kBlockSide = 8;
constexpr int kBlockSamples = 64;
constexpr int kCommentBytes = MOX_COMMENT_SIZE;  // 100 characters and a NUL
constexpr uint32_t kBpTableBytes = 6672;         // mode-2 tag-section tables
// The splice area carries an MCU that crosses a piece end, however many
// pieces it spans. The longest MCU this decoder reads: 10 blocks, each a
// 16-bit DC code with 16 extra bits and 63 16-bit AC codes with 15 extra
// bits, begun in a byte with 7 bits used, every byte followed by a stuffing
// byte. Beside it: a 0xFF carried in front, the 64 bytes behind the tail
// that the VELA modes read, and the 0..3 bytes that align the work area.
constexpr uint32_t kLongestMcuBits = 10 * (16 + 16 + 63 * (16 + 15));
constexpr uint32_t kLongestMcuBytes = 2 * ((7 + kLongestMcuBits + 7) / 8);  // 4966
constexpr uint32_t kSpliceAreaBytes = 5120;
static_assert(kSpliceAreaBytes >= kLongestMcuBytes + 1 + 64 + 3);
constexpr uint32_t kRangeLimitBytes = 1408;
constexpr uint32_t kRangeLimitOrigin = 256;      // the table is addressed at its 257th byte
constexpr uint32_t kColorTableEntries = 256;
constexpr uint32_t kFixedWorkBytes = kSpliceAreaBytes + kRangeLimitBytes + 4 * 256 * 4;  // 10624

// Huffman codes of up to kLookaheadBits bits resolved by one look-up of the
// next bits, built at Init from a table's code list for the fast decoder
// (huffman_fast.cpp). Entry layout: bits 0..5 the bits the entry consumes
// (the code, or the code and its extra bits when the look-up also yields the
// value; 0: longer code or none), bit 6 set when it yields the value, 8..15
// symbol, 16..19 its zero run and 22..31 the value (an AC coefficient, or a
// DC difference).
// The consumed count sits at the bottom so it shifts the bit buffer as is.
// Longer codes of a table whose codes are the canonical ones of its lengths
// resolve through the largest code of each length.
constexpr int kLookaheadBits = 10;
constexpr int kSkipGroupBits = 14;
// The two 1/8 preview tables of both AC tables (DecoderContext::acSkip,
// acSkipGroups), carved from the work area when the reduction is 8.
constexpr uint32_t kPreviewSkipBytes = 2 * (2u << kLookaheadBits) + 2 * (2u << kSkipGroupBits);
struct HuffLookahead {
    uint32_t entry[1u << kLookaheadBits];
    int32_t maxCode[17];      // largest code of each length, -1 for none
    int32_t valueOffset[17];  // code list index of a code: valueOffset[length] + code
    uint32_t canonical;       // 0: longer codes take the code-list search
};

// What the MCU decoder of every mode needs of one component.
struct McuComponent {
    uint8_t hSamp;
    uint8_t vSamp;
    const HuffDecodeTable* dcTable;
    const HuffDecodeTable* acTable;
    const int32_t* quantTable;  // natural order
    // Samples across and down that a block yields in a reduced decode (8, 4,
    // 2 or 1); 0 for both at full size.
    uint8_t reducedWidth;
    uint8_t reducedHeight;
    // Reduced decode: picture samples per component sample (1 or 2) and the
    // picture samples of the current MCU inside the picture (set per MCU).
    uint8_t spreadX;
    uint8_t spreadY;
    uint16_t insideWidth;
    uint16_t insideHeight;
};

// Rebuilt from the context at every MoxDecode call (D_setMcuParam).
struct McuParam {
    int32_t componentCount;
    int32_t mcuSize;             // bytes of a fixed-size VELA MCU: 64, or 128 in mode 2
    int32_t reserved[2];
    int32_t outFormat;
    const uint8_t* rangeLimit;   // sample clamp, valid from rangeLimit[-256] to [1151]
    uint32_t velaWords[5];       // mode 1: size mode, rotation; mode 2: velaBpParam
    uint32_t sizeMode;           // mode 1: 0 fixed-size MCUs, 1 variable-size
    uint32_t rotation;           // quarter turns applied to a decoded VELA MCU
    VelaCopierParam copier;      // mode 3
    const uint8_t* bpTables;     // mode 2: the context's tag-section table block
    McuComponent component[kMaxComponents];
};

// Plane array handed to the MCU decoders: entry 0 is the 64-byte tag plane,
// entries 1..4 the 32-bit sample planes of components 0..3.
constexpr int kPlaneCount = 5;

}  // namespace mox

struct DecoderContext {
    mox::Allocator alloc;  // must stay first

    // Callbacks (null until set).
    InputFunc inputFunc;
    void* inputUser;
    OutputFunc outputFunc;
    void* outputUser;

    // Input pieces.
    uint32_t firstFill;   // 1 while the first piece must still be fetched
    uint32_t piecesRead;  // pieces fetched through inputFunc (or supplied first)

    // Picture, as checked by D_entrypic.
    int32_t width;
    int32_t height;
    int32_t imageWidth;
    int32_t imageHeight;
    int32_t auxX;
    int32_t auxY;
    int16_t densityX;
    int16_t densityY;
    int16_t densityUnit;
    uint8_t mode;
    int32_t reduction;
    int32_t componentCount;
    int32_t outFormat;
    int32_t bytesPerPixel;

    // Coding parameters, as checked by D_entryparam.
    uint8_t hSamp[mox::kMaxComponents];
    uint8_t vSamp[mox::kMaxComponents];
    int32_t hMax;
    int32_t vMax;
    int32_t restartInterval;
    int32_t restartCount;
    uint8_t colorTransform;
    int32_t quantTable[4][mox::kBlockSamples];
    int32_t quantZigzag[4][mox::kBlockSamples];  // the same in zig-zag order (fast decoder)
    uint8_t quantSel[mox::kMaxComponents];
    HuffDecodeTable dcHuff[2];
    HuffDecodeTable acHuff[2];
    mox::HuffLookahead dcLookahead[2];  // built by prepareFastPaths at Init
    mox::HuffLookahead acLookahead[2];
    // 1/8 previews: per AC prefix the bits of a code and its extra bits and
    // the zig-zag positions it moves on (EOB: 128); 0 for longer codes or none.
    // Both live at the end of the work area, only when the reduction is 8.
    uint16_t (*acSkip)[1u << mox::kLookaheadBits];
    // 1/8 previews: per 14-bit AC prefix the whole codes with their extra
    // bits that it holds, up to and with an EOB: bits 0..3 their bits, bit 4
    // an EOB at the end, 5..15 the zig-zag positions they move on (one more
    // with the EOB); 0 for none.
    uint16_t (*acSkipGroups)[1u << mox::kSkipGroupBits];
    uint8_t fusedOutput;  // the fused output layout (output_fast.cpp), chosen at Init
    // The fast decoder's coefficient blocks of one MCU, all zeros between
    // MCUs: the vector transform clears each block it reads.
    int32_t fastBlocks[mox::kMaxComponents * 4][mox::kBlockSamples];
    uint8_t dcSel[mox::kMaxComponents];
    uint8_t acSel[mox::kMaxComponents];
    char comment[mox::kCommentBytes];
    uint32_t velaParam[2];
    uint32_t velaBpParam[5];
    VelaCopierParam velaCopierParam;
    uint8_t bpTables[mox::kBpTableBytes];

    // Buffers and stream position, as checked by D_entrysystem.
    uint8_t* inputBuffer;
    uint32_t pieceSize;
    uint32_t totalSize;
    uint32_t* pieceOffset;    // in the caller's SystemParam
    uint32_t* consumedTotal;  // in the caller's SystemParam
    uint32_t* skipRemain;     // in the caller's SystemParam
    uint8_t* bandBuffer;
    uint32_t bandBufferSize;
    uint32_t lineStride;
    uint32_t bandLines;
    uint32_t bandLinesLeft;
    uint8_t* workArea;
    uint32_t workAreaSize;
    bool ownsInputBuffer;
    bool ownsBandBuffer;
    bool ownsWorkArea;

    // Parts of the work area.
    uint8_t* spliceBuffer;
    uint32_t spliceCapacity;
    uint8_t* overflowArea;
    int32_t* blockArea[mox::kMaxComponents];     // decoded blocks of one MCU
    int32_t* upsampleArea[mox::kMaxComponents];  // one MCU raster per component
    int32_t* extraArea[mox::kMaxComponents];
    int32_t* upsampled[mox::kMaxComponents];     // the raster storeMcu reads
    const uint8_t* rangeLimit;                   // points at the table's 257th byte
    int32_t* crToR;
    int32_t* cbToG;
    int32_t* crToG;
    int32_t* cbToB;

    // Derived grid.
    int32_t blockSize;  // output samples per block side: 8 / reduction
    // Per component, the samples across and down of one transformed block:
    // blockSize, or up to 8 where the component is subsampled, so that
    // every component reaches the reduced resolution with at most doubling.
    uint8_t blockWidth[mox::kMaxComponents];
    uint8_t blockHeight[mox::kMaxComponents];
    int32_t outWidth;   // picture delivered: imageWidth / reduction, rounded up
    int32_t outHeight;  // and imageHeight / reduction, rounded up
    int32_t mcusPerRow;
    int32_t mcuRows;
    int32_t mcuWidth;
    int32_t mcuHeight;
    int32_t lastMcuWidth;
    int32_t lastMcuHeight;

    // Resumable band loop.
    int32_t mcuRow;
    int32_t mcuColumn;
    int32_t savedBitPos;
    int32_t savedByteIndex;
    int32_t dcPredictors[mox::kMaxComponents];
    uint32_t spliceFlag;     // 1 while the cursor reads the splice buffer
    uint32_t spliceLength;   // carried-over bytes at the start of the splice buffer
    uint32_t pieceStream;    // stream offset of the byte at inputBuffer + pieceOrigin
    uint32_t pieceOrigin;    // pieceOffset when the cursor was built
    uint32_t bandTopLine;
    uint32_t bandMcuRows;
    uint8_t* writePointer;
    uint32_t overflowPending;
    uint32_t overflowLines;
    uint32_t rowStarted;
    uint32_t rstPending;
    bool picturePassed;      // every MCU stored and the last band handed over
    int32_t failure;         // the first failure of the job, 0 while there is none
    int32_t finalStatus;     // 0 or 1000 once the job is complete, else -1
    mox::BitCursor cursor;
    mox::McuParam mcuParam;
    int32_t tagPlane[mox::kBlockSamples / 4];  // 64 bytes
    int32_t* planes[mox::kPlaneCount];
    uint32_t* errorOut;      // the caller's slot during one MoxDecode call
};
