#include "support/refjpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace moxtest {

namespace {

struct ErrorTrap {
    jpeg_error_mgr manager;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void trapError(j_common_ptr cinfo)
{
    auto* trap = reinterpret_cast<ErrorTrap*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, trap->message);
    longjmp(trap->jump, 1);
}

void quietMessage(j_common_ptr, int) {}

// Plain-data halves of the work, so that longjmp crosses no destructor.
bool compressInto(const Picture& picture, const RefEncodeOptions& options, unsigned char** out,
                  unsigned long* outSize)
{
    jpeg_compress_struct cinfo;
    ErrorTrap trap;
    cinfo.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = trapError;
    if (setjmp(trap.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, outSize);
    cinfo.image_width = picture.width;
    cinfo.image_height = picture.height;
    cinfo.input_components = picture.components;
    cinfo.in_color_space = picture.components == 1 ? JCS_GRAYSCALE : picture.components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    if (options.storeRgb) jpeg_set_colorspace(&cinfo, JCS_RGB);
    jpeg_set_quality(&cinfo, options.quality, TRUE);
    for (int c = 0; c < cinfo.num_components && c < 3; ++c) {
        cinfo.comp_info[c].h_samp_factor = picture.components == 1 ? 1 : options.hSamp[c];
        cinfo.comp_info[c].v_samp_factor = picture.components == 1 ? 1 : options.vSamp[c];
    }
    cinfo.restart_interval = options.restartInterval;
    cinfo.optimize_coding = options.optimize ? TRUE : FALSE;
    if (options.progressive) jpeg_simple_progression(&cinfo);
    jpeg_scan_info scans[4];
    if (options.separateScans) {
        for (int c = 0; c < cinfo.num_components; ++c) scans[c] = jpeg_scan_info{1, {c, 0, 0, 0}, 0, 63, 0, 0};
        cinfo.scan_info = scans;
        cinfo.num_scans = cinfo.num_components;
    }
    jpeg_start_compress(&cinfo, TRUE);
    if (!options.comment.empty())
        jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(options.comment.data()),
                          static_cast<unsigned>(options.comment.size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(
            picture.pixels.data() + size_t(cinfo.next_scanline) * picture.width * picture.components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

struct DecodeTarget {
    int width;
    int height;
    int components;
    unsigned char* pixels;  // malloc'ed by decompressFrom
};

// Reads a stream with the reference codec: the quantised coefficients into
// `coefficients` when it is given, else the samples into `target`.
bool decompressFrom(const unsigned char* data, unsigned long size, bool fancy, bool floatDct, bool keepColorSpace,
                    DecodeTarget* target, RefCoefficients* coefficients, long* warnings, char* message)
{
    jpeg_decompress_struct cinfo;
    ErrorTrap trap;
    cinfo.err = jpeg_std_error(&trap.manager);
    trap.manager.error_exit = trapError;
    trap.manager.emit_message = quietMessage;
    if (target != nullptr) target->pixels = nullptr;
    if (setjmp(trap.jump)) {
        snprintf(message, JMSG_LENGTH_MAX, "%s", trap.message);
        jpeg_destroy_decompress(&cinfo);
        if (target != nullptr) free(target->pixels);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
    if (coefficients != nullptr) {
        jvirt_barray_ptr* arrays = jpeg_read_coefficients(&cinfo);
        RefCoefficients* out = coefficients;
        out->components = cinfo.num_components;
        for (int c = 0; c < cinfo.num_components && c < 4; ++c) {
            const jpeg_component_info& info = cinfo.comp_info[c];
            int h = cinfo.comps_in_scan == 1 ? 1 : info.h_samp_factor;
            int v = cinfo.comps_in_scan == 1 ? 1 : info.v_samp_factor;
            out->blocksWide[c] = int((info.width_in_blocks + h - 1) / h * h);
            out->blocksHigh[c] = int((info.height_in_blocks + v - 1) / v * v);
            for (int k = 0; k < 64; ++k) out->quant[c][k] = info.quant_table->quantval[k];
            out->blocks[c].resize(size_t(out->blocksWide[c]) * out->blocksHigh[c] * 64);
            for (int by = 0; by < out->blocksHigh[c]; ++by) {
                JBLOCKARRAY row = (*cinfo.mem->access_virt_barray)(
                    reinterpret_cast<j_common_ptr>(&cinfo), arrays[c], JDIMENSION(by), 1, FALSE);
                for (int bx = 0; bx < out->blocksWide[c]; ++bx)
                    for (int k = 0; k < 64; ++k)
                        out->blocks[c][(size_t(by) * out->blocksWide[c] + bx) * 64 + k] = row[0][bx][k];
            }
        }
    } else {
        cinfo.do_fancy_upsampling = fancy ? TRUE : FALSE;
        if (floatDct) cinfo.dct_method = JDCT_FLOAT;
        if (keepColorSpace) cinfo.out_color_space = cinfo.jpeg_color_space;
        jpeg_start_decompress(&cinfo);
        target->width = cinfo.output_width;
        target->height = cinfo.output_height;
        target->components = cinfo.output_components;
        size_t stride = size_t(target->width) * target->components;
        target->pixels = static_cast<unsigned char*>(malloc(stride * target->height + 1));
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = target->pixels + stride * cinfo.output_scanline;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
    }
    jpeg_finish_decompress(&cinfo);
    *warnings = trap.manager.num_warnings;
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace

RefCoefficients refCoefficients(const std::vector<uint8_t>& stream)
{
    RefCoefficients result;
    char message[JMSG_LENGTH_MAX] = {0};
    result.ok = decompressFrom(stream.data(), stream.size(), false, false, false, nullptr, &result, &result.warnings,
                               message);
    result.message = message;
    return result;
}

std::vector<uint8_t> refEncode(const Picture& picture, const RefEncodeOptions& options)
{
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    std::vector<uint8_t> stream;
    if (compressInto(picture, options, &out, &outSize)) stream.assign(out, out + outSize);
    free(out);
    return stream;
}

RefDecoded refDecodeComponents(const std::vector<uint8_t>& stream, bool fancyUpsampling,
                               bool floatDct, bool keepColorSpace)
{
    RefDecoded result;
    DecodeTarget target{};
    char message[JMSG_LENGTH_MAX] = {0};
    result.ok = decompressFrom(stream.data(), stream.size(), fancyUpsampling, floatDct, keepColorSpace, &target,
                               nullptr, &result.warnings, message);
    if (!result.ok) {
        result.message = message;
        return result;
    }
    result.picture.width = target.width;
    result.picture.height = target.height;
    result.picture.components = target.components;
    result.picture.pixels.assign(target.pixels,
                                 target.pixels + size_t(target.width) * target.height * target.components);
    free(target.pixels);
    return result;
}

}  // namespace moxtest
