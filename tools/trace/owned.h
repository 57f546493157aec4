// Owning types for the viewer's Windows handles and mapped views: each is
// closed exactly once, by its owner, on every path.
#pragma once

#include <windows.h>

#include <utility>

namespace trace {

class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() { Reset(); }
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  HANDLE Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Reset() {
    if (handle_ != nullptr) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

class OwnedView {
 public:
  OwnedView() = default;
  explicit OwnedView(const void* view) : view_(view) {}
  ~OwnedView() { Reset(); }
  OwnedView(OwnedView&& other) noexcept : view_(std::exchange(other.view_, nullptr)) {}
  OwnedView& operator=(OwnedView&& other) noexcept {
    if (this != &other) {
      Reset();
      view_ = std::exchange(other.view_, nullptr);
    }
    return *this;
  }
  OwnedView(const OwnedView&) = delete;
  OwnedView& operator=(const OwnedView&) = delete;

  const unsigned char* Get() const { return static_cast<const unsigned char*>(view_); }
  void Reset() {
    if (view_ != nullptr) UnmapViewOfFile(view_);
    view_ = nullptr;
  }

 private:
  const void* view_ = nullptr;
};

}  // namespace trace
