// One body of registry tests that every IRegistry must pass: the in-memory
// model (in the unit tests, once as Wine and once as Windows 7) and the
// Win32 layer (in the Wine tests, against Wine's registry). A difference
// between the model and the real registry therefore fails a test.
//
// Where Windows and Wine answer differently the body reads the answer from
// RegistryFacts, which each runner fills in with the facts of the system it
// stands for; the model has a matching switch (mem::RegistryQuirks) but the
// facts are written down here on their own, never taken from the model.
//
// Every test works below HKCU\Software\QuenloConformance and
// HKLM\Software\QuenloConformance, a few named keys in shared places (see
// RegistryConformance.cpp), the mount point QuenloConformanceHive below
// HKLM and HKU and files named quenlo-conformance-* in the temp folder; the
// fixture removes them before and after each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "platform/Platform.h"

namespace conformance {

struct RegistryFacts {
  // RegEnumValue lists values sorted by name; else in creation order.
  bool valuesListedByName = false;
  // Subkeys sort by their lower-cased names; else by the upper-cased ones.
  bool subkeysSortLowerCase = false;
  // The longest key name accepted, in UTF-16 units.
  std::uint32_t longestKeyName = 0;
  // Both view bits at once open the 32-bit view; else they answer 87.
  bool bothViewBitsMean32 = false;
  // CreateKey needs KEY_CREATE_SUB_KEY on the parent handle.
  bool createNeedsParentRight = false;
  // DeleteKey needs DELETE by the key's DACL.
  bool deleteNeedsDeleteRight = false;
  // HKLM\Software\Classes\<file type> is one key for both views.
  bool fileTypesShared = false;
  // HKCU\Software\Classes\CLSID has a 32-bit view of its own.
  bool userClsidRedirected = false;
  // HKCR shows HKCU\Software\Classes merged over HKLM\Software\Classes.
  bool classesRootMergesUser = false;
  // Deleting a watched key signals its watch.
  bool watchedKeyDeleteSignals = false;
  // SetKeySecurity signals REG_NOTIFY_CHANGE_SECURITY watches.
  bool securityChangeSignals = false;
  // SaveKey onto an existing file replaces it; else 183.
  bool saveOverwrites = false;
  // LoadKey mounts below any key; else only as a subkey of HKLM or HKU (87).
  bool loadBelowAnyKey = false;
  // Changes to a loaded hive are in its file after UnLoadKey.
  bool loadedHiveWritesBack = false;
  // LoadKey of a file that is no hive leaves an empty hive mounted.
  bool failedLoadLeavesHive = false;
  // ReplaceKey answers 0 and changes nothing.
  bool replaceIsStub = false;
};

// Wine 8 in a 64-bit prefix, as measured by the Wine tests.
RegistryFacts WineFacts();
// 64-bit Windows 7 SP1, from Microsoft's documentation of the functions
// and of WOW64's registry redirection.
RegistryFacts Windows7Facts();

// What a test runs against. While it lives, its platform is the
// process-wide one, so that qp::ScopedKey closes through it.
class RegistrySubject {
public:
  virtual ~RegistrySubject() = default;
  virtual qp::IPlatform &Platform() = 0;
  // How long a watch is given to show that a change did not signal it: 0
  // where signals are set before the change returns.
  virtual std::uint32_t QuietMs() const = 0;
  // Restarts the machine (pending ReplaceKey calls take effect, every
  // handle is closed); false where that cannot be done.
  virtual bool SimulateReboot() = 0;
};

struct RegistryRunner {
  std::string name; // also the test name suffix
  RegistryFacts facts;
  std::function<std::unique_ptr<RegistrySubject>()> make;
};

void PrintTo(const RegistryRunner &runner, std::ostream *out);
std::string RunnerName(const testing::TestParamInfo<RegistryRunner> &info);

class RegistryConformance : public testing::TestWithParam<RegistryRunner> {
protected:
  void SetUp() override;
  void TearDown() override;

  qp::IRegistry &reg() { return subject_->Platform().Registry(); }
  qp::ISystem &sys() { return subject_->Platform().System(); }
  qp::IFileSystem &files() { return subject_->Platform().Files(); }
  const RegistryFacts &facts() const { return GetParam().facts; }
  RegistrySubject &subject() { return *subject_; }

private:
  void RemoveEverythingTheTestsMake();
  std::unique_ptr<RegistrySubject> subject_;
};

// The same fixture for the tests that wait on worker threads; the thread
// sanitizer build runs the suites whose names start with "Threaded".
class ThreadedRegistryNotification : public RegistryConformance {};

} // namespace conformance
