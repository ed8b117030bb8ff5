// IRegistry over the wide advapi32 registry API. Value data passes through
// unchanged (raw bytes as stored).
#pragma once

#include "platform/Platform.h"

namespace qp::win32 {

class Win32Registry final : public IRegistry {
public:
  Win32Registry();

  long OpenKey(HKey parent, std::string_view subKey, std::uint32_t sam, HKey &out) override;
  long CreateKey(HKey parent, std::string_view subKey, std::uint32_t sam, HKey &out,
                 std::uint32_t *disposition) override;
  long CloseKey(HKey key) override;
  long QueryInfoKey(HKey key, KeyInfo &info) override;
  long EnumKey(HKey key, std::uint32_t index, std::uint32_t nameCapacity,
               std::string &name) override;
  long EnumValue(HKey key, std::uint32_t index, std::uint32_t nameCapacity,
                 std::uint32_t dataCapacity, std::string &name, std::uint32_t &type,
                 Bytes &data) override;
  long QueryValue(HKey key, std::string_view name, std::uint32_t *type, Bytes *data,
                  std::uint32_t *size) override;
  long SetValue(HKey key, std::string_view name, std::uint32_t type, const Bytes &data) override;
  long DeleteValue(HKey key, std::string_view name) override;
  long DeleteKey(HKey parent, std::string_view subKey) override;
  bool HasDeleteKeyEx() const override;
  long DeleteKeyEx(HKey parent, std::string_view subKey, std::uint32_t viewFlag) override;
  bool HasQueryReflectionKey() const override;
  long QueryReflectionKey(HKey key, bool &reflectionDisabled) override;

  long NotifyChangeKeyValue(HKey key, bool watchSubtree, std::uint32_t filter,
                            std::unique_ptr<IChangeWatch> &watch) override;
  // NtQueryKey(KeyNameInformation); ERROR_CALL_NOT_IMPLEMENTED where ntdll
  // does not export it.
  long QueryKeyName(HKey key, std::string &kernelPath) override;
  long SaveKey(HKey key, std::string_view file) override;
  long ReplaceKey(HKey key, std::string_view subKey, std::string_view newFile,
                  std::string_view oldFile) override;
  [[nodiscard]] long LoadKey(HKey key, std::string_view subKey, std::string_view file) override;
  [[nodiscard]] long UnLoadKey(HKey key, std::string_view subKey) override;
  long GetKeySecurity(HKey key, std::uint32_t securityInfo, std::string &sddl) override;
  long SetKeySecurity(HKey key, std::uint32_t securityInfo, std::string_view sddl) override;

private:
  // Entry points looked up in advapi32 at construction; null when missing.
  void (*deleteKeyEx_)() = nullptr;
  void (*queryReflectionKey_)() = nullptr;
};

} // namespace qp::win32
