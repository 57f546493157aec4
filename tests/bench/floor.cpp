// The unavoidable work of a Lumenkeep run and nothing else: split the
// command line, enter and leave the apartment, create and release the
// driver's object.
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include "tests/common/standin_identity.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) return -1;
  const HRESULT entered = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CLSID classId;
  if (SUCCEEDED(CLSIDFromProgID(L"IgfxExt.CUIExternal", &classId))) {
    const IID interfaceId = identity::GuidFromText(DRIVER_INTERFACE_ID);
    IUnknown* object = nullptr;
    if (SUCCEEDED(CoCreateInstance(classId, nullptr, 0x15, interfaceId,
                                   reinterpret_cast<void**>(&object))) &&
        object != nullptr)
      object->Release();
  }
  if (SUCCEEDED(entered)) CoUninitialize();
  GlobalFree(arguments);
  return 0;
}
