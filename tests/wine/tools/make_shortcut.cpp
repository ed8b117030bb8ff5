// make_shortcut.exe LINKFILE TARGET : writes a shell link (.lnk) whose path
// is TARGET, through IShellLinkW and IPersistFile, for the Wine tests. The
// target need not exist. Exit code 0 on success.
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>

int wmain(int argc, wchar_t **argv) {
  if (argc != 3) {
    std::fputs("usage: make_shortcut LINKFILE TARGET\n", stderr);
    return 2;
  }
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
    return 1;
  int code = 1;
  IShellLinkW *link = nullptr;
  if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void **>(&link)))) {
    IPersistFile *file = nullptr;
    if (SUCCEEDED(link->SetPath(argv[2])) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
      if (SUCCEEDED(file->Save(argv[1], TRUE)))
        code = 0;
      file->Release();
    }
    link->Release();
  }
  ::CoUninitialize();
  if (code != 0)
    std::fputs("make_shortcut: the link could not be written\n", stderr);
  return code;
}
