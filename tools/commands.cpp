// info, decode and encode: option parsing, files, and the report lines.
#include "commands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "image_io.h"
#include "jobs.h"
#include "output_file.h"
#include "moxcodec.h"

namespace moxtool {

void complain(const std::string& message) { std::fprintf(stderr, "moxcodec: %s\n", message.c_str()); }

// ---------------------------------------------------------------- options

bool OptionScanner::next()
{
    if (index_ >= args_.size()) return false;
    current_ = args_[index_++];
    hasInline_ = false;
    name_.clear();
    if (isOption()) {
        size_t equals = current_.find('=');
        if (equals != std::string::npos) {
            name_ = current_.substr(0, equals);
            inlineValue_ = current_.substr(equals + 1);
            hasInline_ = true;
        } else {
            name_ = current_;
        }
    }
    return true;
}

bool OptionScanner::value(std::string& out)
{
    if (hasInline_) {
        out = inlineValue_;
        return true;
    }
    if (index_ >= args_.size()) {
        complain("option " + name_ + " needs a value");
        return false;
    }
    out = args_[index_++];
    return true;
}

bool OptionScanner::integer(long& out, long low, long high)
{
    std::string text;
    if (!value(text)) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0 || v < low || v > high) {
        complain("option " + name_ + " wants a whole number from " + std::to_string(low) +
                 " to " + std::to_string(high) + ", not '" + text + "'");
        return false;
    }
    out = v;
    return true;
}

