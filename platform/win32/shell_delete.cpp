// The shell's delete operation (IFileOperation), set up for a permanent delete without UI.

#include <windows.h>
// After windows.h, which they depend on (the comment keeps clang-format from sorting them).
#include <shellapi.h>
#include <shobjidl.h>

#include "platform/shell.h"

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

// Owns the calling thread's COM initialisation; uninitialises only when it succeeded
// (S_OK or S_FALSE), since every successful CoInitializeEx needs one CoUninitialize.
class CoInitOwner {
public:
    explicit CoInitOwner(DWORD flags) : _result(CoInitializeEx(nullptr, flags)) {}
    ~CoInitOwner() {
        if (SUCCEEDED(_result)) CoUninitialize();
    }
    CoInitOwner(const CoInitOwner&) = delete;
    CoInitOwner& operator=(const CoInitOwner&) = delete;

    // True when COM is usable on this thread.
    bool succeeded() const { return SUCCEEDED(_result); }

private:
    HRESULT _result;
};

// Owns one COM interface pointer and releases it when it goes out of scope.
template <typename Interface>
class ComOwner {
public:
    ComOwner() = default;
    ~ComOwner() {
        if (_pointer != nullptr) _pointer->Release();
    }
    ComOwner(const ComOwner&) = delete;
    ComOwner& operator=(const ComOwner&) = delete;

    // The address a creating call writes the new pointer to; only on an empty owner.
    Interface** put() { return &_pointer; }
    // The pointer, still owned.
    Interface* get() const { return _pointer; }
    // Calls through the pointer.
    Interface* operator->() const { return _pointer; }

private:
    Interface* _pointer = nullptr;
};

}  // namespace

// Deletes the item through IFileOperation; false as soon as one step fails.
bool shellDeleteItem(const std::wstring& itemText) {
    CoInitOwner com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (!com.succeeded()) return false;

    // Declared after `com`, so they are released before COM is uninitialised.
    ComOwner<IFileOperation> operation;
    if (FAILED(CoCreateInstance(CLSID_FileOperation, nullptr, CLSCTX_ALL,
                                IID_PPV_ARGS(operation.put())))) {
        return false;
    }
    if (FAILED(operation->SetOperationFlags(kDeleteFlags))) return false;

    ComOwner<IShellItem> item;
    if (FAILED(SHCreateItemFromParsingName(itemText.c_str(), nullptr, IID_PPV_ARGS(item.put())))) {
        return false;
    }
    if (FAILED(operation->DeleteItem(item.get(), nullptr))) return false;
    return SUCCEEDED(operation->PerformOperations());
}

}  // namespace platform
