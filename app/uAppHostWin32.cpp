// The Windows host: module path, version resource and shell links.
#ifdef _WIN32

#include "app/uAppHost.h"

#include "platform/win32/WinApi.h"

#include <objbase.h>
#include <shlobj.h>

#include "platform/Utf.h"
#include "platform/win32/WinHandles.h"

namespace quenlo {

namespace {

std::wstring Wide(std::string_view text) {
  const std::u16string u = qp::Utf8ToUtf16(text);
  return std::wstring(u.begin(), u.end());
}

class TWin32AppHost : public IAppHost {
public:
  std::string ExePath() override {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
      DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
      if (n == 0)
        return {};
      if (n < buffer.size()) {
        buffer.resize(n);
        return qp::Utf16ToUtf8(std::u16string(buffer.begin(), buffer.end()));
      }
      if (buffer.size() >= 32768)
        return {};
      buffer.resize(buffer.size() * 2);
    }
  }

  qp::Bytes VersionResource() override {
    HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)); // RT_VERSION
    if (info == nullptr)
      return {};
    HGLOBAL loaded = LoadResource(nullptr, info);
    DWORD size = SizeofResource(nullptr, info);
    const void *data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr || size == 0)
      return {};
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    return qp::Bytes(bytes, bytes + size);
  }

  bool CreateShellLink(std::string_view linkFile, std::string_view target,
                       std::string_view arguments, std::string_view description) override {
    qp::win32::ComScope com;
    if (!com.Usable())
      return false;
    qp::win32::ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.put_void())))
      return false;
    link->SetPath(Wide(target).c_str());
    link->SetDescription(Wide(description).c_str());
    link->SetArguments(Wide(arguments).c_str());
    qp::win32::ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())))
      return false;
    return SUCCEEDED(file->Save(Wide(linkFile).c_str(), TRUE));
  }
};

} // namespace

IAppHost &BuiltInAppHost() {
  static TWin32AppHost host;
  return host;
}

} // namespace quenlo

#endif // _WIN32
