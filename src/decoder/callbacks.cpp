// Callback setters of a decode job. Every argument is required; a null one
// changes nothing.
#include "decoder/context.h"
#include "frame/errlog.h"
#include "moxcodec.h"

extern "C" MOX_API int32_t MoxDecSetInFunc(DecoderContext* ctx, InputFunc func, void* user)
{
    if (ctx == nullptr || func == nullptr || user == nullptr)
        return MOX_FAIL("MoxDecSetInFunc", MOX_ERR_NULL, nullptr);
    ctx->inputFunc = func;
    ctx->inputUser = user;
    // A first piece already in the buffer counts as read.
    ctx->piecesRead = ctx->firstFill == 0 ? 1 : 0;
    return MOX_OK;
}

extern "C" MOX_API int32_t MoxDecSetOutFunc(DecoderContext* ctx, OutputFunc func, void* user)
{
    if (ctx == nullptr || func == nullptr || user == nullptr)
        return MOX_FAIL("MoxSetOutFunc", MOX_ERR_NULL, nullptr);
    ctx->outputFunc = func;
    ctx->outputUser = user;
    return MOX_OK;
}
