/*
 * libmoxcodec: still-image codec for band-by-band decoding and encoding of
 * baseline JPEG (JFIF) and of the VELA per-MCU format.
 *
 * Every job is described by caller-owned records, gets its memory from the
 * caller's allocator at Init only, moves data through the caller's buffers
 * (with optional callbacks) and can stop after any MCU and resume.
 *
 * Usable from C11 and C++. All integers are fixed-width; a 32-bit field that
 * holds -1 (all bits set) means "not set" in the parameter records.
 */
#ifndef MOXCODEC_H
#define MOXCODEC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(MOXCODEC_BUILDING)
#define MOX_API __attribute__((visibility("default")))
#else
#define MOX_API
#endif

/* ------------------------------------------------------------------------
 * Status codes. 0 is success, small positive values ask the caller to act
 * and call again, negative values are failures.
 * ---------------------------------------------------------------------- */
enum {
    MOX_OK = 0,
    MOX_NEED_INPUT = 1,         /* more input (compressed piece or input band) */
    MOX_OUTPUT_READY = 2,       /* a band is ready / the output buffer is full */
    MOX_HEADER_SKIPPED = 10,    /* start of scan reached after a skipped thumbnail/extension */
    MOX_HEADER_EOI = 30,        /* end of image at the end of the declared data */
    MOX_SEGMENT_REFUSED = 255,  /* internal: a segment the library does not decode */
    MOX_STREAM_NO_EOI = 1000,   /* stream consumed without an end-of-image marker */

    MOX_ERR_ALLOC = -1,         /* allocation failed; bit width out of range */
    MOX_ERR_NO_INPUT = -2,      /* input buffer of the header analysis missing */
    MOX_ERR_CODING_3 = -3,      /* encoder coding step failed */
    MOX_ERR_CODING_4 = -4,      /* encoder parameter out of range */
    MOX_ERR_FORMAT = -5,        /* component count / output or pixel format */
    MOX_ERR_REDUCTION = -6,     /* reduction not 1, 2, 4 or 8; not 1 in a VELA mode */
    MOX_ERR_SAMPLING = -7,      /* sampling factor out of range */
    MOX_ERR_CODING_8 = -8,      /* encoder coding step failed */
    MOX_ERR_UNSUPPORTED = -10,  /* frame type or marker not decoded; > 10 blocks per MCU */
    MOX_ERR_QUANT = -11,        /* quantisation table missing or out of range */
    MOX_ERR_NULL = -12,         /* required pointer null; VELA parameter block invalid */
    MOX_ERR_IN_BUFFER = -13,    /* input buffer too small */
    MOX_ERR_LINE_PITCH = -14,   /* line pitch out of range */
    MOX_ERR_OUT_BUFFER = -15,   /* output (band) buffer size 0 */
    MOX_ERR_WORK_AREA = -16,    /* caller work area too small */
    MOX_ERR_QUALITY = -17,      /* encoder quality level out of range */
    MOX_ERR_CODING_MODE = -18,  /* encoder coding mode out of range */
    MOX_ERR_VELA_MODE = -19,    /* encoder VELA mode out of range */
    MOX_ERR_SIZE = -20,         /* width/height below 1; region outside the picture */
    MOX_ERR_BUFFER_LIMIT = -21, /* input piece or output buffer above 2 GiB - 1 bytes */
    MOX_ERR_OUT_COUNT = -22,    /* *outBytes beyond outBufSize when the encoder resumes */
    MOX_ERR_EARLY_EOI = -30,    /* end of image before the end of the declared data */
    MOX_ERR_RUN_CODE = -40,     /* a run or Wyle code cannot be formed */
    MOX_ERR_RESUME_OFFSET = -44,/* pieceOffset beyond pieceSize */
    MOX_ERR_TOTAL_SIZE = -55,   /* totalSize is 0 */
    MOX_ERR_TAG_CODER = -99,    /* the tag-section coder failed */
    MOX_ERR_MARKER = -100,      /* no marker where one is required, or a segment refused */
    MOX_ERR_CALLBACK = -111,    /* a callback returned non-zero */
    MOX_ERR_MODE = -333,        /* decoding mode not 0..3 */
    MOX_ERR_EMPTY_HUFFMAN = -555,  /* a selected Huffman table holds no codes */
    MOX_ERR_ALLOCATOR = -999,   /* no complete allocator scheme */
    MOX_ERR_HUFFMAN_TABLE = -1000, /* Huffman table with more lengths than codes */
    MOX_ERR_RESTART = -99998,   /* restart marker due, another marker found */
    MOX_ERR_CORRUPT = -99999    /* code word matches no table entry / oversized read */
};

