// The registry the suite touches, and putting back what it changed there:
// only what it changed itself, only where the registry still holds what it
// left, so that what another program wrote meanwhile is kept. What a run
// found is kept in a record in the temporary folder from before its first
// change until it is put back, so that the next run puts back a run that
// was killed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/common/standin_identity.h"

namespace suite {

inline const wchar_t kStateKey[] = WIDE(TEST_STATE_KEY);
inline const wchar_t kDriverKey[] = WIDE(STANDIN_STATE_KEY);
inline const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline const wchar_t kRunValue[] = L"Lumenkeep";
inline const wchar_t kClassName[] = L"IgfxExt.CUIExternal";
inline const wchar_t kStandInClassKey[] = WIDE("CLSID\\" STANDIN_CLASS_ID);
inline const wchar_t kStandInClassId[] = WIDE(STANDIN_CLASS_ID);
// Read and set values, nothing else, for everyone: a locked-down Run key.
inline const wchar_t kNarrowRunKey[] = L"D:P(A;;0x2001b;;;WD)";

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
// The key as saved, its values and subkeys; one that was not there is deleted.
void Restore(const SavedKey& saved);

// The classes root of the user (HKCU) or of the machine (HKLM), in this
// build's registry view; nullptr when it cannot be opened.
HKEY OpenClasses(bool perMachine);
extern HKEY classesRoot;  // where this run registers the stand-in, once chosen
// Whether this machine may lose whatever is written to the Run key while a
// scenario has deleted it or narrowed its permissions.
bool Disposable();
bool ChooseClassesRoot();
// A driver other than the stand-in registered per user or per machine,
// "" when none: each read on its own, since the merged view shows only one.
std::wstring OtherDriver();

bool RunKeyExists();
std::vector<BYTE> RunKeySecurity();  // "" when the key cannot be read
bool SetRunKeySecurity(const std::vector<BYTE>& security);
std::vector<BYTE> SecurityOf(const wchar_t* sddl);
// The Run key as saved, with its permissions.
void RecreateRunKey(const SavedKey& run, const std::vector<BYTE>& security);

// One run at a time, across the user's sessions: false when another run
// holds it.
bool TakeLock();
// While a run of the suite that this one starts runs, and after it.
void LendLock();
void TakeLockBack();

// What this run found, kept in its record before it changes anything.
bool KeepRecord();
std::wstring RecordOfThisRun();  // the file it is kept in
// Puts back what this run changed; true when the registry reads back as it
// should, and then its record is removed.
bool PutBackRegistry();
// Puts back what runs that ended without putting back had changed; false,
// after one line saying what to do, when a record is damaged or cannot be
// applied.
bool PutBackEndedRuns();
// Removes DIR and the files in it; true once it is gone.
bool RemoveFolder(const std::wstring& dir, int tries = 50);

}  // namespace suite
