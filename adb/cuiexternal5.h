// The graphics driver's control interface, as its COM server exposes it.
//
// Only the method-table positions the program calls are named; positions 3 to
// 19 exist but are never called. Every method at 20 to 24 returns an HRESULT
// and takes a pointer to a 32-bit error code last (0 means success).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

struct CUIExternal5;

// The 20-byte ADB policy record, DC (battery) first.
struct IntelADBPolicy {
  std::int32_t dc;
  std::int32_t ac;
  std::uint8_t reserved[12];
};
static_assert(sizeof(IntelADBPolicy) == 20, "the driver expects 20 bytes");

using PowerApiHandle = std::uint32_t;

struct CUIExternal5Vtbl {
  platform::HResult(PLATFORM_STDCALL* QueryInterface)(CUIExternal5* self, const platform::Guid* iid,
                                                      void** object);
  std::uint32_t(PLATFORM_STDCALL* AddRef)(CUIExternal5* self);
  std::uint32_t(PLATFORM_STDCALL* Release)(CUIExternal5* self);
  void (*notCalled[17])();  // positions 3 to 19
  platform::HResult(PLATFORM_STDCALL* PowerApiOpen)(CUIExternal5* self, PowerApiHandle* handle,
                                                    std::uint32_t* error);
  platform::HResult(PLATFORM_STDCALL* PowerApiClose)(CUIExternal5* self, PowerApiHandle handle,
                                                     std::uint32_t* error);
  platform::HResult(PLATFORM_STDCALL* GetPowerConsCaps)(CUIExternal5* self, PowerApiHandle handle,
                                                        std::uint32_t* caps, std::uint32_t* error);
  platform::HResult(PLATFORM_STDCALL* GetPowerPolicy)(CUIExternal5* self, PowerApiHandle handle,
                                                      std::uint32_t policyKind,
                                                      const platform::Guid* policyId,
                                                      std::uint32_t recordSize,
                                                      IntelADBPolicy* policy, std::uint32_t* error);
  platform::HResult(PLATFORM_STDCALL* SetPowerPolicy)(CUIExternal5* self, PowerApiHandle handle,
                                                      std::uint32_t policyKind,
                                                      const platform::Guid* policyId,
                                                      std::uint32_t recordSize,
                                                      IntelADBPolicy* policy, std::uint32_t* error);
};
static_assert(offsetof(CUIExternal5Vtbl, PowerApiOpen) == 20 * sizeof(void*),
              "PowerApiOpen sits at position 20");
static_assert(offsetof(CUIExternal5Vtbl, SetPowerPolicy) == 24 * sizeof(void*),
              "SetPowerPolicy sits at position 24");

struct CUIExternal5 {
  const CUIExternal5Vtbl* lpVtbl;
};

// {A05C525D-B4CB-4108-BFF7-1ACF1A14F00A}
constexpr platform::Guid kIID_CUIExternal5 = {
    0xA05C525D, 0xB4CB, 0x4108, {0xBF, 0xF7, 0x1A, 0xCF, 0x1A, 0x14, 0xF0, 0x0A}};

// {2B3C5F6C-97B7-4C85-B4F2-335719D24F3D}
constexpr platform::Guid kIntelADBPolicyId = {
    0x2B3C5F6C, 0x97B7, 0x4C85, {0xB4, 0xF2, 0x33, 0x57, 0x19, 0xD2, 0x4F, 0x3D}};

constexpr char16_t kIntelControlProgId[] = u"IgfxExt.CUIExternal";
constexpr std::uint32_t kCreateContext = 0x15;  // in-process, local, remote
constexpr std::uint32_t kPowerPolicyKind = 3;
constexpr std::uint32_t kErrorLocked = 20;
constexpr std::uint32_t IGFX_ADB_SUPPORTED_AC = 0x4;
constexpr std::uint32_t IGFX_ADB_SUPPORTED_DC = 0x8;