/* Short English text for a status code. */
static inline const char *MoxStatusText(int32_t status)
{
    switch (status) {
    case MOX_OK: return "success";
    case MOX_NEED_INPUT: return "more input needed";
    case MOX_OUTPUT_READY: return "output ready";
    case MOX_HEADER_SKIPPED: return "start of scan reached (thumbnail or extension skipped)";
    case MOX_HEADER_EOI: return "end of image reached without a scan";
    case MOX_SEGMENT_REFUSED: return "segment not decoded";
    case MOX_STREAM_NO_EOI: return "stream ended without an end-of-image marker";
    case MOX_ERR_ALLOC: return "allocation failed or bit width out of range";
    case MOX_ERR_NO_INPUT: return "input buffer missing";
    case MOX_ERR_CODING_3: return "encoder coding step failed";
    case MOX_ERR_CODING_4: return "encoder parameter out of range";
    case MOX_ERR_FORMAT: return "component count or pixel format not allowed";
    case MOX_ERR_REDUCTION: return "reduction not 1, 2, 4 or 8 (VELA modes: 1 only)";
    case MOX_ERR_SAMPLING: return "sampling factor out of range";
    case MOX_ERR_CODING_8: return "encoder coding step failed";
    case MOX_ERR_UNSUPPORTED: return "unsupported frame type, marker or MCU layout";
    case MOX_ERR_QUANT: return "quantisation table missing or out of range";
    case MOX_ERR_NULL: return "required argument missing or invalid";
    case MOX_ERR_IN_BUFFER: return "input buffer too small";
    case MOX_ERR_LINE_PITCH: return "line pitch out of range";
    case MOX_ERR_OUT_BUFFER: return "output buffer size is zero";
    case MOX_ERR_WORK_AREA: return "work area too small";
    case MOX_ERR_QUALITY: return "quality level out of range";
    case MOX_ERR_CODING_MODE: return "coding mode out of range";
    case MOX_ERR_VELA_MODE: return "VELA mode out of range";
    case MOX_ERR_SIZE: return "picture size or region out of range";
    case MOX_ERR_BUFFER_LIMIT: return "buffer larger than 2 GiB - 1 bytes";
    case MOX_ERR_OUT_COUNT: return "output byte count beyond the output buffer";
    case MOX_ERR_EARLY_EOI: return "end of image before the end of the data";
    case MOX_ERR_RUN_CODE: return "run code cannot be formed";
    case MOX_ERR_RESUME_OFFSET: return "piece offset beyond piece size";
    case MOX_ERR_TOTAL_SIZE: return "total stream size is zero";
    case MOX_ERR_TAG_CODER: return "tag-section coder failed";
    case MOX_ERR_MARKER: return "marker missing or segment refused";
    case MOX_ERR_CALLBACK: return "callback failed";
    case MOX_ERR_MODE: return "decoding mode out of range";
    case MOX_ERR_EMPTY_HUFFMAN: return "Huffman table holds no codes";
    case MOX_ERR_ALLOCATOR: return "no allocator scheme";
    case MOX_ERR_HUFFMAN_TABLE: return "inconsistent Huffman table";
    case MOX_ERR_RESTART: return "restart marker expected";
    case MOX_ERR_CORRUPT: return "corrupt entropy-coded data";
    default: return "unknown status";
    }
}

/* ------------------------------------------------------------------------
 * Callbacks and allocator functions.
 * ---------------------------------------------------------------------- */

/* Fill (input) or take (output) exactly `length` bytes at the start of
 * `buffer`; return 0, anything else stops the job with MOX_ERR_CALLBACK.
 * `reserved` carries no information; `flags` is always 0. */
typedef int32_t (*InputFunc)(uint8_t *buffer, uintptr_t reserved, uint32_t length,
                             int32_t flags, void *user);
typedef int32_t (*OutputFunc)(uint8_t *buffer, uintptr_t reserved, uint32_t length,
                              int32_t flags, void *user);

typedef void *(*MoxAllocFunc)(uint32_t size);
typedef void (*MoxFreeFunc)(void *pointer);
typedef void *(*MoxPartAllocFunc)(void *user, uint32_t size);
typedef void (*MoxPartFreeFunc)(void *user, void *pointer);

/* ------------------------------------------------------------------------
 * Records shared by decoder and encoder.
 * ---------------------------------------------------------------------- */

enum { MOX_HUFF_MAX_CODES = 162 };

/* One Huffman table: `count` codes; entry i has code length lengths[i],
 * code codes[i] and symbol symbols[i]. The decoder keeps the order of the
 * DHT segment; the encoder keeps symbol-index order. */
typedef struct HuffDecodeTable {
    uint32_t count;
    uint32_t lengths[MOX_HUFF_MAX_CODES];
    uint32_t codes[MOX_HUFF_MAX_CODES];
    uint32_t symbols[MOX_HUFF_MAX_CODES];
} HuffDecodeTable;

