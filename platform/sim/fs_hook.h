#pragma once
// The hook of the host's handle-level file-system operations (file_system.cpp): a test runs
// its code before an operation on an item, and may make the operation fail.

#include <functional>
#include <string>
#include <system_error>

namespace platform::sim {

// Opening an item (status), opening a folder's listing (list), reading a listing past its
// first entry (advance), clearing read-only (makeWritable), deleting (remove), confirming
// that an opened item is itself (identity; what Windows under Wine checks).
enum class FsOp { list, remove, makeWritable, status, advance, identity };

// Called before each operation with the item's host path; an error it returns fails the
// operation with that error.
inline std::function<std::error_code(FsOp, const std::string&)> fsHook;

}  // namespace platform::sim