namespace {

// Reports a failed job in one line; with `trace` also the library's log.
int reportFailure(const char* command, const JobError& error, bool trace)
{
    complain(std::string(command) + ": " + describe(error));
    if (trace && error.status != 0) MoxDispMsgTraceM();
    return kExitFailed;
}

// The caller table block of mode 2: exactly as large as the library's.
bool readTableBlock(const std::string& path, std::vector<uint8_t>& block)
{
    constexpr size_t kTableBlockBytes = 6672;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return complain("cannot open " + path + ": " + std::strerror(errno)), false;
    block.assign(kTableBlockBytes + 1, 0);
    size_t got = std::fread(block.data(), 1, block.size(), file);
    std::fclose(file);
    if (got != kTableBlockBytes) {
        complain(path + " holds " + (got > kTableBlockBytes ? "more" : std::to_string(got)) +
                 " bytes; a table block has 6672");
        return false;
    }
    block.resize(kTableBlockBytes);
    return true;
}

// The exit statuses, as every help text states them.
const char kExitHelp[] =
    "\n"
    "Exit status: 0 done; 1 failed (one line on stderr says why; no output file\n"
    "is written or replaced); 2 a warning (a picture was written from a damaged\n"
    "stream) or a wrong command line.\n";

int printHelp(const char* text)
{
    std::fputs(text, stdout);
    std::fputs(kExitHelp, stdout);
    return kExitOk;
}

int unknownOption(const std::string& name, const char* command)
{
    complain("unknown option " + name + " (see 'moxcodec " + command + " --help')");
    return kExitUsage;
}

// ---------------------------------------------------------------- info

const char kInfoHelp[] =
    "usage: moxcodec info FILE.jpg|- [--piece BYTES] [--trace]\n"
    "\n"
    "Reads the header of a baseline JPEG with MoxAnalysisHeader and prints one\n"
    "line per fact: picture size, components, sampling, colour transform, scan\n"
    "layout, restart interval, pixel density, comment, tables, and why the\n"
    "decoder cannot take the stream when it cannot. '-' reads standard input.\n"
    "\n"
    "  --piece BYTES   size of the first input piece, at least 64 (default\n"
    "                  65536; grown until the header fits)\n"
    "  --trace         print the library's error log on failure\n";

bool isSet(int32_t value) { return value != -1; }

void printInfo(const std::string& path, uint64_t size, const HeaderInfo& info)
{
    const PictureInfo& pic = info.picture;
    const DecodeParam& param = info.param;
    std::printf("file:          %s (%llu bytes)\n", path == "-" ? "standard input" : path.c_str(),
                (unsigned long long)size);
    std::printf("header:        status %d (%s)\n", info.result,
                info.result == MOX_HEADER_SKIPPED ? "thumbnail or JFIF extension skipped"
                                                  : "start of scan reached");
    std::printf("size:          %d x %d\n", pic.width, pic.height);
    std::printf("previews:     ");
    for (int r : {2, 4, 8})
        std::printf(" 1/%d %d x %d%s", r, (pic.width + r - 1) / r, (pic.height + r - 1) / r, r < 8 ? "," : "\n");
    int components = pic.componentCount;
    std::printf("components:    %d\n", components);
    std::printf("sampling:     ");
    for (int c = 0; c < components && c < 4; ++c) {
        std::printf(" %dx%d", param.hSamp[c], param.vSamp[c]);
    }
    std::printf("\n");
    std::printf("colour:        transform %s\n", describeColorTransform(info.facts).c_str());
    const int scanned = info.facts.scanComponents;
    std::printf("scan:          %d of %d components%s\n", scanned, components,
                scanned == components ? ", interleaved" : ", the others in further scans");
    if (isSet(param.restartInterval) && param.restartInterval > 0) {
        std::printf("restart:       every %d MCUs\n", param.restartInterval);
    } else {
        std::printf("restart:       none\n");
    }
    static const char* const kUnits[] = {"no unit, aspect ratio", "dots per inch",
                                         "dots per cm"};
    int unit = pic.densityUnit;
    std::printf("density:       %d x %d (%s)\n", pic.densityX, pic.densityY,
                unit >= 0 && unit <= 2 ? kUnits[unit] : "unknown unit");
    std::printf("comment:       %s%s%s\n", param.comment[0] != 0 ? "\"" : "",
                param.comment[0] != 0 ? param.comment : "none",
                param.comment[0] != 0 ? "\"" : "");
    for (int c = 0; c < components && c < 4; ++c) {
        std::printf("component %d:   quant table %d, DC table %d, AC table %d\n", c,
                    param.quantSel[c], param.dcSel[c], param.acSel[c]);
    }
    int dcTables = 0;
    int acTables = 0;
    std::string codes;
    for (int t = 0; t < 2; ++t) {
        if (param.dcHuff[t].count != UINT32_MAX) {
            ++dcTables;
            codes += " DC" + std::to_string(t) + "=" + std::to_string(param.dcHuff[t].count);
        }
    }
    for (int t = 0; t < 2; ++t) {
        if (param.acHuff[t].count != UINT32_MAX) {
            ++acTables;
            codes += " AC" + std::to_string(t) + "=" + std::to_string(param.acHuff[t].count);
        }
    }
    std::printf("huffman:       %d DC, %d AC tables; codes:%s\n", dcTables, acTables,
                codes.empty() ? " none" : codes.c_str());
    for (int t = 0; t < 4; ++t) {
        if (!isSet(param.quantTable[t][0])) continue;
        std::printf("quant table %d: ", t);  // natural (row-major) order
        for (int k = 0; k < 64; ++k) std::printf(k == 0 ? "%d" : " %d", param.quantTable[t][k]);
        std::printf("\n");
    }
    std::string reason = unsupportedReason(info.facts);
    if (reason.empty()) reason = widthRefusal(pic.width, 1);
    std::printf("decodable:     %s\n", reason.empty() ? "yes" : ("no, " + reason).c_str());
}

}  // namespace

int runInfo(const Arguments& args)
{
    OptionScanner scan(args);
    std::string path;
    long piece = 64 * 1024;
    bool trace = false;
    while (scan.next()) {
        if (!scan.isOption()) {
            if (!path.empty()) return complain("info takes one file"), kExitUsage;
            path = scan.operand();
        } else if (scan.name() == "--help") {
            return printHelp(kInfoHelp);
        } else if (scan.name() == "--trace") {
            trace = true;
        } else if (scan.name() == "--piece") {
            if (!scan.integer(piece, 64, UINT32_MAX)) return kExitUsage;
        } else {
            return unknownOption(scan.name(), "info");
        }
    }
    if (path.empty()) {
        std::fputs(kInfoHelp, stderr);
        return kExitUsage;
    }
    FileSource source;
    std::string openError;
    if (!source.open(path, openError)) return complain(openError), kExitFailed;
    HeaderInfo info;
    JobError error;
    if (!analyseHeader(source, uint32_t(piece), info, error)) {
        return reportFailure("info", error, trace);
    }
    printInfo(path, source.size(), info);
    return kExitOk;
}

// ---------------------------------------------------------------- decode

