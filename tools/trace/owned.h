// The one owning type for Windows handles, registry keys and mapped views:
// each is closed exactly once, by its owner, on every path. The calls that
// make them differ in what they return on failure, so each kind names its
// own invalid value, which is never owned or closed.
#pragma once

#include <cstdint>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

struct HKEY__;  // what HKEY points to, as <windows.h> declares it

namespace trace {

// CreateEventW, CreateThread, OpenProcess, CreateFileMappingW and most other
// calls return null on failure.
struct HandleKind {
  using Type = void*;
  static Type Invalid() { return nullptr; }
  static void Close(Type handle);
};
// CreateFileW and its kin return INVALID_HANDLE_VALUE (all bits set) instead.
struct FileKind {
  using Type = void*;
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the value Windows defines, never dereferenced
  static Type Invalid() { return reinterpret_cast<Type>(~std::uintptr_t{0}); }
  static void Close(Type file);
};
struct KeyKind {
  using Type = HKEY__*;
  static Type Invalid() { return nullptr; }
  static void Close(Type key);
};
struct ViewKind {
  using Type = const void*;
  static Type Invalid() { return nullptr; }
  static void Close(Type view);
};

template <typename Kind>
class Owned {
 public:
  using Type = typename Kind::Type;

  Owned() = default;
  explicit Owned(Type owned) : owned_(owned) {}
  ~Owned() { Reset(); }
  Owned(Owned&& other) noexcept : owned_(other.Release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      Reset();
      owned_ = other.Release();
    }
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Type Get() const { return owned_; }
  explicit operator bool() const { return owned_ != Kind::Invalid(); }
  void Reset() {
    if (*this) Kind::Close(owned_);
    owned_ = Kind::Invalid();
  }
  // Gives the object up: the caller closes it.
  Type Release() { return std::exchange(owned_, Kind::Invalid()); }
  // For calls that hand what they make back through a pointer, such as
  // RegOpenKeyExW: whatever was owned is closed first.
  Type* Receive() {
    Reset();
    return &owned_;
  }

 private:
  Type owned_ = Kind::Invalid();
};

using OwnedHandle = Owned<HandleKind>;
using OwnedFile = Owned<FileKind>;
using OwnedKey = Owned<KeyKind>;
using OwnedView = Owned<ViewKind>;

#ifdef _WIN32
inline void HandleKind::Close(Type handle) { CloseHandle(handle); }
inline void FileKind::Close(Type file) { CloseHandle(file); }
inline void KeyKind::Close(Type key) { RegCloseKey(key); }
inline void ViewKind::Close(Type view) { UnmapViewOfFile(view); }
#endif

}  // namespace trace
