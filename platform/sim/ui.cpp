// Simulated user interface: scripted answers, a recorded exit and a loop that ends on it.
#include "platform/ui.h"

#include "platform/sim/sim_state.h"

namespace platform {

int messageBox(const std::wstring& text, const std::wstring& caption, unsigned style) {
    std::lock_guard<std::mutex> lock(sim::state().mutex);
    auto& s = sim::state();
    s.messageBoxes.push_back({text, caption, style});
    if (s.messageBoxAnswers.empty()) return 0;
    const int answer = s.messageBoxAnswers.front();
    s.messageBoxAnswers.pop_front();
    return answer;
}

int runMessageLoop() {
    std::unique_lock<std::mutex> lock(sim::state().mutex);
    sim::state().exited.wait(lock, [] { return sim::state().exitStatus.has_value(); });
    return *sim::state().exitStatus;
}

void exitProcess(int status) {
    std::lock_guard<std::mutex> lock(sim::state().mutex);
    if (!sim::state().exitStatus) sim::state().exitStatus = status;
    sim::state().exited.notify_all();
}

}  // namespace platform
