// The colour-dialog component the installer drops into the system directory
// and registers. The panel uses the system colour dialog directly, so this
// library only has to exist and register cleanly: registration leaves a
// record under the tool's own key and nothing else, no COM class.
//
// Built without the C runtime (see CMakeLists.txt), so nothing here may pull
// in library code: no globals with constructors, no exceptions.

#include <windows.h>

#include "version.h"

namespace {

// Same key root the settings use, so uninstalling the tool's key clears it.
constexpr wchar_t kKey[] = L"Software\\" NM_PRODUCT_NAME L"\\Components";
constexpr wchar_t kValue[] = L"COMDLG32";
constexpr wchar_t kRegistered[] = L"registered";

}  // namespace

extern "C" {

BOOL WINAPI DllMainCRTStartup(HINSTANCE, DWORD, LPVOID) { return TRUE; }

HRESULT WINAPI DllRegisterServer() {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  rc = RegSetValueExW(key, kValue, 0, REG_SZ,
                      reinterpret_cast<const BYTE*>(kRegistered),
                      sizeof kRegistered);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT WINAPI DllUnregisterServer() {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_SET_VALUE, &key);
  if (rc == ERROR_FILE_NOT_FOUND) return S_OK;  // never registered
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  rc = RegDeleteValueW(key, kValue);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND
             ? S_OK
             : HRESULT_FROM_WIN32(rc);
}

HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID, LPVOID* out) {
  if (out) *out = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT WINAPI DllCanUnloadNow() { return S_OK; }

// Kept for the export table's sake; there is no type library to document.
HRESULT WINAPI DLLGetDocumentation(void*, LONG, DWORD, void*) {
  return E_NOTIMPL;
}

}  // extern "C"
