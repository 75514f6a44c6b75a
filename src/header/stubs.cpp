// Placeholder entry points until the header analysis lands.
#include "frame/errlog.h"
#include "moxcodec.h"

extern "C" MOX_API int32_t MoxAnalysisHeader(SystemParam*, InputFunc, void*, PictureInfo*,
                                             DecodeParam*, int32_t*)
{
    return MOX_FAIL("MoxAnalysisHeader", MOX_ERR_UNSUPPORTED, nullptr);
}
