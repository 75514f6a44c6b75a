// Callback setters of an encode job. Every argument is required; a null one
// changes nothing.
#include "encoder/context.h"
#include "frame/errlog.h"
#include "moxcodec.h"

extern "C" MOX_API int32_t MoxEncSetInFunc(EncoderContext* ctx, InputFunc func, void* user)
{
    if (ctx == nullptr || func == nullptr || user == nullptr)
        return MOX_FAIL("MoxEncSetInFunc", MOX_ERR_NULL, ctx);
    ctx->inputFunc = func;
    ctx->inputUser = user;
    ctx->inputSet = mox::kCallbackSet;
    return MOX_OK;
}

extern "C" MOX_API int32_t MoxEncSetOutFunc(EncoderContext* ctx, OutputFunc func, void* user)
{
    if (ctx == nullptr || func == nullptr || user == nullptr)
        return MOX_FAIL("MoxEncSetOutFunc", MOX_ERR_NULL, ctx);
    ctx->outputFunc = func;
    ctx->outputUser = user;
    ctx->outputSet = mox::kCallbackSet;
    return MOX_OK;
}
