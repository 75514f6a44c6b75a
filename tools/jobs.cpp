// Decode and encode jobs. The callbacks and the return codes 1 and 2 are
// two ways of driving the same loop; both must give the same bytes.
#include "jobs.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <sys/stat.h>

#include "output_file.h"
#include "progress.h"

namespace moxtool {

std::string widthRefusal(int width, int reduction)
{
    auto fits = [width](int r) { return (width + r - 1) / r <= kMaxDecodeWidth; };
    if (fits(reduction)) return "";
    std::string why = "the picture is " + std::to_string(width) + " pixels wide, wider than the " +
                      std::to_string(kMaxDecodeWidth) + " pixels the decoder supports";
    for (int r = reduction * 2; r <= 8; r *= 2)
        if (fits(r)) return why + "; --scale 1/" + std::to_string(r) + " or smaller decodes it";
    return why;
}

namespace {

// The status a tool callback returns when its side failed (a file ended, a
// disk filled); the library passes it back beside -111.
constexpr int32_t kCallbackFailed = 1;

void* toolAlloc(uint32_t size) { return std::malloc(size == 0 ? 1 : size); }
void toolFree(void* pointer) { std::free(pointer); }

bool fail(JobError& error, const char* routine, int32_t status, std::string detail = {},
          uint32_t callbackValue = 0)
{
    error.routine = routine;
    error.status = status;
    error.callbackValue = callbackValue;
    error.detail = std::move(detail);
    return false;
}

// T.81 Table K.1, luminance, natural order.
constexpr int32_t kLuminanceK1[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

}  // namespace

std::string describe(const JobError& error)
{
    std::string text;
    if (error.status != 0) {
        text = error.routine + " failed: status " + std::to_string(error.status) + " (" +
               MoxStatusText(error.status) + ")";
        if (error.status == MOX_ERR_CALLBACK && error.callbackValue != 0) {
            text += ", callback returned " + std::to_string(int32_t(error.callbackValue));
        }
        if (!error.detail.empty()) text += ": " + error.detail;
    } else {
        text = error.detail;
    }
    return text;
}

void velaQuantTable(int percent, int32_t table[64])
{
    for (int i = 0; i < 64; ++i) {
        int32_t v = (kLuminanceK1[i] * percent + 50) / 100;
        table[i] = std::clamp(v, 1, 255);
    }
}

// ---------------------------------------------------------------- sources

FileSource::~FileSource()
{
    if (file_ != nullptr && file_ != stdin) std::fclose(file_);
}

bool FileSource::open(const std::string& path, std::string& error)
{
    if (path != "-" && !(error = directoryComplaint(path)).empty()) return false;
    file_ = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st{};
    if (::fstat(fileno(file_), &st) != 0 || !S_ISREG(st.st_mode)) {
        if (!readAll(file_, buffered_)) {
            error = "cannot read " + (path == "-" ? std::string("standard input") : path);
            return false;
        }
        memory_ = std::make_unique<MemorySource>(buffered_);
        return true;
    }
    if (std::fseek(file_, 0, SEEK_END) != 0) {
        error = "cannot seek in " + path;
        return false;
    }
    long size = std::ftell(file_);
    std::rewind(file_);
    if (size < 0) {
        error = "cannot size " + path;
        return false;
    }
    size_ = uint64_t(size);
    return true;
}

bool FileSource::read(uint8_t* dst, uint32_t length)
{
    if (memory_) return memory_->read(dst, length);
    return std::fread(dst, 1, length, file_) == length;
}

bool FileSource::rewind()
{
    if (memory_) return memory_->rewind();
    return std::fseek(file_, 0, SEEK_SET) == 0;
}

bool MemorySource::read(uint8_t* dst, uint32_t length)
{
    if (bytes_.size() - position_ < length) return false;
    std::memcpy(dst, bytes_.data() + position_, length);
    position_ += length;
    return true;
}

// ---------------------------------------------------------------- header

namespace {

// Puts the first piece of the stream into `piece` (zero-padded to its size)
// and points the system record at it; the source stands after the piece.
bool loadFirstPiece(ByteSource& source, std::vector<uint8_t>& piece, uint32_t pieceSize,
                    SystemParam& sys)
{
    uint32_t total = uint32_t(source.size());
    piece.assign(pieceSize, 0);
    if (!source.rewind() || !source.read(piece.data(), std::min(pieceSize, total))) return false;
    sys.inputBuffer = piece.data();
    sys.pieceSize = pieceSize;
    sys.totalSize = total;
    sys.pieceOffset = 0;
    sys.consumedTotal = 0;
    sys.skipRemain = 0;
    sys.firstFill = 0;
    return true;
}

// Clears the three records and puts the tool's allocator in.
bool clearRecords(PictureInfo& pic, SystemParam& sys, DecodeParam& param, JobError& error)
{
    int32_t status = MoxDecClearParam(&pic, &sys, &param);
    if (status != MOX_OK) return fail(error, "MoxDecClearParam", status);
    status = MoxDecSetupMalloc(toolAlloc, toolFree, &sys);
    if (status != MOX_OK) return fail(error, "MoxDecSetupMalloc", status);
    return true;
}

bool checkStreamSize(const ByteSource& source, JobError& error)
{
    if (source.size() == 0) return fail(error, "", 0, "the stream is empty");
    if (source.size() > UINT32_MAX) return fail(error, "", 0, "the stream exceeds 4 GiB");
    return true;
}

// The header analysis on a piece that grows until the header fits; leaves
// the records and the source ready for the decoder.
bool readHeader(ByteSource& source, uint32_t pieceSize, std::vector<uint8_t>& piece,
                PictureInfo& pic, SystemParam& sys, DecodeParam& param, int32_t& result,
                JpegFacts& facts, JobError& error)
{
    if (!checkStreamSize(source, error)) return false;
    uint32_t total = uint32_t(source.size());
    // The reader may use every byte of the piece: never more than the stream.
    pieceSize = std::min(pieceSize, total);
    for (;;) {
        if (!clearRecords(pic, sys, param, error)) return false;
        if (!loadFirstPiece(source, piece, pieceSize, sys)) {
            return fail(error, "", 0, "cannot read the stream");
        }
        int32_t errorSlot = 0;
        result = MoxAnalysisHeader(&sys, nullptr, nullptr, &pic, &param, &errorSlot);
        if (result == MOX_NEED_INPUT && pieceSize < total) {
            // The header runs past the piece: retry with a larger first piece.
            pieceSize = uint32_t(std::min<uint64_t>(uint64_t(pieceSize) * 2, total));
            continue;
        }
        if (result == MOX_NEED_INPUT) {
            return fail(error, "MoxAnalysisHeader", result, "the stream ends inside its header");
        }
        facts = probeJpeg(piece.data(), piece.size());
        if (result < 0) return fail(error, "MoxAnalysisHeader", result, unsupportedReason(facts));
        if (result == MOX_HEADER_EOI) {
            return fail(error, "", 0, "the stream ends before any scan: no picture");
        }
        return true;
    }
}

}  // namespace

bool analyseHeader(ByteSource& source, uint32_t pieceSize, HeaderInfo& info, JobError& error)
{
    SystemParam sys{};
    std::vector<uint8_t> piece;
    if (!readHeader(source, pieceSize, piece, info.picture, sys, info.param, info.result,
                    info.facts, error)) {
        return false;
    }
    info.pieceSize = sys.pieceSize;
    return true;
}

// ---------------------------------------------------------------- decode

namespace {

struct DecodeState {
    ByteSource* source = nullptr;
    const LineSink* onLines = nullptr;
    uint32_t lineStride = 0;
    uint32_t bandBytes = 0;
    int height = 0;
    int linesDone = 0;
    bool streamEnded = false;  // the input callback found no more bytes
    uint64_t delivered = 0;    // stream bytes handed to the decoder so far
    uint8_t tail[2] = {};      // the last two of them
    bool outputFailed = false; // the line sink refused (a disk error)
    std::string failure;       // why a callback of ours failed
    Progress* progress = nullptr;
};

// Hands `count` lines of the band on, then greys the band again: what the
// decoder writes next replaces the grey, so after a fault the band holds
// the rows decoded before it and grey below.
bool deliverLines(DecodeState& state, uint8_t* band, int count)
{
    count = std::min(count, state.height - state.linesDone);
    if (count > 0 && !(*state.onLines)(band, count, state.lineStride, state.failure)) {
        state.outputFailed = true;
        return false;
    }
    std::memset(band, kMissingSample, state.bandBytes);
    state.linesDone += std::max(count, 0);
    if (state.progress != nullptr) state.progress->update(state.linesDone, state.height);
    return true;
}

void noteDelivered(DecodeState& state, const uint8_t* bytes, uint32_t length)
{
    state.delivered += length;
    if (length >= 2) {
        state.tail[0] = bytes[length - 2];
    } else {
        state.tail[0] = state.tail[1];
    }
    if (length >= 1) state.tail[1] = bytes[length - 1];
}

// A stream handed over whole that does not end in EOI was cut short: the
// decoder's complaint about its last bytes means just that.
bool streamCut(const DecodeState& state)
{
    return state.delivered >= state.source->size() && !(state.tail[0] == 0xFF && state.tail[1] == 0xD9);
}

// Failures of MoxDecode that the stream's bytes cause (rather than the job's
// set-up): the picture up to them is worth keeping.
bool isStreamFault(int32_t status)
{
    return status == MOX_ERR_CORRUPT || status == MOX_ERR_RESTART || status == MOX_ERR_MARKER ||
           status == MOX_ERR_EARLY_EOI || status == MOX_ERR_ALLOC || status == MOX_ERR_RUN_CODE;
}

int32_t decodeInput(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto& state = *static_cast<DecodeState*>(user);
    // A request for nothing, or for more than is left, means the decoder
    // needs bytes beyond the end of the stream.
    if (length > 0 && state.source->read(buffer, length)) {
        noteDelivered(state, buffer, length);
        return 0;
    }
    state.failure = "the stream ends before the picture is complete";
    state.streamEnded = true;
    return kCallbackFailed;
}

int32_t decodeOutput(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto& state = *static_cast<DecodeState*>(user);
    return deliverLines(state, buffer, int(length / state.lineStride)) ? 0 : kCallbackFailed;
}

// What the caller gives in place of a header for the VELA modes.
bool setVelaRecords(const DecodeOptions& options, PictureInfo& pic, DecodeParam& param,
                    uint32_t velaWords[2], uint32_t bpWords[5], VelaCopierParam& copier,
                    JobError& error)
{
    if (options.width < 1 || options.height < 1) {
        return fail(error, "", 0, "VELA decoding needs --width and --height");
    }
    pic.width = options.width;
    pic.height = options.height;
    int components = options.components;
    if (components == 0) components = options.mode == MOX_MODE_VELA_COPIER ? 3 : 4;
    pic.componentCount = components;
    if (options.outFormat >= 0) {
        pic.outFormat = options.outFormat;
    } else if (options.mode == MOX_MODE_VELA_COPIER) {
        pic.outFormat = components == 3 ? 1 : 0;
    } else {
        pic.outFormat = components == 1 ? 5 : 4;
    }
    for (int c = 0; c < 4; ++c) param.quantSel[c] = 0;
    velaQuantTable(options.quantScale, param.quantTable[0]);
    velaWords[0] = options.velaSizeMode;
    velaWords[1] = options.velaRotation;
    param.velaParam = velaWords;
    const uint32_t bp[5] = {0, options.bpRotation, options.bpMcuBytes == 128 ? 1u : 0u, 0, 1};
    std::copy(bp, bp + 5, bpWords);
    param.velaBpParam = bpWords;
    if (!options.bpTables.empty()) param.velaBpTables = options.bpTables.data();
    copier = VelaCopierParam{};
    copier.words[0] = options.copierRotation;
    copier.words[1] = options.copierRule;
    copier.variableSize = options.velaSizeMode;
    param.velaCopierParam = &copier;
    return true;
}

}  // namespace

bool decodeJob(ByteSource& source, const DecodeOptions& options, const LayoutSink& onLayout,
               const LineSink& onLines, DecodeReport& report, JobError& error, bool showProgress)
{
    PictureInfo pic{};
    SystemParam sys{};
    DecodeParam param{};
    std::vector<uint8_t> piece;
    uint32_t velaWords[2] = {0, 0};
    uint32_t bpWords[5] = {0, 0, 0, 0, 0};
    VelaCopierParam copier{};

    bool vela = options.mode >= MOX_MODE_VELA && options.mode <= MOX_MODE_VELA_COPIER;
    if (!vela) {
        // Baseline JPEG; any other mode is the library's to refuse.
        int32_t result = 0;
        JpegFacts facts;
        if (!readHeader(source, options.pieceSize, piece, pic, sys, param, result, facts, error)) {
            return false;
        }
        std::string reason = unsupportedReason(facts);
        if (!reason.empty()) return fail(error, "", 0, reason);
        pic.outFormat = 1;  // RGB for three components; gray is gray whatever it says
        param.colorTransform = colorTransformOf(facts);
    } else {
        // VELA streams are bare MCU data: the decoder fetches every piece.
        if (!checkStreamSize(source, error) || !clearRecords(pic, sys, param, error)) return false;
        if (!setVelaRecords(options, pic, param, velaWords, bpWords, copier, error)) return false;
        if (!source.rewind()) return fail(error, "", 0, "cannot read the stream");
        piece.assign(options.pieceSize, 0);
        sys.inputBuffer = piece.data();
        sys.pieceSize = options.pieceSize;
        sys.totalSize = uint32_t(source.size());
        sys.firstFill = 1;
    }
    pic.mode = options.mode;
    pic.reduction = options.reduction;

    // A preview keeps every partly covered sample: sizes round up.
    int reduction = options.reduction > 1 ? options.reduction : 1;
    if (std::string refusal = widthRefusal(pic.width, reduction); !refusal.empty())
        return fail(error, "", 0, refusal);
    DecodedLayout layout;
    layout.width = (pic.width + reduction - 1) / reduction;
    layout.height = (pic.height + reduction - 1) / reduction;
    layout.components = pic.componentCount;
    bool onePerPixel = pic.outFormat == 0 || pic.outFormat == 5;
    int contextComponents =
        (options.mode == MOX_MODE_VELA || options.mode == MOX_MODE_VELA_BP) ? 4
                                                                            : pic.componentCount;
    layout.channels = onePerPixel ? 1 : contextComponents;
    if (options.bandLines < 1) return fail(error, "", 0, "the band height must be at least 1");
    uint64_t stride = uint64_t(layout.width) * layout.channels;
    // A band taller than the picture holds nothing more.
    uint64_t bandBytes = stride * uint64_t(std::min(options.bandLines, std::max(layout.height, 1)));
    if (bandBytes > UINT32_MAX) return fail(error, "", 0, "the band does not fit 4 GiB");
    sys.lineStride = uint32_t(stride);
    sys.bandBufferSize = uint32_t(bandBytes);
    // Ours, not the library's: it outlives the context when a fault leaves
    // lines in it.
    std::unique_ptr<uint8_t[]> band(new (std::nothrow) uint8_t[sys.bandBufferSize]);
    if (!band) return fail(error, "", 0, "no memory for a band of " + std::to_string(bandBytes) + " bytes");
    sys.bandBuffer = band.get();
    report.layout = layout;
    report.pieceSize = sys.pieceSize;

    std::string layoutError;
    if (!onLayout(layout, layoutError)) return fail(error, "", 0, layoutError);

    int32_t status = 0;
    DecoderContext* ctx = MoxDecInit(&pic, &sys, &param, &status);
    if (ctx == nullptr) return fail(error, "MoxDecInit", status);

    Progress progress("decoding", showProgress);
    DecodeState state;
    state.source = &source;
    state.onLines = &onLines;
    state.lineStride = sys.lineStride;
    state.bandBytes = sys.bandBufferSize;
    state.height = layout.height;
    state.progress = &progress;
    std::memset(sys.bandBuffer, kMissingSample, sys.bandBufferSize);
    if (!vela) noteDelivered(state, sys.inputBuffer, sys.pieceSize);  // the header's piece

    bool ok = true;
    bool pushInput = options.push && !vela;
    if (!pushInput) {
        status = MoxDecSetInFunc(ctx, decodeInput, &state);
        if (status != MOX_OK) ok = fail(error, "MoxDecSetInFunc", status);
    }
    if (ok && !options.push) {
        status = MoxDecSetOutFunc(ctx, decodeOutput, &state);
        if (status != MOX_OK) ok = fail(error, "MoxDecSetOutFunc", status);
    }
    const int bandLines = int(sys.bandBufferSize / sys.lineStride);
    bool lastBandWaits = false;  // the band buffer holds lines not yet delivered
    while (ok) {
        uint32_t callbackValue = 0;
        status = MoxDecode(ctx, 0, &callbackValue);
        if (status == MOX_NEED_INPUT && pushInput) {
            // Refill the input buffer from its start with the next piece.
            uint64_t left = sys.totalSize > state.delivered ? sys.totalSize - state.delivered : 0;
            uint32_t length = uint32_t(std::min<uint64_t>(left, sys.pieceSize));
            if (length == 0 || !source.read(sys.inputBuffer, length)) {
                report.damage = "the stream ends before the picture is complete";
                lastBandWaits = true;
                break;
            }
            noteDelivered(state, sys.inputBuffer, length);
        } else if (status == MOX_OUTPUT_READY && options.push) {
            if (!deliverLines(state, sys.bandBuffer, bandLines)) {
                ok = fail(error, "", 0, state.failure);
            }
        } else if (status == MOX_OK || status == MOX_STREAM_NO_EOI) {
            // Without an output callback the last band waits in the buffer.
            lastBandWaits = options.push;
            report.missingEoi = status == MOX_STREAM_NO_EOI;
            break;
        } else if (state.outputFailed || !(state.streamEnded || streamCut(state) || isStreamFault(status))) {
            ok = fail(error, "MoxDecode", status,
                      status == MOX_ERR_CALLBACK ? state.failure : std::string(), callbackValue);
        } else {
            // The stream ended early or is corrupt: keep what was decoded.
            report.damage = describe(JobError{"MoxDecode", status, 0, {}});
            if (state.streamEnded) {
                report.damage = state.failure;
            } else if (streamCut(state)) {
                report.damage = "the stream ends before the picture is complete (" + report.damage + ")";
            }
            lastBandWaits = true;
            break;
        }
    }
    progress.finish();
    MoxDecFinalize(ctx);
    if (ok && lastBandWaits && !deliverLines(state, sys.bandBuffer, bandLines)) {
        ok = fail(error, "", 0, state.failure);
    }
    // Below a fault the band buffer is all grey: it fills the missing lines.
    while (ok && !report.damage.empty() && state.linesDone < layout.height) {
        if (!deliverLines(state, sys.bandBuffer, bandLines)) ok = fail(error, "", 0, state.failure);
    }
    if (ok && state.linesDone != layout.height) {
        ok = fail(error, "", 0,
                  "the decoder delivered " + std::to_string(state.linesDone) + " of " +
                      std::to_string(layout.height) + " lines");
    }
    return ok;
}

bool decodeToImage(ByteSource& source, const DecodeOptions& options, Image& image,
                   DecodeReport& report, JobError& error)
{
    size_t filled = 0;
    auto onLayout = [&](const DecodedLayout& layout, std::string&) {
        image.header = ImageHeader{layout.width, layout.height, layout.channels};
        image.pixels.assign(image.stride() * layout.height, 0);
        return true;
    };
    auto onLines = [&](const uint8_t* lines, int count, size_t stride, std::string&) {
        for (int i = 0; i < count; ++i) {
            std::memcpy(image.pixels.data() + filled, lines + i * stride, image.stride());
            filled += image.stride();
        }
        return true;
    };
    if (!decodeJob(source, options, onLayout, onLines, report, error)) return false;
    return report.damage.empty() || fail(error, "", 0, report.damage);
}

// ---------------------------------------------------------------- encode

namespace {

struct EncodeState {
    const LineSource* lines = nullptr;
    const ByteSink* onBytes = nullptr;
    uint32_t lineBytes = 0;
    int height = 0;
    int linesRead = 0;
    std::string failure;
    Progress* progress = nullptr;
};

bool fetchLines(EncodeState& state, uint8_t* band, int count)
{
    if (state.linesRead + count > state.height) {
        state.failure = "the encoder asked for lines beyond the picture";
        return false;
    }
    if (!(*state.lines)(band, count, state.lineBytes, state.failure)) return false;
    state.linesRead += count;
    if (state.progress != nullptr) state.progress->update(state.linesRead, state.height);
    return true;
}

int32_t encodeInput(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto& state = *static_cast<EncodeState*>(user);
    return fetchLines(state, buffer, int(length / state.lineBytes)) ? 0 : kCallbackFailed;
}

int32_t encodeOutput(uint8_t* buffer, uintptr_t, uint32_t length, int32_t, void* user)
{
    auto& state = *static_cast<EncodeState*>(user);
    return (*state.onBytes)(buffer, length, state.failure) ? 0 : kCallbackFailed;
}

// Pixel format of the library for a picture of `channels` bytes per pixel.
bool pixelFormatFor(int channels, int codingMode, int32_t& format, JobError& error)
{
    if (codingMode == 1) {
        if (channels == 1) format = MOX_PIXEL_VELA_GRAY;
        else if (channels == 4) format = MOX_PIXEL_CMYK;
        else return fail(error, "", 0, "VELA coding takes gray or four-component pictures");
        return true;
    }
    if (channels == 1) format = MOX_PIXEL_GRAY;
    else if (channels == 3) format = MOX_PIXEL_RGB;
    else format = MOX_PIXEL_CMYK;
    return true;
}

}  // namespace

bool encodeJob(const ImageHeader& header, const LineSource& lines, const EncodeOptions& options,
               const ByteSink& onBytes, JobError& error, bool showProgress)
{
    EncodeParam param{};
    int32_t status = MoxEncClearParam(&param);
    if (status != MOX_OK) return fail(error, "MoxEncClearParam", status);

    EncodePicture pic{};
    pic.width = header.width;
    pic.height = header.height;
    pic.regionLeft = options.regionLeft;
    pic.regionTop = options.regionTop;
    pic.regionWidth = options.regionWidth >= 0 ? options.regionWidth
                                               : header.width - options.regionLeft;
    pic.regionHeight = options.regionHeight >= 0 ? options.regionHeight
                                                 : header.height - options.regionTop;
    pic.qualityLevel = options.quality;
    if (!pixelFormatFor(header.channels, options.codingMode, pic.pixelFormat, error)) {
        return false;
    }
    pic.omitMarkers = options.omitMarkers ? 1 : 0;
    pic.densityX = options.densityX;
    pic.densityY = options.densityY;
    pic.densityUnit = options.densityUnit;
    pic.codingMode = options.codingMode;

    if (options.hSamp0 > 0) {
        param.hSamp[0] = options.hSamp0;
        for (int c = 1; c < 4; ++c) param.hSamp[c] = 1;
    }
    if (options.vSamp0 > 0) {
        param.vSamp[0] = options.vSamp0;
        for (int c = 1; c < 4; ++c) param.vSamp[c] = 1;
    }
    param.restartInterval = options.restartInterval;
    if (!options.comment.empty()) {
        std::strncpy(param.comment, options.comment.c_str(), MOX_ENC_COMMENT_SIZE - 1);
    }
    VelaEncodeParam vela{};
    if (options.codingMode == 1) {
        // Run-coded tag maps with every scan order on trial, the short MCU
        // header where blocks 0..2 are empty, all code entries kept.
        vela.word[26] = 2;
        vela.word[31] = options.velaSizeMode;
        vela.word[33] = 64;
        param.velaMode = options.velaMode;
        param.velaParam = &vela;
        for (int c = 0; c < 4; ++c) param.quantSel[c] = 0;
        velaQuantTable(options.quantScale, param.quantTable[0]);
    }

    EncodeSystemParam sys{};
    status = MoxEncSetupMalloc(toolAlloc, toolFree, &sys);
    if (status != MOX_OK) return fail(error, "MoxEncSetupMalloc", status);
    if (options.bandLines < 1) return fail(error, "", 0, "the band height must be at least 1");
    uint64_t lineBytes = uint64_t(header.width) * header.channels;
    uint64_t bandBytes = lineBytes * uint64_t(options.bandLines);
    if (bandBytes > UINT32_MAX) return fail(error, "", 0, "the band does not fit 4 GiB");
    sys.lineBytes = uint32_t(lineBytes);
    sys.inBufSize = uint32_t(bandBytes);
    sys.outBufSize = options.outBufferSize;

    EncoderContext* ctx = MoxEncInit(&pic, &sys, &param, &status);
    if (ctx == nullptr) return fail(error, "MoxEncInit", status);

    Progress progress("encoding", showProgress);
    EncodeState state;
    state.lines = &lines;
    state.onBytes = &onBytes;
    state.lineBytes = sys.lineBytes;
    state.height = header.height;
    state.progress = &progress;

    bool ok = true;
    if (options.push) {
        // The first band goes into the input buffer before the first call.
        if (!fetchLines(state, sys.inBuf, MoxGetCurrentBandHeight(ctx))) {
            ok = fail(error, "", 0, state.failure);
        }
    } else {
        status = MoxEncSetInFunc(ctx, encodeInput, &state);
        if (status == MOX_OK) status = MoxEncSetOutFunc(ctx, encodeOutput, &state);
        if (status != MOX_OK) ok = fail(error, "MoxEncSetInFunc", status);
    }
    // The library keeps counting into this across a return of 1: the bytes
    // already in the output buffer stay there until a return of 2 or 0.
    uint32_t outBytes = 0;
    while (ok) {
        int32_t callbackValue = 0;
        status = MoxEncode(ctx, &outBytes, &callbackValue);
        if (status == MOX_NEED_INPUT && options.push) {
            if (!fetchLines(state, sys.inBuf, MoxGetCurrentBandHeight(ctx))) {
                ok = fail(error, "", 0, state.failure);
            }
        } else if (status == MOX_OUTPUT_READY && options.push) {
            if (!onBytes(sys.outBuf, outBytes, state.failure)) ok = fail(error, "", 0, state.failure);
        } else if (status == MOX_OK) {
            // With the output callback the last bytes went through it already.
            if (options.push && outBytes > 0 && !onBytes(sys.outBuf, outBytes, state.failure)) {
                ok = fail(error, "", 0, state.failure);
            }
            break;
        } else {
            ok = fail(error, "MoxEncode", status,
                      status == MOX_ERR_CALLBACK ? state.failure : std::string(),
                      uint32_t(callbackValue));
        }
    }
    progress.finish();
    MoxEncFinalize(ctx);
    return ok;
}

bool encodeImage(const Image& image, const EncodeOptions& options, std::vector<uint8_t>& stream,
                 JobError& error)
{
    int nextLine = 0;
    auto lines = [&](uint8_t* dst, int count, size_t stride, std::string&) {
        for (int i = 0; i < count; ++i) {
            std::memcpy(dst + i * stride,
                        image.pixels.data() + size_t(nextLine + i) * image.stride(),
                        image.stride());
        }
        nextLine += count;
        return true;
    };
    auto sink = [&](const uint8_t* bytes, uint32_t length, std::string&) {
        stream.insert(stream.end(), bytes, bytes + length);
        return true;
    };
    stream.clear();
    return encodeJob(image.header, lines, options, sink, error);
}

}  // namespace moxtool
