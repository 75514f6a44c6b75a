// Allocator setters of both job kinds: they fill the five allocator fields
// of a system record before Init. Every argument is required; a null one
// changes nothing.
#include "frame/errlog.h"
#include "moxcodec.h"

namespace {

template <typename Record>
void setWholeScheme(Record* sys, MoxAllocFunc allocFunc, MoxFreeFunc freeFunc)
{
    sys->allocFunc = allocFunc;
    sys->freeFunc = freeFunc;
    sys->partAllocFunc = nullptr;
    sys->partFreeFunc = nullptr;
    sys->allocUser = nullptr;
}

template <typename Record>
void setUserScheme(Record* sys, MoxPartAllocFunc partAllocFunc, MoxPartFreeFunc partFreeFunc,
                   void* user)
{
    sys->allocFunc = nullptr;
    sys->freeFunc = nullptr;
    sys->partAllocFunc = partAllocFunc;
    sys->partFreeFunc = partFreeFunc;
    sys->allocUser = user;
}

}  // namespace

extern "C" MOX_API int32_t MoxDecSetupMalloc(MoxAllocFunc allocFunc, MoxFreeFunc freeFunc,
                                             SystemParam* sys)
{
    if (allocFunc == nullptr || freeFunc == nullptr || sys == nullptr)
        return MOX_FAIL("MoxDecSetupMalloc", MOX_ERR_NULL, nullptr);
    setWholeScheme(sys, allocFunc, freeFunc);
    return MOX_OK;
}

extern "C" MOX_API int32_t MoxDecSetupPartMalloc(MoxPartAllocFunc partAllocFunc,
                                                 MoxPartFreeFunc partFreeFunc, void* user,
                                                 SystemParam* sys)
{
    if (partAllocFunc == nullptr || partFreeFunc == nullptr || user == nullptr || sys == nullptr)
        return MOX_FAIL("DecSetupPartMalloc", MOX_ERR_NULL, nullptr);
    setUserScheme(sys, partAllocFunc, partFreeFunc, user);
    return MOX_OK;
}

extern "C" MOX_API int32_t MoxEncSetupMalloc(MoxAllocFunc allocFunc, MoxFreeFunc freeFunc,
                                             EncodeSystemParam* sys)
{
    if (allocFunc == nullptr || freeFunc == nullptr || sys == nullptr)
        return MOX_FAIL("EncSetupMalloc", MOX_ERR_NULL, nullptr);
    setWholeScheme(sys, allocFunc, freeFunc);
    return MOX_OK;
}

extern "C" MOX_API int32_t MoxEncSetupPartMalloc(MoxPartAllocFunc partAllocFunc,
                                                 MoxPartFreeFunc partFreeFunc, void* user,
                                                 EncodeSystemParam* sys)
{
    if (partAllocFunc == nullptr || partFreeFunc == nullptr || user == nullptr || sys == nullptr)
        return MOX_FAIL("EncSetupPartMalloc", MOX_ERR_NULL, nullptr);
    setUserScheme(sys, partAllocFunc, partFreeFunc, user);
    return MOX_OK;
}
