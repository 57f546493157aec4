// The unavoidable work of a Lumenkeep run and nothing else: split the
// command line, enter and leave the apartment, create and release the
// driver's object.
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) return -1;
  const HRESULT entered = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CLSID classId;
  if (SUCCEEDED(CLSIDFromProgID(L"IgfxExt.CUIExternal", &classId))) {
    const IID interfaceId = {
        0xA05C525D, 0xB4CB, 0x4108, {0xBF, 0xF7, 0x1A, 0xCF, 0x1A, 0x14, 0xF0, 0x0A}};
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
