// Placeholder entry points until the decoder lands.
#include "frame/errlog.h"
#include "moxcodec.h"

extern "C" MOX_API DecoderContext* MoxDecInit(const PictureInfo*, SystemParam*, const DecodeParam*,
                                              int32_t* error)
{
    if (error != nullptr) *error = MOX_ERR_UNSUPPORTED;
    MOX_FAIL("MoxDecInit", MOX_ERR_UNSUPPORTED, nullptr);
    return nullptr;
}

extern "C" MOX_API int32_t MoxDecFinalize(DecoderContext*)
{
    return MOX_FAIL("MoxDecFinalize", MOX_ERR_NULL, nullptr);
}

extern "C" MOX_API int32_t MoxDecode(DecoderContext*, uintptr_t, uint32_t*)
{
    return MOX_FAIL("MoxDecode", MOX_ERR_NULL, nullptr);
}
