// Placeholder entry points until the encoder lands.
#include "frame/errlog.h"
#include "moxcodec.h"

extern "C" MOX_API int32_t MoxEncClearParam(EncodeParam*)
{
    return MOX_FAIL("EncClearParam", MOX_ERR_UNSUPPORTED, nullptr);
}

extern "C" MOX_API EncoderContext* MoxEncInit(const EncodePicture*, EncodeSystemParam*,
                                              const EncodeParam*, int32_t* status)
{
    if (status != nullptr) *status = MOX_ERR_UNSUPPORTED;
    MOX_FAIL("MoxEncInit", MOX_ERR_UNSUPPORTED, nullptr);
    return nullptr;
}

extern "C" MOX_API int32_t MoxEncFinalize(EncoderContext*)
{
    return MOX_FAIL("MoxEncFinalize", MOX_ERR_NULL, nullptr);
}

extern "C" MOX_API int32_t MoxEncCalcOptBandSize(const EncodePicture*, const EncodeSystemParam*,
                                                 const EncodeParam*, uint32_t, uint32_t*,
                                                 uint32_t*)
{
    return MOX_FAIL("CalcBandsiz", MOX_ERR_UNSUPPORTED, nullptr);
}

extern "C" MOX_API int32_t MoxEncCalcWorkSize(const EncodePicture*, const EncodeSystemParam*,
                                              const EncodeParam*)
{
    return MOX_FAIL("CalcBandsiz", MOX_ERR_UNSUPPORTED, nullptr);
}

extern "C" MOX_API int32_t MoxGetCurrentBandHeight(EncoderContext*)
{
    return 0;
}

extern "C" MOX_API int32_t MoxEncode(EncoderContext*, uint32_t*, int32_t*)
{
    return MOX_FAIL("MoxEncode", MOX_ERR_NULL, nullptr);
}