/* ------------------------------------------------------------------------
 * Decoder records.
 * ---------------------------------------------------------------------- */

enum {
    MOX_MODE_JPEG = 0,
    MOX_MODE_VELA = 1,
    MOX_MODE_VELA_BP = 2,
    MOX_MODE_VELA_COPIER = 3
};

typedef struct PictureInfo {
    int32_t width;          /* samples per line (frame header) */
    int32_t height;         /* lines (frame header or DNL) */
    int32_t imageWidth;     /* width decoded to; <= 0 means width */
    int32_t imageHeight;    /* height decoded to; <= 0 means height */
    int32_t auxX;
    int32_t auxY;
    int32_t densityX;
    int32_t densityY;
    int32_t densityUnit;
    int32_t mode;           /* MOX_MODE_* */
    int32_t reduction;      /* 1, 2, 4 or 8 (mode 0), -1 means 1 */
    int32_t componentCount;
    int32_t outFormat;
} PictureInfo;

enum { MOX_COMMENT_SIZE = 101 };

/* Mode-3 parameter block. */
typedef struct VelaCopierParam {
    uint32_t words[4];
    uint8_t bytes[16];
    double value;
    uint32_t variableSize;
} VelaCopierParam;

typedef struct DecodeParam {
    int32_t hSamp[4];
    int32_t vSamp[4];
    int32_t restartInterval;
    int32_t colorTransform;
    int32_t quantTable[4][64];      /* natural (row-major) order */
    int32_t quantSel[4];
    HuffDecodeTable dcHuff[2];
    HuffDecodeTable acHuff[2];
    int32_t dcSel[4];
    int32_t acSel[4];
    char comment[MOX_COMMENT_SIZE];
    const uint32_t *velaParam;            /* mode 1: size mode, rotation code */
    const uint32_t *velaBpParam;          /* mode 2: five words */
    const uint8_t *velaBpTables;          /* mode 2: replacement tables, may be null */
    const VelaCopierParam *velaCopierParam; /* mode 3 */
} DecodeParam;

typedef struct SystemParam {
    uint8_t *inputBuffer;
    uint32_t pieceSize;
    uint8_t *bandBuffer;
    uint32_t bandBufferSize;
    uint8_t *workArea;
    uint32_t workAreaSize;
    uint32_t lineStride;
    uint32_t totalSize;
    uint32_t pieceOffset;
    uint32_t consumedTotal;
    uint32_t skipRemain;
    uint32_t firstFill;
    MoxAllocFunc allocFunc;
    MoxFreeFunc freeFunc;
    MoxPartAllocFunc partAllocFunc;
    MoxPartFreeFunc partFreeFunc;
    void *allocUser;
} SystemParam;

typedef struct DecoderContext DecoderContext;

/* ------------------------------------------------------------------------
 * Encoder records.
 * ---------------------------------------------------------------------- */

enum {
    MOX_PIXEL_GRAY = 0,
    MOX_PIXEL_RGB = 1,
    MOX_PIXEL_FIRST_OF_3 = 2,
    MOX_PIXEL_FIRST_OF_3_SHIFTED = 3,
    MOX_PIXEL_CMYK = 4,
    MOX_PIXEL_VELA_GRAY = 5
};

typedef struct EncodePicture {
    int32_t width;
    int32_t height;
    int32_t regionWidth;
    int32_t regionHeight;
    int32_t regionLeft;
    int32_t regionTop;
    int32_t qualityLevel;   /* 0..10 */
    int32_t pixelFormat;    /* MOX_PIXEL_* */
    int32_t omitMarkers;    /* 1: entropy-coded data only */
    int32_t densityX;
    int32_t densityY;
    int32_t densityUnit;
    int32_t codingMode;     /* 0 baseline JPEG, 1 VELA */
} EncodePicture;

enum { MOX_VELA_PARAM_WORDS = 34 };

typedef struct VelaEncodeParam {
    uint32_t word[MOX_VELA_PARAM_WORDS];
} VelaEncodeParam;

enum { MOX_ENC_COMMENT_SIZE = 100 };

typedef struct EncodeParam {
    int32_t downsampleMode;
    int32_t hSamp[4];
    int32_t vSamp[4];
    int32_t restartInterval;
    float colorMatrix[16];
    int32_t colorTransform;
    int32_t quantTable[4][64];
    int32_t quantSel[4];
    HuffDecodeTable dcHuff[2];
    HuffDecodeTable acHuff[2];
    int32_t dcSel[4];
    int32_t acSel[4];
    char comment[MOX_ENC_COMMENT_SIZE];
    int32_t velaMode;
    VelaEncodeParam *velaParam;
} EncodeParam;

