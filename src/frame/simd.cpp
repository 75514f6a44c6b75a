// The read-once switch of the fast paths.
#include "frame/simd.h"

#include <cstdlib>
#include <cstring>

#include <hwy/targets.h>

namespace mox {

namespace {

bool readSwitch()
{
    const char* value = std::getenv("MOX_SIMD");
    if (value != nullptr && std::strcmp(value, "none") == 0) return false;
    // Settle the dispatch target now, so that HWY_DYNAMIC_DISPATCH hands out
    // the target's own function rather than the first-call trampoline.
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
    return true;
}

}  // namespace

bool simdEnabled()
{
    static const bool enabled = readSwitch();  // thread-safe one-time read
    return enabled;
}

}  // namespace mox
