#include "support/targets.h"

#include <hwy/targets.h>

namespace moxtest {

void forEachTarget(const std::function<void(const std::string&)>& body)
{
    const int64_t supported = hwy::SupportedTargets();
    for (int64_t target = 1; target != 0 && target <= supported; target <<= 1) {
        if ((supported & target) == 0) continue;
        hwy::SetSupportedTargetsForTest(target);
        hwy::GetChosenTarget().Update(hwy::SupportedTargets());
        body(hwy::TargetName(target));
    }
    hwy::SetSupportedTargetsForTest(0);
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}

}  // namespace moxtest
