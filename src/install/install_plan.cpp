#include "install/install_plan.h"

namespace quillmere {

InstallRun runInstall(const InstallPlan &plan)
{
    const CommandResult result = run(plan.command);
    const InstallOutcome outcome = classifyInstall(result, plan.prompt);
    if (outcome != InstallOutcome::Completed || !plan.launch)
        return {outcome, result};
    const CommandResult launched = run(*plan.launch);
    return {launched.exitCode == 0 ? InstallOutcome::Completed : InstallOutcome::Failed, launched};
}

}  // namespace quillmere
