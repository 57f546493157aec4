// The owning type: each kind's invalid value is never owned or closed, and
// what is owned is closed once, whichever way it leaves.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tools/trace/owned.h"

namespace {

std::vector<const void*> closed;

}  // namespace

namespace trace {

void HandleKind::Close(Type handle) { closed.push_back(handle); }
void FileKind::Close(Type file) { closed.push_back(file); }
void KeyKind::Close(Type key) { closed.push_back(key); }
void ViewKind::Close(Type view) { closed.push_back(view); }

}  // namespace trace

namespace {

template <typename Kind>
typename Kind::Type Made(std::uintptr_t n) {
  return reinterpret_cast<typename Kind::Type>(n);
}

// `failed` is what the kind's making calls return on failure.
template <typename Kind>
void ExpectOwnsOnlyWhatWasMade(const char* kind, std::uintptr_t failed) {
  SCOPED_TRACE(kind);
  closed.clear();
  EXPECT_EQ(Made<Kind>(failed), Kind::Invalid());
  {
    trace::Owned<Kind> none(Made<Kind>(failed));
    EXPECT_FALSE(none);
    trace::Owned<Kind> empty;
    EXPECT_FALSE(empty);
  }
  EXPECT_TRUE(closed.empty()) << "closed " << closed.size() << " invalid value(s)";

  {
    trace::Owned<Kind> first(Made<Kind>(0x10));
    EXPECT_TRUE(first);
    trace::Owned<Kind> moved(std::move(first));
    *moved.Receive() = Made<Kind>(0x20);  // closes 0x10 first
    trace::Owned<Kind> given(Made<Kind>(0x30));
    EXPECT_EQ(given.Release(), Made<Kind>(0x30));
  }
  const std::vector<const void*> expected = {Made<Kind>(0x10), Made<Kind>(0x20)};
  EXPECT_EQ(closed, expected);
}

TEST(OwnedTest, EachKindOwnsOnlyWhatWasMadeAndClosesItOnce) {
  ExpectOwnsOnlyWhatWasMade<trace::HandleKind>("handle", 0);
  ExpectOwnsOnlyWhatWasMade<trace::FileKind>("file (INVALID_HANDLE_VALUE)", ~std::uintptr_t{0});
  ExpectOwnsOnlyWhatWasMade<trace::KeyKind>("registry key", 0);
  ExpectOwnsOnlyWhatWasMade<trace::ViewKind>("mapped view", 0);
}

}  // namespace
