// The shared registry tests against the in-memory model, once as Wine (the
// layout and quirks of a 64-bit Wine prefix) and once as Windows 7.
#include "platform/memory/MemoryPlatform.h"
#include "tests/conformance/RegistryConformance.h"

namespace conformance {

namespace {

class ModelSubject final : public RegistrySubject {
public:
  ModelSubject(qp::mem::Wow64Layout layout, const qp::mem::RegistryQuirks &quirks) {
    platform_.Reg().SetLayout(layout);
    platform_.Reg().SetQuirks(quirks);
    platform_.Install();
  }
  qp::IPlatform &Platform() override { return platform_; }
  // The model signals before the change returns.
  std::uint32_t QuietMs() const override { return 0; }
  bool SimulateReboot() override {
    platform_.Reg().SimulateReboot();
    return true;
  }

private:
  qp::mem::MemoryPlatform platform_;
};

std::vector<RegistryRunner> Runners() {
  return {{"Wine", WineFacts(),
           [] {
             return std::make_unique<ModelSubject>(qp::mem::Wow64Layout::Wine,
                                                   qp::mem::RegistryQuirks::Wine());
           }},
          {"Windows7", Windows7Facts(), [] {
             return std::make_unique<ModelSubject>(qp::mem::Wow64Layout::Windows7,
                                                   qp::mem::RegistryQuirks::Windows7());
           }}};
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Model, RegistryConformance, testing::ValuesIn(Runners()), RunnerName);
INSTANTIATE_TEST_SUITE_P(ThreadedModel, ThreadedRegistryNotification, testing::ValuesIn(Runners()),
                         RunnerName);

} // namespace conformance
