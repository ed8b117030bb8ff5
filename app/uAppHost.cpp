#include "app/uAppHost.h"

#include <atomic>
#include <chrono>
#include <ctime>

namespace quenlo {

TLocalTime IAppHost::Now() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return TLocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                    local.tm_hour,        local.tm_min,     local.tm_sec};
}

#ifndef _WIN32
namespace {
// Outside Windows there is no executable resource and no shell.
class TNullAppHost : public IAppHost {
public:
  std::string ExePath() override { return {}; }
  qp::Bytes VersionResource() override { return {}; }
  bool CreateShellLink(std::string_view, std::string_view, std::string_view,
                       std::string_view) override {
    return false;
  }
};
} // namespace

IAppHost &BuiltInAppHost() {
  static TNullAppHost host;
  return host;
}
#else
IAppHost &BuiltInAppHost(); // uAppHostWin32.cpp
#endif

namespace {
std::atomic<IAppHost *> g_host{nullptr};
}

IAppHost &AppHost() {
  IAppHost *host = g_host.load(std::memory_order_acquire);
  return host != nullptr ? *host : BuiltInAppHost();
}

void SetAppHost(IAppHost *host) {
  g_host.store(host, std::memory_order_release);
}

} // namespace quenlo
