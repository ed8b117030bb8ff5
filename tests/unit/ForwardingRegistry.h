// A registry that passes every call to another one, for tests that hook a
// few calls of the in-memory model (derive and override those), and the
// platform that puts such a registry in front of the model while it lives.
#pragma once

#include "platform/Platform.h"
#include "platform/memory/MemoryPlatform.h"

namespace quenlo::test {

class TForwardingRegistry : public qp::IRegistry {
public:
  explicit TForwardingRegistry(qp::IRegistry &inner) : inner_(inner) {}

  long OpenKey(qp::HKey parent, std::string_view subKey, std::uint32_t sam,
               qp::HKey &out) override {
    return inner_.OpenKey(parent, subKey, sam, out);
  }
  long CreateKey(qp::HKey parent, std::string_view subKey, std::uint32_t sam, qp::HKey &out,
                 std::uint32_t *disposition) override {
    return inner_.CreateKey(parent, subKey, sam, out, disposition);
  }
  long CloseKey(qp::HKey key) override { return inner_.CloseKey(key); }
  long QueryInfoKey(qp::HKey key, qp::KeyInfo &info) override {
    return inner_.QueryInfoKey(key, info);
  }
  long EnumKey(qp::HKey key, std::uint32_t index, std::uint32_t capacity,
               std::string &name) override {
    return inner_.EnumKey(key, index, capacity, name);
  }
  long EnumValue(qp::HKey key, std::uint32_t index, std::uint32_t nameCapacity,
                 std::uint32_t dataCapacity, std::string &name, std::uint32_t &type,
                 qp::Bytes &data) override {
    return inner_.EnumValue(key, index, nameCapacity, dataCapacity, name, type, data);
  }
  long QueryValue(qp::HKey key, std::string_view name, std::uint32_t *type, qp::Bytes *data,
                  std::uint32_t *size) override {
    return inner_.QueryValue(key, name, type, data, size);
  }
  long SetValue(qp::HKey key, std::string_view name, std::uint32_t type,
                const qp::Bytes &data) override {
    return inner_.SetValue(key, name, type, data);
  }
  long DeleteValue(qp::HKey key, std::string_view name) override {
    return inner_.DeleteValue(key, name);
  }
  long DeleteKey(qp::HKey parent, std::string_view subKey) override {
    return inner_.DeleteKey(parent, subKey);
  }
  bool HasDeleteKeyEx() const override { return inner_.HasDeleteKeyEx(); }
  long DeleteKeyEx(qp::HKey parent, std::string_view subKey, std::uint32_t view) override {
    return inner_.DeleteKeyEx(parent, subKey, view);
  }
  bool HasQueryReflectionKey() const override { return inner_.HasQueryReflectionKey(); }
  long QueryReflectionKey(qp::HKey key, bool &disabled) override {
    return inner_.QueryReflectionKey(key, disabled);
  }
  long NotifyChangeKeyValue(qp::HKey key, bool subtree, std::uint32_t filter,
                            std::unique_ptr<qp::IChangeWatch> &watch) override {
    return inner_.NotifyChangeKeyValue(key, subtree, filter, watch);
  }
  long QueryKeyName(qp::HKey key, std::string &name) override {
    return inner_.QueryKeyName(key, name);
  }
  long SaveKey(qp::HKey key, std::string_view file) override { return inner_.SaveKey(key, file); }
  long ReplaceKey(qp::HKey key, std::string_view subKey, std::string_view newFile,
                  std::string_view oldFile) override {
    return inner_.ReplaceKey(key, subKey, newFile, oldFile);
  }
  long LoadKey(qp::HKey key, std::string_view subKey, std::string_view file) override {
    return inner_.LoadKey(key, subKey, file);
  }
  long UnLoadKey(qp::HKey key, std::string_view subKey) override {
    return inner_.UnLoadKey(key, subKey);
  }
  long GetKeySecurity(qp::HKey key, std::uint32_t securityInfo, std::string &sddl) override {
    return inner_.GetKeySecurity(key, securityInfo, sddl);
  }
  long SetKeySecurity(qp::HKey key, std::uint32_t securityInfo, std::string_view sddl) override {
    return inner_.SetKeySecurity(key, securityInfo, sddl);
  }

protected:
  qp::IRegistry &inner_;
};

// Installs itself as the process's platform with THookRegistry as its registry
// (built over the model's), and puts the model back when it goes.
template <typename THookRegistry> class TForwardingPlatform final : public qp::IPlatform {
public:
  explicit TForwardingPlatform(qp::mem::MemoryPlatform &inner) : reg(inner.Reg()), inner_(inner) {
    qp::SetPlatform(this);
  }
  ~TForwardingPlatform() override { qp::SetPlatform(&inner_); }
  TForwardingPlatform(const TForwardingPlatform &) = delete;
  TForwardingPlatform &operator=(const TForwardingPlatform &) = delete;
  qp::IRegistry &Registry() override { return reg; }
  qp::IFileSystem &Files() override { return inner_.Files(); }
  qp::ISystem &System() override { return inner_.System(); }
  qp::IProcesses &Processes() override { return inner_.Processes(); }
  qp::IDesktop &Desktop() override { return inner_.Desktop(); }

  THookRegistry reg;

private:
  qp::mem::MemoryPlatform &inner_;
};

} // namespace quenlo::test
