// The shell's delete operation (IFileOperation), set up for a permanent delete without UI.

#include <windows.h>
// After windows.h, which they depend on (the comment keeps clang-format from sorting them).
#include <shellapi.h>
#include <shobjidl.h>

#include "platform/shell.h"
#include "platform/win32/handle_owner.h"

namespace platform {
namespace {

// FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI |
// FOFX_SHOWELEVATIONPROMPT | FOFX_NOCOPYHOOKS | FOFX_REQUIREELEVATION. FOF_ALLOWUNDO is left
// out so the item is deleted, not moved to the Recycle Bin.
constexpr DWORD kDeleteFlags = 0x10840614;
static_assert(kDeleteFlags ==
                  (FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI |
                   FOFX_SHOWELEVATIONPROMPT | FOFX_NOCOPYHOOKS | FOFX_REQUIREELEVATION),
              "delete flags");

}  // namespace

// Deletes the item through IFileOperation; false as soon as one step fails.
bool shellDeleteItem(const std::wstring& itemText) {
    win32::ComInitOwner com(
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    if (!com.valid()) return false;

    // Declared after `com`, so they are released before COM is uninitialised.
    win32::ComOwner<IFileOperation> operation;
    if (FAILED(CoCreateInstance(CLSID_FileOperation, nullptr, CLSCTX_ALL,
                                IID_PPV_ARGS(operation.put())))) {
        return false;
    }
    if (FAILED(operation.get()->SetOperationFlags(kDeleteFlags))) return false;

    win32::ComOwner<IShellItem> item;
    if (FAILED(SHCreateItemFromParsingName(itemText.c_str(), nullptr, IID_PPV_ARGS(item.put())))) {
        return false;
    }
    if (FAILED(operation.get()->DeleteItem(item.get(), nullptr))) return false;
    return SUCCEEDED(operation.get()->PerformOperations());
}

}  // namespace platform
