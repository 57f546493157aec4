// Who the driver stand-in is and where the tests keep their state: for the
// stand-in, the end-to-end suite, and the scripts that run the program by
// hand, which read these names with the C preprocessor (tests/e2e/identity.sh).
// Written out here rather than taken from the program's header, so that the
// stand-in holds the program to the driver's interface id.
#pragma once

// The stand-in's COM class, registered as the driver's.
#define STANDIN_CLASS_ID "{7A1C3E52-8F0B-4D2A-9C61-3B5E0F2D8A47}"
// The interface the program asks the driver for.
#define DRIVER_INTERFACE_ID "{A05C525D-B4CB-4108-BFF7-1ACF1A14F00A}"
// Under HKEY_CURRENT_USER: the suite's key, and in it the stand-in's state.
#define TEST_STATE_KEY "Software\\Lumenkeep Test"
#define STANDIN_STATE_KEY TEST_STATE_KEY "\\Driver"

#define WIDE(text) L"" text

#ifdef __cplusplus
#ifdef _WIN32
#include <windows.h>
#endif

namespace identity {

constexpr unsigned Hex(const char* text, int from, int digits) {
  unsigned value = 0;
  for (int i = from; i < from + digits; ++i) {
    const char c = text[i];
    value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return value;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" as a GUID, Windows's or one of the
// same fields (the host tests' platform::Guid).
#ifdef _WIN32
template <typename Guid = GUID>
#else
template <typename Guid>
#endif
constexpr Guid GuidFromText(const char (&text)[39]) {
  const auto byte = [&text](int at) { return static_cast<unsigned char>(Hex(text, at, 2)); };
  return {Hex(text, 1, 8),
          static_cast<unsigned short>(Hex(text, 10, 4)),
          static_cast<unsigned short>(Hex(text, 15, 4)),
          {byte(20), byte(22), byte(25), byte(27), byte(29), byte(31), byte(33), byte(35)}};
}

}  // namespace identity
#endif
