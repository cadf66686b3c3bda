// readlnk.exe FILE.lnk
//
// Loads a link with the system's own link object (CLSID_ShellLink through
// IPersistFile::Load and IShellLinkW) and prints what it finds, one field a
// line, in UTF-8:
//   path<TAB>the target path (as stored, environment strings unexpanded)
//   workdir<TAB>the working directory
//   arguments<TAB>the arguments
//   description<TAB>the description
//   icon<TAB>the icon location, a comma, the icon's index
//   show<TAB>the show command
//   hotkey<TAB>the hot key (low byte the key, high byte the modifiers)
//   flags<TAB>the link's data flags (IShellLinkDataList::GetFlags), in hex
//   idlist<TAB>the item list's full parsing name, as the Shell resolves it
// The end-to-end tests use it to read back, under Wine, the links that
// mklnk.exe makes: a link passes only if the system itself can load it.
//
// Exit codes: 0 when loaded, 1 when the system refused the file, 125 for a
// bad invocation.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <ole2.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "utf8.h"

namespace {

void Write(const std::wstring& text) {
  const std::string bytes = Utf8(text);
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
}

void Field(const wchar_t* name, const std::wstring& value) { Write(std::wstring(name) + L"\t" + value + L"\n"); }

int Refused(const wchar_t* what, HRESULT hr) {
  wchar_t code[16];
  ::wsprintfW(code, L"0x%08X", static_cast<unsigned>(hr));
  Write(std::wstring(L"error\t") + what + L" " + code + L"\n");
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    Write(L"usage: readlnk.exe FILE.lnk\n");
    return 125;
  }
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return Refused(L"CoInitializeEx", E_FAIL);
  IShellLinkW* link = nullptr;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link));
  if (FAILED(hr)) return Refused(L"CoCreateInstance", hr);
  IPersistFile* file = nullptr;
  hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (FAILED(hr)) return Refused(L"IPersistFile", hr);
  hr = file->Load(argv[1], STGM_READ);
  file->Release();
  if (FAILED(hr)) return Refused(L"IPersistFile.Load", hr);

  std::vector<wchar_t> buffer(32768);
  const int size = static_cast<int>(buffer.size());
  const auto text = [&](HRESULT got) { return SUCCEEDED(got) ? std::wstring(buffer.data()) : L"<failed>"; };
  buffer[0] = L'\0';
  Field(L"path", text(link->GetPath(buffer.data(), size, nullptr, SLGP_RAWPATH)));
  buffer[0] = L'\0';
  Field(L"workdir", text(link->GetWorkingDirectory(buffer.data(), size)));
  buffer[0] = L'\0';
  Field(L"arguments", text(link->GetArguments(buffer.data(), size)));
  buffer[0] = L'\0';
  Field(L"description", text(link->GetDescription(buffer.data(), size)));

  int icon = 0;
  buffer[0] = L'\0';
  const HRESULT iconHr = link->GetIconLocation(buffer.data(), size, &icon);
  Field(L"icon", text(iconHr) + L"," + std::to_wstring(icon));
  int show = 0;
  Field(L"show", SUCCEEDED(link->GetShowCmd(&show)) ? std::to_wstring(show) : L"<failed>");
  WORD key = 0;
  Field(L"hotkey", SUCCEEDED(link->GetHotkey(&key)) ? std::to_wstring(key) : L"<failed>");
  IShellLinkDataList* data = nullptr;
  DWORD flags = 0;
  std::wstring flagsText = L"<failed>";
  if (SUCCEEDED(link->QueryInterface(IID_IShellLinkDataList, reinterpret_cast<void**>(&data)))) {
    wchar_t hex[16];
    if (SUCCEEDED(data->GetFlags(&flags))) {
      ::wsprintfW(hex, L"0x%08X", static_cast<unsigned>(flags));
      flagsText = hex;
    }
    data->Release();
  }
  Field(L"flags", flagsText);

  PIDLIST_ABSOLUTE items = nullptr;
  std::wstring parsing = L"<none>";
  if (SUCCEEDED(link->GetIDList(&items)) && items != nullptr) {
    wchar_t* name = nullptr;
    if (SUCCEEDED(::SHGetNameFromIDList(items, SIGDN_DESKTOPABSOLUTEPARSING, &name)) && name != nullptr) {
      parsing = name;
      ::CoTaskMemFree(name);
    } else {
      parsing = L"<failed>";
    }
    ::CoTaskMemFree(items);
  }
  Field(L"idlist", parsing);
  link->Release();
  ::CoUninitialize();
  return 0;
}
