// The shared registry tests against the Win32 layer: under Wine with Wine's
// facts, on Windows with Windows 7's.
#include "platform/Platform.h"
#include "tests/conformance/RegistryConformance.h"
#include "tests/wine/WineTestSupport.h"

namespace conformance {

namespace {

// The process-wide Win32 platform that wine_main installs.
class Win32Subject final : public RegistrySubject {
public:
  qp::IPlatform &Platform() override { return qp::Platform(); }
  // Wine's server sets the event while it handles the change; the margin
  // covers a busy machine.
  std::uint32_t QuietMs() const override { return 100; }
  bool SimulateReboot() override { return false; }
};

std::vector<RegistryRunner> Runners() {
  const bool wine = quenlo_wine::RunningOnWine();
  return {{wine ? "Wine" : "Windows", wine ? WineFacts() : Windows7Facts(),
           [] { return std::make_unique<Win32Subject>(); }}};
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Win32, RegistryConformance, testing::ValuesIn(Runners()), RunnerName);
INSTANTIATE_TEST_SUITE_P(Win32, ThreadedRegistryNotification, testing::ValuesIn(Runners()),
                         RunnerName);

} // namespace conformance
