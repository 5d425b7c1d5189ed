#include "install/install_plan.h"

namespace quillmere {

CommandResult runInstall(const InstallPlan &plan)
{
    const CommandResult result = run(plan.command);
    return plan.throughPkexec ? pkexecResult(result) : result;
}

}  // namespace quillmere
