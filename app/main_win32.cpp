// The Windows entry point: everything happens in runUninstaller.
#include <windows.h>

#include "app/startup.h"

namespace {

// Turns on the process's redirection trust policy where the system has it (Windows 11
// 22H2 and later): this elevated process then refuses junctions that a non-administrator
// made. Looked up at run time, since older systems lack the call; where it is missing or
// refuses the policy (older Windows, Wine) nothing changes and nothing is reported.
void enforceRedirectionTrust() {
    using SetPolicy = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const auto setPolicy = kernel32 == nullptr
                               ? nullptr
                               : reinterpret_cast<SetPolicy>(reinterpret_cast<void*>(
                                     GetProcAddress(kernel32, "SetProcessMitigationPolicy")));
    if (setPolicy == nullptr) return;
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
    policy.EnforceRedirectionTrust = 1;
    static_cast<void>(setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy)));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    enforceRedirectionTrust();
    return runUninstaller(commandLine ? commandLine : L"");
}