namespace {

const char kDecodeHelp[] =
    "usage: moxcodec decode IN OUT.png|OUT.ppm|OUT.pgm|OUT.pnm [options]\n"
    "\n"
    "Decodes IN band by band: compressed pieces come in through the input\n"
    "callback, bands of lines go out through the output callback. '-' as IN\n"
    "reads standard input (read whole first: the decoder needs the size);\n"
    "'-' as OUT writes standard output and needs --format. OUT is written\n"
    "beside its place and renamed into place when the job succeeds. A stream\n"
    "that ends early or is corrupt still gives a picture: the lines decoded\n"
    "before the fault, grey below, a warning and exit status 2.\n"
    "\n"
    "  --format F           png, ppm, pgm or pnm, where OUT's extension does not say\n"
    "  --png-level N        PNG compression level 0..9 (default 1: fast; 9: smallest)\n"
    "  --piece BYTES        compressed piece size, at least 64 (default 65536)\n"
    "  --band LINES         lines per output band (default 64)\n"
    "  --scale 1/N          decode a preview at 1/2, 1/4 or 1/8 of the size\n"
    "                       (mode 0; default 1/1)\n"
    "  --push               no callbacks: serve MoxDecode's requests (1: next\n"
    "                       piece, 2: band ready) from the loop instead\n"
    "  --mode N             0 baseline JPEG (default), 1 VELA, 2 VELA bp,\n"
    "                       3 VELA copier\n"
    "  --trace              print the library's error log on failure\n"
    "\n"
    "JPEG: one or three components, single scan, at most 12000 pixels wide;\n"
    "three components stored as RGB (Adobe APP14 transform 0) come out unconverted.\n"
    "\n"
    "VELA streams carry no header; modes 1..3 take:\n"
    "  --width N --height N picture size (required)\n"
    "  --components N       1 or 4 (modes 1, 2; default 4), 1 or 3 (mode 3; default 3)\n"
    "  --out-format N       4 all four components, 5 the fourth only (modes 1, 2);\n"
    "                       0 gray, 1 RGB (mode 3)\n"
    "  --quant-scale PCT    quantisation table: T.81 K.1 scaled (default 100)\n"
    "  --vela-size-mode N   0 fixed 64-byte MCUs (default), 1 variable\n"
    "  --vela-rotation N    mode 1 rotation code 0..3 (default 0)\n"
    "  --bp-mcu-bytes N     mode 2 MCU size 64 (default) or 128\n"
    "  --bp-rotation N      mode 2 rotation word (the library admits 0)\n"
    "  --tables FILE        mode 2 tag-section tables: a 6672-byte block whose\n"
    "                       value bytes replace the library's\n"
    "  --copier-rotation N  mode 3 fixed rotation 0..3 (default 0)\n"
    "  --copier-rule N      mode 3 rotation rule: 0 the MCU's own, 1 fixed\n"
    "                       (default), 2 both added (the library admits 1)\n"
    "  (mode 3 takes --vela-size-mode as its variable-size flag)\n"
    "\n"
    "Four-component output is written as PNG with the fourth component as alpha.\n";

// "png", "ppm", "pgm" or "pnm" for --format.
bool formatOption(OptionScanner& scan, std::string& format)
{
    if (!scan.value(format)) return false;
    if (formatFor("", format) != PictureFormat::Unknown) return true;
    complain("--format is png, ppm, pgm or pnm, not '" + format + "'");
    return false;
}

}  // namespace

