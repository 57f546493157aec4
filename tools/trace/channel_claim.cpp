#include "tools/trace/channel_claim.h"

#include <cstdio>
#include <cstring>

namespace trace {

namespace {

struct Look {
  ChannelObjects::Opened opened;
  bool served = false;  // "buffer ready" set, or the buffer changed since the last look
};

class Watch {
 public:
  explicit Watch(ChannelObjects& objects) : objects_(objects) {}

  Look Take() {
    Look look{objects_.Open()};
    if (look.opened != ChannelObjects::Opened::kExisted) return look;
    unsigned char buffer[kChannelBytes];
    objects_.Copy(buffer);
    look.served = objects_.ReadySet() || (seen_ && std::memcmp(buffer, last_, kChannelBytes) != 0);
    std::memcpy(last_, buffer, kChannelBytes);
    seen_ = true;
    return look;
  }

 private:
  ChannelObjects& objects_;
  unsigned char last_[kChannelBytes] = {};
  bool seen_ = false;
};

}  // namespace

Claim ClaimChannel(ChannelObjects& objects) {
  Watch watch(objects);
  const std::uint64_t start = objects.NowMs();
  std::uint64_t lastServed = start;
  while (true) {
    const Look look = watch.Take();
    if (look.opened == ChannelObjects::Opened::kFailed) return Claim::kFailed;
    if (look.opened == ChannelObjects::Opened::kCreated) return Claim::kCreated;
    const std::uint64_t now = objects.NowMs();
    if (look.served) {
      lastServed = now;
      if (now - start >= kListenerEndingMs) {
        objects.Close();
        return Claim::kHeldByListener;
      }
    } else if (now - lastServed >= kServedWithinMs) {
      return Claim::kTakenOver;
    }
    objects.Close();
    objects.Pause(kClaimLookMs);
  }
}

namespace {

std::string Allow(std::uint32_t rights, const std::string& sid) {
  char hex[16];
  (void)std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(rights));
  return std::string("(A;;") + hex + ";;;" + sid + ")";
}

}  // namespace

std::string ChannelSecurity(ChannelObject object, const std::string& user,
                            const std::string& logonSession) {
  if (user.empty() || logonSession.empty()) return "";
  const bool section = object == ChannelObject::kSection;
  const std::uint32_t writer = section ? kSectionMapWrite : kEventSynchronizeAndModify;
  // SY: system processes of the session may write, as under the default.
  // ML;;NW;;;LW: the low mandatory label, up to which low-integrity writers may write.
  return "D:" + Allow(section ? kSectionAllAccess : kEventAllAccess, user) +
         Allow(writer, logonSession) + Allow(writer, "SY") + "S:(ML;;NW;;;LW)";
}

}  // namespace trace
