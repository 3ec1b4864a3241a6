// Simulated processes: the guard, the process list and thread ids.
#include "platform/process.h"

#include <sys/syscall.h>
#include <unistd.h>

#include "platform/sim/sim_state.h"

namespace platform {

bool claimSingleInstance(const std::wstring&) {
    std::lock_guard<std::mutex> lock(sim::state().mutex);
    return !sim::state().otherInstanceRunning;
}

bool forEachProcessImage(const std::function<bool(const std::wstring&)>& visit) {
    std::vector<sim::Process> processes;
    {
        std::lock_guard<std::mutex> lock(sim::state().mutex);
        if (!sim::state().processListAvailable) return false;
        processes = sim::state().processes;
        sim::state().processesOpened = 0;
    }
    for (const auto& process : processes) {
        if (!process.openable) continue;
        {
            std::lock_guard<std::mutex> lock(sim::state().mutex);
            ++sim::state().processesOpened;
        }
        if (visit(process.image)) break;
    }
    return true;
}

unsigned long currentThreadId() { return static_cast<unsigned long>(::syscall(SYS_gettid)); }

}  // namespace platform