int runDecode(const Arguments& args)
{
    OptionScanner scan(args);
    std::vector<std::string> files;
    DecodeOptions options;
    bool trace = false;
    std::string format;
    long pngLevel = kDefaultPngLevel;
    long v = 0;
    while (scan.next()) {
        const std::string& n = scan.name();
        if (!scan.isOption()) {
            files.push_back(scan.operand());
        } else if (n == "--help") {
            return printHelp(kDecodeHelp);
        } else if (n == "--push") {
            options.push = true;
        } else if (n == "--scale") {
            std::string text;
            if (!scan.value(text)) return kExitUsage;
            static const char* const kScales[] = {"1/1", "1/2", "1/4", "1/8"};
            int found = 0;
            for (int i = 0; i < 4; ++i)
                if (text == kScales[i]) found = 1 << i;
            if (found == 0) return complain("--scale is 1/1, 1/2, 1/4 or 1/8"), kExitUsage;
            options.reduction = found;
        } else if (n == "--trace") {
            trace = true;
        } else if (n == "--format") {
            if (!formatOption(scan, format)) return kExitUsage;
        } else if (n == "--png-level") {
            if (!scan.integer(pngLevel, 0, 9)) return kExitUsage;
        } else if (n == "--piece") {
            if (!scan.integer(v, 64, UINT32_MAX)) return kExitUsage;
            options.pieceSize = uint32_t(v);
        } else if (n == "--band") {
            if (!scan.integer(v, 1, 1 << 20)) return kExitUsage;
            options.bandLines = int(v);
        } else if (n == "--mode") {
            if (!scan.integer(v, -1000, 1000)) return kExitUsage;
            options.mode = int(v);
        } else if (n == "--width") {
            if (!scan.integer(v, 1, 1 << 20)) return kExitUsage;
            options.width = int(v);
        } else if (n == "--height") {
            if (!scan.integer(v, 1, 1 << 20)) return kExitUsage;
            options.height = int(v);
        } else if (n == "--components") {
            if (!scan.integer(v, 1, 4)) return kExitUsage;
            options.components = int(v);
        } else if (n == "--out-format") {
            if (!scan.integer(v, 0, 5)) return kExitUsage;
            options.outFormat = int(v);
        } else if (n == "--quant-scale") {
            if (!scan.integer(v, 1, 5000)) return kExitUsage;
            options.quantScale = int(v);
        } else if (n == "--vela-size-mode") {
            if (!scan.integer(v, 0, 1)) return kExitUsage;
            options.velaSizeMode = uint32_t(v);
        } else if (n == "--vela-rotation") {
            if (!scan.integer(v, 0, 3)) return kExitUsage;
            options.velaRotation = uint32_t(v);
        } else if (n == "--bp-mcu-bytes") {
            if (!scan.integer(v, 64, 128) || (v != 64 && v != 128)) {
                return complain("--bp-mcu-bytes is 64 or 128"), kExitUsage;
            }
            options.bpMcuBytes = uint32_t(v);
        } else if (n == "--bp-rotation") {
            if (!scan.integer(v, 0, UINT32_MAX)) return kExitUsage;
            options.bpRotation = uint32_t(v);
        } else if (n == "--copier-rotation") {
            if (!scan.integer(v, 0, UINT32_MAX)) return kExitUsage;
            options.copierRotation = uint32_t(v);
        } else if (n == "--copier-rule") {
            if (!scan.integer(v, 0, UINT32_MAX)) return kExitUsage;
            options.copierRule = uint32_t(v);
        } else if (n == "--tables") {
            std::string path;
            if (!scan.value(path)) return kExitUsage;
            if (!readTableBlock(path, options.bpTables)) return kExitFailed;
        } else {
            return unknownOption(n, "decode");
        }
    }
    if (files.size() != 2) {
        std::fputs(kDecodeHelp, stderr);
        return kExitUsage;
    }
    const std::string& outPath = files[1];
    const PictureFormat outFormat = formatFor(outPath, format);
    if (outFormat == PictureFormat::Unknown) {
        complain(outPath + ": unknown picture format (use .png, .ppm, .pgm or .pnm, or --format)");
        return kExitUsage;
    }
    FileSource source;
    std::string message;
    if (!source.open(files[0], message)) return complain("decode: " + message), kExitFailed;

    OutputFile out;
    std::unique_ptr<ImageWriter> writer;
    auto onLayout = [&](const DecodedLayout& layout, std::string& error) {
        if (!out.open(outPath, error)) return false;
        writer = createImage(out.file(), outPath, outFormat,
                             ImageHeader{layout.width, layout.height, layout.channels},
                             int(pngLevel), error);
        return writer != nullptr;
    };
    auto onLines = [&](const uint8_t* lines, int count, size_t stride, std::string& error) {
        if (writer->writeLines(lines, count, stride)) return true;
        error = outPath + ": " + writer->error();
        return false;
    };
    DecodeReport report;
    JobError error;
    bool ok = decodeJob(source, options, onLayout, onLines, report, error, true);
    if (ok && !writer->finish()) {
        error = JobError{};
        error.detail = outPath + ": " + writer->error();
        ok = false;
    }
    if (ok && !out.commit(message)) {
        error = JobError{};
        error.detail = message;
        ok = false;
    }
    // A failed job leaves the output path as it was: the temporary file goes.
    if (!ok) return reportFailure("decode", error, trace);
    if (report.pieceSize > options.pieceSize && options.mode == MOX_MODE_JPEG) {
        complain("note: first piece grown to " + std::to_string(report.pieceSize) +
                 " bytes to hold the header");
    }
    if (!report.damage.empty()) {
        complain("warning: decode: " + report.damage +
                 "; the lines after the fault are grey");
        if (trace) MoxDispMsgTraceM();
        return kExitWarning;
    }
    if (report.missingEoi) {
        complain("warning: decode: the stream has no end-of-image marker (all lines decoded)");
        return kExitWarning;
    }
    return kExitOk;
}

