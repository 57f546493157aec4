// Owning types for the viewer's Windows handles and mapped views: each is
// closed exactly once, by its owner, on every path.
#pragma once

#include <windows.h>

#include <utility>

namespace trace {

// Owns a T that Release closes; null owns nothing.
template <typename T, BOOL(WINAPI* Release)(T)>
class Owned {
 public:
  Owned() = default;
  explicit Owned(T owned) : owned_(owned) {}
  ~Owned() { Reset(); }
  Owned(Owned&& other) noexcept : owned_(std::exchange(other.owned_, nullptr)) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      Reset();
      owned_ = std::exchange(other.owned_, nullptr);
    }
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  T Get() const { return owned_; }
  explicit operator bool() const { return owned_ != nullptr; }
  void Reset() {
    if (owned_ != nullptr) Release(owned_);
    owned_ = nullptr;
  }

 private:
  T owned_ = nullptr;
};

using OwnedHandle = Owned<HANDLE, CloseHandle>;
using OwnedView = Owned<LPCVOID, UnmapViewOfFile>;

}  // namespace trace
