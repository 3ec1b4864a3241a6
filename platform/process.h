#pragma once
// Processes: the single-instance guard, the list of running images, thread ids.

#include <functional>
#include <string>

namespace platform {

// Creates the named mutex with initial ownership and keeps it until the process ends.
// False when another process already holds the name.
[[nodiscard]] bool claimSingleInstance(const std::wstring& name);

// Calls visit with the full image path of every process that can be opened for a
// limited query, in snapshot order, until visit returns true. Returns false when the
// process list could not be read at all.
bool forEachProcessImage(const std::function<bool(const std::wstring& imagePath)>& visit);

// The calling thread's id as the system numbers it.
unsigned long currentThreadId();

}  // namespace platform
