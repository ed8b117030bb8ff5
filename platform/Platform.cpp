#include "platform/Platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace qp {

namespace {
std::atomic<IPlatform *> g_platform{nullptr};
}

IPlatform &Platform() {
  IPlatform *p = g_platform.load(std::memory_order_acquire);
  if (p == nullptr) {
    std::fputs("quenlo: no platform set\n", stderr);
    std::abort();
  }
  return *p;
}

void SetPlatform(IPlatform *platform) {
  g_platform.store(platform, std::memory_order_release);
}

bool HasPlatform() {
  return g_platform.load(std::memory_order_acquire) != nullptr;
}

long IRegistry::NotifyChangeKeyValue(HKey, bool, std::uint32_t, std::unique_ptr<IChangeWatch> &) {
  return wc::ErrorCallNotImplemented;
}
long IRegistry::QueryKeyName(HKey, std::string &kernelPath) {
  kernelPath.clear();
  return wc::ErrorCallNotImplemented;
}
long IRegistry::SaveKey(HKey, std::string_view) {
  return wc::ErrorCallNotImplemented;
}
long IRegistry::ReplaceKey(HKey, std::string_view, std::string_view, std::string_view) {
  return wc::ErrorCallNotImplemented;
}
long IRegistry::LoadKey(HKey, std::string_view, std::string_view) {
  return wc::ErrorCallNotImplemented;
}
long IRegistry::UnLoadKey(HKey, std::string_view) {
  return wc::ErrorCallNotImplemented;
}
long IRegistry::GetKeySecurity(HKey, std::uint32_t, std::string &) {
  return wc::ErrorCallNotImplemented;
}
long IRegistry::SetKeySecurity(HKey, std::uint32_t, std::string_view) {
  return wc::ErrorCallNotImplemented;
}

} // namespace qp
