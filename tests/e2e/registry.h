// The registry the suite touches: its keys, saving them whole and putting
// them back, where the stand-in is registered, and what a run that was
// killed left changed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace suite {

inline const wchar_t kStateKey[] = L"Software\\Lumenkeep Test";
inline const wchar_t kDriverKey[] = L"Software\\Lumenkeep Test\\Driver";
inline const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline const wchar_t kRunValue[] = L"Lumenkeep";
inline const wchar_t kClassName[] = L"IgfxExt.CUIExternal";
inline const wchar_t kStandInClassKey[] = L"CLSID\\{7A1C3E52-8F0B-4D2A-9C61-3B5E0F2D8A47}";
inline const wchar_t kStandInClassId[] = L"{7A1C3E52-8F0B-4D2A-9C61-3B5E0F2D8A47}";

struct Value {
  std::wstring name;
  DWORD type;
  std::vector<BYTE> data;
  bool operator==(const Value&) const = default;
};

struct SavedKey {
  HKEY root;
  std::wstring path;
  bool existed = false;
  std::vector<Value> values;
  std::vector<SavedKey> subkeys;
  bool operator==(const SavedKey&) const = default;
};

SavedKey Save(HKEY root, const std::wstring& path);
// An existing key keeps itself, and so its permissions: only what is in it
// is replaced.
void Restore(const SavedKey& saved);

extern HKEY classesRoot;  // HKCU or HKLM \Software\Classes, once opened
bool UnderWine();
bool OpenClassesRoot();
std::wstring RegisteredClassId(HKEY classes);
// Everything the suite may change in the registry.
std::vector<SavedKey> SaveTouched();
std::vector<BYTE> RunKeySecurity();

std::wstring PendingName(DWORD process);
void KeepPending(const std::vector<SavedKey>& keys);
void PutBackKilledRuns();
// Removes DIR and the files in it; true once it is gone.
bool RemoveFolder(const std::wstring& dir);

}  // namespace suite