// ---------------------------------------------------------------- encode

namespace {

const char kEncodeHelp[] =
    "usage: moxcodec encode IN OUT [options]\n"
    "\n"
    "Encodes a picture band by band: bands of lines come in through the input\n"
    "callback, compressed buffers go out through the output callback. IN is a\n"
    "PNG or a PNM (P2, P3, P5 or P6, any maxval: scaled to 8 bits), recognised\n"
    "by its content; '-' reads standard input and '-' as OUT writes standard\n"
    "output. OUT is written beside its place and renamed into place when the\n"
    "job succeeds.\n"
    "\n"
    "  --quality N          quality preset row 0 (smallest) .. 10 (best), default 8\n"
    "  --sampling S         luma sampling 444, 422, 420 or 440 (default: the\n"
    "                       quality row's: 420 for rows 0-1, 422 above)\n"
    "  --restart N          restart marker every N MCUs (default none)\n"
    "  --region L,T,W,H     encode only this rectangle of the picture\n"
    "  --omit-markers       entropy-coded data only, no JFIF header or EOI\n"
    "  --comment TEXT       COM segment text (1..98 characters)\n"
    "  --density X,Y,UNIT   JFIF density (default 1,1,0)\n"
    "  --band LINES         input lines per band (default 64)\n"
    "  --out-buffer BYTES   output buffer size (default 65536)\n"
    "  --push               no callbacks: serve MoxEncode's requests (1: next\n"
    "                       band, 2: buffer full) from the loop instead\n"
    "  --trace              print the library's error log on failure\n"
    "\n"
    "VELA coding (gray or four-component input, e.g. an RGBA PNG):\n"
    "  --coding-mode N      0 baseline JPEG (default), 1 VELA\n"
    "  --vela-mode N        VELA sub-mode 1..3 (default 1)\n"
    "  --vela-size-mode N   0 fixed 64-byte MCUs (default), 1 variable\n"
    "  --quant-scale PCT    quantisation table: T.81 K.1 scaled (default 100)\n"
    "\n"
    "Alpha: baseline JPEG drops it (RGBA PNG is coded as RGB, gray+alpha as\n"
    "gray); VELA keeps an RGBA PNG as four components. Gray+alpha always loses it.\n";

// Parses "a,b,c[,d]" into exactly `count` integers.
bool parseList(const std::string& text, long* values, size_t count)
{
    size_t start = 0;
    for (size_t i = 0; i < count; ++i) {
        size_t comma = text.find(',', start);
        if ((comma == std::string::npos) != (i + 1 == count)) return false;
        std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
        char* end = nullptr;
        values[i] = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0') return false;
        start = comma + 1;
    }
    return true;
}

}  // namespace

