// MoxDecClearParam: puts the decoder's three caller records into their
// cleared state, where -1 (all bits set) marks every field that the header
// analysis or the caller still has to fill.
#include <cstring>

#include "frame/errlog.h"
#include "frame/records.h"
#include "moxcodec.h"

using mox::clearHuffmanRecord;
using mox::kNotSet;

extern "C" MOX_API int32_t MoxDecClearParam(PictureInfo* pic, SystemParam* sys,
                                            DecodeParam* param)
{
    if (pic == nullptr || sys == nullptr || param == nullptr)
        return MOX_FAIL("DecClearParam", MOX_ERR_NULL, nullptr);

    std::memset(sys, 0, sizeof(*sys));

    std::memset(param, 0, sizeof(*param));
    param->hSamp[0] = kNotSet;
    param->vSamp[0] = kNotSet;
    param->restartInterval = kNotSet;
    param->colorTransform = kNotSet;
    for (int t = 0; t < 4; ++t) {
        param->quantTable[t][0] = kNotSet;
        param->quantSel[t] = kNotSet;
        param->dcSel[t] = kNotSet;
        param->acSel[t] = kNotSet;
    }
    for (int t = 0; t < 2; ++t) {
        clearHuffmanRecord(&param->dcHuff[t]);
        clearHuffmanRecord(&param->acHuff[t]);
    }

    *pic = PictureInfo{};
    pic->width = kNotSet;
    pic->height = kNotSet;
    pic->imageWidth = kNotSet;
    pic->imageHeight = kNotSet;
    pic->auxX = kNotSet;
    pic->auxY = kNotSet;
    pic->mode = kNotSet;
    pic->reduction = kNotSet;
    pic->componentCount = kNotSet;
    pic->outFormat = kNotSet;
    return MOX_OK;
}
