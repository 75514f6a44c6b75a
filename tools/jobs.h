// Decode and encode jobs over the public interface: the stream arrives and
// leaves in pieces through the two callbacks (or, with `push`, through the
// return codes 1 and 2), and pixels move one band at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image_io.h"
#include "jpeg_probe.h"
#include "moxcodec.h"

namespace moxtool {

// Where a job stopped: the routine that reported, its status, and the
// callback's own value when a callback failed.
struct JobError {
    std::string routine;
    int32_t status = 0;
    uint32_t callbackValue = 0;
    std::string detail;  // the tool's own reason (file, format), may be empty
};

// One line: "<routine> failed: status <n> (<meaning>)[: detail]".
std::string describe(const JobError& error);

// Compressed bytes read in order; rewind() starts again at byte 0.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() const = 0;
    virtual bool read(uint8_t* dst, uint32_t length) = 0;
    virtual bool rewind() = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    uint64_t size() const override { return bytes_.size(); }
    bool read(uint8_t* dst, uint32_t length) override;
    bool rewind() override
    {
        position_ = 0;
        return true;
    }

private:
    const std::vector<uint8_t>& bytes_;
    size_t position_ = 0;
};

// A file read in pieces; "-" (standard input), a pipe or any other file
// whose size cannot be learnt up front is read whole into memory, because
// the decoder needs the stream's total size before it starts.
class FileSource final : public ByteSource {
public:
    ~FileSource() override;
    bool open(const std::string& path, std::string& error);
    uint64_t size() const override { return memory_ ? memory_->size() : size_; }
    bool read(uint8_t* dst, uint32_t length) override;
    bool rewind() override;

private:
    FILE* file_ = nullptr;
    uint64_t size_ = 0;
    std::vector<uint8_t> buffered_;
    std::unique_ptr<MemorySource> memory_;
};

// ---------------------------------------------------------------- header

struct HeaderInfo {
    int32_t result = 0;      // 0, 10 (thumbnail or extension skipped) or 30
    uint32_t pieceSize = 0;  // the piece that held the whole header
    PictureInfo picture{};
    DecodeParam param{};
    JpegFacts facts;         // frame type, scan layout, colour transform
};

// Runs MoxAnalysisHeader on the start of the stream, growing the first
// piece from `pieceSize` until the header fits. A refusal names what the
// stream is when the tool can tell (progressive, arithmetic ...).
bool analyseHeader(ByteSource& source, uint32_t pieceSize, HeaderInfo& info, JobError& error);

// ---------------------------------------------------------------- decode

struct DecodeOptions {
    uint32_t pieceSize = 64 * 1024;  // bytes per compressed piece (at least 64)
    int bandLines = 64;              // output lines per band
    int mode = MOX_MODE_JPEG;        // 0 JPEG, 1 VELA, 2 VELA bp, 3 VELA copier
    bool push = false;               // return codes 1/2 instead of the callbacks
    int reduction = 1;               // 1, 2, 4 or 8: a preview at 1/reduction (mode 0)
    // Modes 1..3 have no header: the caller gives what a header would.
    int width = 0;
    int height = 0;
    int components = 0;      // 0: 4 in modes 1 and 2, 3 in mode 3
    int outFormat = -1;      // -1: chosen by mode and components
    int quantScale = 100;    // percent of T.81 table K.1 (modes 1..3)
    uint32_t velaSizeMode = 0;   // 0 fixed 64-byte MCUs, 1 variable
    uint32_t velaRotation = 0;   // mode 1: 0..3
    uint32_t bpMcuBytes = 64;    // mode 2: 64 or 128
    uint32_t bpRotation = 0;     // mode 2: word 1 of the bp parameters
    std::vector<uint8_t> bpTables;  // mode 2: caller table block (empty: the library's)
    uint32_t copierRotation = 0;    // mode 3: fixed rotation 0..3
    uint32_t copierRule = 1;        // mode 3: 0 the MCU's, 1 fixed, 2 both added
};

struct DecodedLayout {
    int width = 0;
    int height = 0;
    int channels = 0;  // bytes per output pixel
    int components = 0;
};

using LayoutSink = std::function<bool(const DecodedLayout&, std::string& error)>;
using LineSink = std::function<bool(const uint8_t* lines, int count, size_t stride,
                                    std::string& error)>;

// The widest picture the decoder delivers (its line pitch limit).
constexpr int kMaxDecodeWidth = 12000;

// Why a picture `width` wide cannot be delivered at `reduction` (empty when
// it can), with the smallest reduction that would do.
std::string widthRefusal(int width, int reduction);

// Lines of a damaged stream that the decoder never reached get this value.
constexpr uint8_t kMissingSample = 128;

struct DecodeReport {
    bool missingEoi = false;  // MoxDecode ended with 1000
    // Not empty when the stream ended early or is corrupt: the picture has
    // the lines decoded before the fault and grey below them.
    std::string damage;
    uint32_t pieceSize = 0;   // the piece size in use (may exceed the option)
    DecodedLayout layout;
};

// True when every line of the picture went to `onLines`, with
// report.damage set if some are grey for a stream that ended early or is
// corrupt; false when the job failed.
bool decodeJob(ByteSource& source, const DecodeOptions& options, const LayoutSink& onLayout,
               const LineSink& onLines, DecodeReport& report, JobError& error,
               bool showProgress = false);

// Decodes a whole stream into memory; a damaged stream is a failure here.
bool decodeToImage(ByteSource& source, const DecodeOptions& options, Image& image,
                   DecodeReport& report, JobError& error);

// ---------------------------------------------------------------- encode

struct EncodeOptions {
    int quality = 8;                 // preset row 0..10
    int hSamp0 = -1, vSamp0 = -1;    // component 0 factors, -1: the preset row's
    int restartInterval = -1;        // MCUs, -1: none
    int regionLeft = 0, regionTop = 0;
    int regionWidth = -1, regionHeight = -1;  // -1: to the right/bottom edge
    bool omitMarkers = false;
    std::string comment;             // empty: the library's default text
    int codingMode = 0;              // 0 baseline JPEG, 1 VELA
    int velaMode = 1;                // 1..3
    uint32_t velaSizeMode = 0;       // 0 fixed 64-byte MCUs, 1 variable
    int quantScale = 100;            // VELA: percent of T.81 table K.1
    int bandLines = 64;              // input lines per band
    uint32_t outBufferSize = 64 * 1024;
    bool push = false;               // return codes 1/2 instead of the callbacks
    int densityX = 1, densityY = 1, densityUnit = 0;
};

using LineSource = std::function<bool(uint8_t* lines, int count, size_t stride,
                                      std::string& error)>;
using ByteSink = std::function<bool(const uint8_t* bytes, uint32_t length, std::string& error)>;

bool encodeJob(const ImageHeader& header, const LineSource& lines, const EncodeOptions& options,
               const ByteSink& onBytes, JobError& error, bool showProgress = false);

bool encodeImage(const Image& image, const EncodeOptions& options, std::vector<uint8_t>& stream,
                 JobError& error);

// The quantisation table of the VELA jobs: T.81 table K.1 scaled by
// `percent`, natural order, each entry 1..255.
void velaQuantTable(int percent, int32_t table[64]);

}  // namespace moxtool