int runEncode(const Arguments& args)
{
    OptionScanner scan(args);
    std::vector<std::string> files;
    EncodeOptions options;
    bool trace = false;
    long v = 0;
    std::string text;
    while (scan.next()) {
        const std::string& n = scan.name();
        if (!scan.isOption()) {
            files.push_back(scan.operand());
        } else if (n == "--help") {
            return printHelp(kEncodeHelp);
        } else if (n == "--push") {
            options.push = true;
        } else if (n == "--trace") {
            trace = true;
        } else if (n == "--omit-markers") {
            options.omitMarkers = true;
        } else if (n == "--quality") {
            // Out-of-range rows are the library's to refuse.
            if (!scan.integer(v, -1000, 1000)) return kExitUsage;
            options.quality = int(v);
        } else if (n == "--sampling") {
            if (!scan.value(text)) return kExitUsage;
            if (text == "444") options.hSamp0 = 1, options.vSamp0 = 1;
            else if (text == "422") options.hSamp0 = 2, options.vSamp0 = 1;
            else if (text == "420") options.hSamp0 = 2, options.vSamp0 = 2;
            else if (text == "440") options.hSamp0 = 1, options.vSamp0 = 2;
            else return complain("--sampling is 444, 422, 420 or 440"), kExitUsage;
        } else if (n == "--restart") {
            if (!scan.integer(v, 0, 65535)) return kExitUsage;
            options.restartInterval = int(v);
        } else if (n == "--region") {
            long r[4];
            if (!scan.value(text)) return kExitUsage;
            if (!parseList(text, r, 4) || r[0] < 0 || r[1] < 0 || r[2] < 1 || r[3] < 1) {
                return complain("--region wants LEFT,TOP,WIDTH,HEIGHT"), kExitUsage;
            }
            options.regionLeft = int(r[0]);
            options.regionTop = int(r[1]);
            options.regionWidth = int(r[2]);
            options.regionHeight = int(r[3]);
        } else if (n == "--comment") {
            if (!scan.value(options.comment)) return kExitUsage;
            if (options.comment.size() > 98) {
                return complain("--comment holds at most 98 characters"), kExitUsage;
            }
        } else if (n == "--density") {
            long d[3];
            if (!scan.value(text)) return kExitUsage;
            if (!parseList(text, d, 3) || d[0] < 0 || d[0] > 65535 || d[1] < 0 ||
                d[1] > 65535 || d[2] < 0 || d[2] > 2) {
                return complain("--density wants X,Y,UNIT (unit 0, 1 or 2)"), kExitUsage;
            }
            options.densityX = int(d[0]);
            options.densityY = int(d[1]);
            options.densityUnit = int(d[2]);
        } else if (n == "--band") {
            if (!scan.integer(v, 1, 1 << 20)) return kExitUsage;
            options.bandLines = int(v);
        } else if (n == "--out-buffer") {
            if (!scan.integer(v, 1, UINT32_MAX)) return kExitUsage;
            options.outBufferSize = uint32_t(v);
        } else if (n == "--coding-mode") {
            if (!scan.integer(v, -1000, 1000)) return kExitUsage;
            options.codingMode = int(v);
        } else if (n == "--vela-mode") {
            if (!scan.integer(v, -1000, 1000)) return kExitUsage;
            options.velaMode = int(v);
        } else if (n == "--vela-size-mode") {
            if (!scan.integer(v, 0, 1)) return kExitUsage;
            options.velaSizeMode = uint32_t(v);
        } else if (n == "--quant-scale") {
            if (!scan.integer(v, 1, 5000)) return kExitUsage;
            options.quantScale = int(v);
        } else {
            return unknownOption(n, "encode");
        }
    }
    if (files.size() != 2) {
        std::fputs(kEncodeHelp, stderr);
        return kExitUsage;
    }
    std::string message;
    std::unique_ptr<ImageReader> reader = openImage(files[0], message);
    if (!reader) return complain("encode: " + message), kExitFailed;
    ImageHeader header = reader->header();
    if (header.channels == 4 && options.codingMode == 0) {
        // Baseline output is read as gray or RGB: drop PNG alpha.
        header.channels = 3;
    }
    const std::string inName = files[0] == "-" ? "standard input" : files[0];
    std::vector<uint8_t> wide;
    auto lines = [&](uint8_t* dst, int count, size_t stride, std::string& error) {
        const ImageHeader& in = reader->header();
        if (in.channels == header.channels) {
            if (reader->readLines(dst, count, stride)) return true;
        } else {
            wide.resize(size_t(in.width) * in.channels * count);
            if (reader->readLines(wide.data(), count, size_t(in.width) * in.channels)) {
                for (int y = 0; y < count; ++y) {
                    for (int x = 0; x < in.width; ++x) {
                        std::memcpy(dst + y * stride + size_t(x) * 3,
                                    &wide[(size_t(y) * in.width + x) * 4], 3);
                    }
                }
                return true;
            }
        }
        error = inName + ": " + reader->error();
        return false;
    };
    OutputFile out;
    if (!out.open(files[1], message)) return complain("encode: " + message), kExitFailed;
    auto sink = [&](const uint8_t* bytes, uint32_t length, std::string& error) {
        if (std::fwrite(bytes, 1, length, out.file()) == length) return true;
        error = "cannot write " + files[1];
        return false;
    };
    JobError error;
    bool ok = encodeJob(header, lines, options, sink, error, true);
    if (ok && !out.commit(message)) {
        error = JobError{};
        error.detail = message;
        ok = false;
    }
    // A failed job leaves the output path as it was: the temporary file goes.
    return ok ? kExitOk : reportFailure("encode", error, trace);
}

}  // namespace moxtool