typedef struct EncodeSystemParam {
    uint32_t lineBytes;
    uint8_t *inBuf;
    uint32_t inBufSize;
    uint8_t *outBuf;
    uint32_t outBufSize;
    uint8_t *workBuf;
    uint32_t workSize;
    MoxAllocFunc allocFunc;
    MoxFreeFunc freeFunc;
    MoxPartAllocFunc partAllocFunc;
    MoxPartFreeFunc partFreeFunc;
    void *allocUser;
} EncodeSystemParam;

typedef struct EncoderContext EncoderContext;

/* ------------------------------------------------------------------------
 * Exported functions.
 * ---------------------------------------------------------------------- */

/* Header analysis */
MOX_API int32_t MoxAnalysisHeader(SystemParam *sys, InputFunc input, void *user,
                                  PictureInfo *pic, DecodeParam *param, int32_t *error);

/* Decoder */
MOX_API int32_t MoxDecClearParam(PictureInfo *pic, SystemParam *sys, DecodeParam *param);
MOX_API DecoderContext *MoxDecInit(const PictureInfo *pic, SystemParam *sys,
                                   const DecodeParam *param, int32_t *error);
MOX_API int32_t MoxDecFinalize(DecoderContext *ctx);
MOX_API int32_t MoxDecSetupMalloc(MoxAllocFunc allocFunc, MoxFreeFunc freeFunc,
                                  SystemParam *sys);
MOX_API int32_t MoxDecSetupPartMalloc(MoxPartAllocFunc partAllocFunc,
                                      MoxPartFreeFunc partFreeFunc, void *user,
                                      SystemParam *sys);
MOX_API int32_t MoxDecSetInFunc(DecoderContext *ctx, InputFunc func, void *user);
MOX_API int32_t MoxDecSetOutFunc(DecoderContext *ctx, OutputFunc func, void *user);
MOX_API int32_t MoxDecode(DecoderContext *ctx, uintptr_t reserved, uint32_t *errorOut);

/* Encoder */
MOX_API int32_t MoxEncClearParam(EncodeParam *param);
MOX_API EncoderContext *MoxEncInit(const EncodePicture *picture, EncodeSystemParam *sys,
                                   const EncodeParam *param, int32_t *status);
MOX_API int32_t MoxEncFinalize(EncoderContext *ctx);
MOX_API int32_t MoxEncCalcOptBandSize(const EncodePicture *picture,
                                      const EncodeSystemParam *sys,
                                      const EncodeParam *param, uint32_t memory,
                                      uint32_t *bandBytes, uint32_t *bandCount);
MOX_API int32_t MoxEncCalcWorkSize(const EncodePicture *picture,
                                   const EncodeSystemParam *sys,
                                   const EncodeParam *param);
MOX_API int32_t MoxGetCurrentBandHeight(EncoderContext *ctx);
MOX_API int32_t MoxEncSetupMalloc(MoxAllocFunc allocFunc, MoxFreeFunc freeFunc,
                                  EncodeSystemParam *sys);
MOX_API int32_t MoxEncSetupPartMalloc(MoxPartAllocFunc partAllocFunc,
                                      MoxPartFreeFunc partFreeFunc, void *user,
                                      EncodeSystemParam *sys);
MOX_API int32_t MoxEncSetInFunc(EncoderContext *ctx, InputFunc func, void *user);
MOX_API int32_t MoxEncSetOutFunc(EncoderContext *ctx, OutputFunc func, void *user);
MOX_API int32_t MoxEncode(EncoderContext *ctx, uint32_t *outBytes, int32_t *cbError);

/* Frame */
MOX_API void MoxDispMsgTraceM(void);
MOX_API const char *MoxGetVersion(void);
MOX_API double MoxGetVersionNo(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* Record sizes are part of the interface. */
#ifdef __cplusplus
static_assert(sizeof(HuffDecodeTable) == 487 * 4, "HuffDecodeTable is 487 words");
static_assert(sizeof(PictureInfo) == 13 * 4, "PictureInfo is 13 words");
static_assert(sizeof(EncodePicture) == 13 * 4, "EncodePicture is 13 words");
static_assert(sizeof(VelaEncodeParam) == 34 * 4, "VelaEncodeParam is 34 words");
#else
_Static_assert(sizeof(HuffDecodeTable) == 487 * 4, "HuffDecodeTable is 487 words");
_Static_assert(sizeof(PictureInfo) == 13 * 4, "PictureInfo is 13 words");
_Static_assert(sizeof(EncodePicture) == 13 * 4, "EncodePicture is 13 words");
_Static_assert(sizeof(VelaEncodeParam) == 34 * 4, "VelaEncodeParam is 34 words");
#endif

#endif /* MOXCODEC_H */
