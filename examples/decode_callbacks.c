/*
 * Decodes a baseline JPEG with libmoxcodec through its two callbacks: the
 * input callback reads the file one piece at a time, the output callback
 * writes each finished band of lines to a PNM file. Neither the stream nor
 * the picture is ever in memory whole.
 *
 *   decode_callbacks IN.jpg OUT.pnm [PIECE_BYTES] [BAND_LINES]
 */
#include <stdio.h>
#include <stdlib.h>

#include <moxcodec.h>

struct Job {
    FILE *in;
    FILE *out;
    uint32_t lineStride;
    uint64_t bytesWritten;
};

static void *allocate(uint32_t size) { return malloc(size); }
static void release(void *pointer) { free(pointer); }

/* Fill `length` bytes at the start of `buffer` with the next piece. */
static int32_t readPiece(uint8_t *buffer, uintptr_t reserved, uint32_t length, int32_t flags,
                         void *user)
{
    struct Job *job = user;
    (void)reserved;
    (void)flags;
    return fread(buffer, 1, length, job->in) == length ? 0 : 1;
}

/* Take `length` bytes of finished lines (the last band may be shorter). */
static int32_t writeBand(uint8_t *buffer, uintptr_t reserved, uint32_t length, int32_t flags,
                         void *user)
{
    struct Job *job = user;
    (void)reserved;
    (void)flags;
    if (fwrite(buffer, 1, length, job->out) != length) return 2;
    job->bytesWritten += length;
    return 0;
}

static int failed(const char *what, int32_t status)
{
    fprintf(stderr, "decode_callbacks: %s: status %d (%s)\n", what, (int)status,
            MoxStatusText(status));
    MoxDispMsgTraceM();
    return 1;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: decode_callbacks IN.jpg OUT.pnm [PIECE_BYTES] [BAND_LINES]\n");
        return 2;
    }
    uint32_t pieceSize = argc > 3 ? (uint32_t)strtoul(argv[3], NULL, 0) : 4096;
    uint32_t bandLines = argc > 4 ? (uint32_t)strtoul(argv[4], NULL, 0) : 16;

    struct Job job = {0};
    job.in = fopen(argv[1], "rb");
    if (job.in == NULL) {
        perror(argv[1]);
        return 1;
    }
    fseek(job.in, 0, SEEK_END);
    long totalSize = ftell(job.in);
    rewind(job.in);

    PictureInfo pic;
    SystemParam sys;
    DecodeParam param;
    MoxDecClearParam(&pic, &sys, &param);
    MoxDecSetupMalloc(allocate, release, &sys);

    /* The header analysis reads only what is in the buffer, so we supply
     * the input buffer ourselves and put the first piece, which must hold
     * the whole header, into it; the input callback brings the rest. */
    uint8_t *piece = calloc(1, pieceSize);
    if (piece == NULL) return 1;
    uint32_t first = (uint32_t)totalSize < pieceSize ? (uint32_t)totalSize : pieceSize;
    if (fread(piece, 1, first, job.in) != first) return 1;
    sys.inputBuffer = piece;
    sys.pieceSize = pieceSize;
    sys.totalSize = (uint32_t)totalSize;
    sys.firstFill = 0; /* the first piece is in the buffer already */

    int32_t status = MoxAnalysisHeader(&sys, NULL, NULL, &pic, &param, NULL);
    if (status != MOX_OK && status != MOX_HEADER_SKIPPED) return failed("header", status);

    /* Baseline JPEG, RGB for colour pictures; one byte per pixel for gray. */
    int channels = pic.componentCount == 3 ? 3 : 1;
    pic.mode = MOX_MODE_JPEG;
    pic.outFormat = 1;
    sys.lineStride = (uint32_t)pic.width * (uint32_t)channels;
    sys.bandBufferSize = sys.lineStride * bandLines; /* the library allocates it */

    int32_t error = 0;
    DecoderContext *ctx = MoxDecInit(&pic, &sys, &param, &error);
    if (ctx == NULL) return failed("init", error);

    job.out = fopen(argv[2], "wb");
    if (job.out == NULL) {
        perror(argv[2]);
        return 1;
    }
    fprintf(job.out, "P%c\n%d %d\n255\n", channels == 3 ? '6' : '5', (int)pic.width,
            (int)pic.height);
    job.lineStride = sys.lineStride;
    MoxDecSetInFunc(ctx, readPiece, &job);
    MoxDecSetOutFunc(ctx, writeBand, &job);

    uint32_t callbackResult = 0;
    status = MoxDecode(ctx, 0, &callbackResult);
    MoxDecFinalize(ctx);
    free(piece);
    fclose(job.in);
    if (fclose(job.out) != 0) return failed("write", MOX_ERR_CALLBACK);
    if (status != MOX_OK && status != MOX_STREAM_NO_EOI) return failed("decode", status);

    printf("%s: %d x %d, %d component(s), %llu bytes of pixels\n", argv[1], (int)pic.width,
           (int)pic.height, (int)pic.componentCount, (unsigned long long)job.bytesWritten);
    return 0;
}
