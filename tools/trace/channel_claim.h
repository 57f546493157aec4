// How a listener claims the system-wide channel, the same on every system.
// The channel's three named objects outlive a listener while programs that
// were waiting to write to it still hold them (each for up to 10 s), so
// finding them is no proof that someone listens. A listener is told by what
// it does: it sets "buffer ready" whenever it is idle, and the writers it
// serves change the buffer. Where neither happens for a while, nobody serves
// the channel and the new listener takes it over at once, so that the
// waiting writers are served instead of waiting out their 10 s. The objects
// are opened afresh for each look and never held across a pause, so that a
// listener that is only looking keeps nothing alive. It reaches the system
// only through ChannelObjects: Windows in the viewer, a simulation in the
// tests.
#pragma once

#include <cstdint>
#include <string>

#include "tools/trace/format.h"

namespace trace {

class ChannelObjects {
 public:
  enum class Opened { kCreated, kExisted, kFailed };
  // Creates the three objects, or opens those that exist, and maps the buffer.
  virtual Opened Open() = 0;
  virtual void Close() = 0;
  // Whether "buffer ready" is set, asked without taking it.
  virtual bool ReadySet() = 0;
  virtual void Copy(unsigned char (&into)[kChannelBytes]) = 0;
  virtual std::uint64_t NowMs() = 0;
  virtual void Pause(std::uint32_t ms) = 0;

 protected:
  ~ChannelObjects() = default;
};

// How often the objects are looked at while they are claimed.
constexpr std::uint32_t kClaimLookMs = 50;
// A listener sets "buffer ready" within this long even while a writer that
// took the buffer never writes: it offers it again after a quiet second.
constexpr std::uint32_t kServedWithinMs = 1300;
// A listener that has ended may leave its objects behind this long.
constexpr std::uint32_t kListenerEndingMs = 2000;

enum class Claim {
  kCreated,         // nobody had the objects: listen
  kTakenOver,       // they were left behind unserved: listen, serving those who wait
  kHeldByListener,  // someone serves them
  kFailed
};

// On kCreated and kTakenOver the objects are left open for listening.
Claim ClaimChannel(ChannelObjects& objects);

// The access a listener creates the objects with. Its own user keeps full
// access. Every program of its logon session, elevated or not and at any
// integrity level down to low, may do what a writer does and no more: map
// the section for writing, wait on an event and set it. Without an explicit
// descriptor an elevated listener's objects would admit administrators only,
// and the system drops the other writers' messages without a word.
enum class ChannelObject { kSection, kEvent };
constexpr std::uint32_t kSectionAllAccess = 0xF001F;
constexpr std::uint32_t kSectionMapWrite = 0x2;
constexpr std::uint32_t kEventAllAccess = 0x1F0003;
constexpr std::uint32_t kEventSynchronizeAndModify = 0x100002;

// OBJECT's security descriptor in the system's string form, for the user and
// logon session SIDs in theirs; empty, for the system's default, when either
// is unknown.
std::string ChannelSecurity(ChannelObject object, const std::string& user,
                            const std::string& logonSession);

}  // namespace trace
