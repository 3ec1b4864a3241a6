#pragma once
// The one owner template for every kind of handle the platform code holds: kernel
// objects, listings, registry keys, processes and shell-allocated strings each get a
// typedef of it where they are used.

#include <utility>

namespace platform {

// True for every value but Empty.
template <typename T, T Empty>
constexpr bool differsFrom(T value) {
    return value != Empty;
}

// Owns one handle of type T and releases it with Close(handle) when it goes out of scope
// or is replaced. An owner without a handle holds Empty; Held(handle) tells a handle from
// every value that means none. Movable, so owners can be returned and kept in vectors;
// never copied.
template <typename T, auto Close, T Empty = T{}, bool (*Held)(T) = differsFrom<T, Empty>>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T handle) : _handle(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : _handle(std::exchange(other._handle, Empty)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other._handle, Empty));
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    // True when a handle is held.
    bool valid() const { return Held(_handle); }
    // The held handle, still owned.
    T get() const { return _handle; }
    // Releases the held handle, if any, and takes the new one.
    void reset(T handle = Empty) {
        if (valid()) Close(_handle);
        _handle = handle;
    }
    // Releases the held handle and gives the address a creating call writes the new one to.
    T* put() {
        reset();
        return &_handle;
    }

private:
    T _handle = Empty;
};

}  // namespace platform
