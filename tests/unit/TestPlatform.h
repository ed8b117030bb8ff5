// Shared fixture: a fresh in-memory Windows for every test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "paths/uPaths.h"
#include "platform/PathText.h"
#include "platform/memory/MemoryPlatform.h"
#include "registry/uRegAccess.h"

namespace quenlo::test {

// Whether a folder's names hold a temporary file a replace left behind.
inline bool HasTemporaryFile(const std::vector<std::string> &names) {
  return std::any_of(names.begin(), names.end(), [](const std::string &name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0;
  });
}

class MemoryTest : public ::testing::Test {
protected:
  MemoryTest() { platform.Install(); }
  void SetUp() override { Reinit(); }
  // Recomputes the process-wide facts after a test changed the machine.
  void Reinit() {
    InitRegistryLayer();
    ResetSearchDirsForTests();
  }

  qp::mem::MemoryPlatform platform;
  qp::mem::MemoryRegistry &reg = platform.Reg();
  qp::mem::MemoryFileSystem &fs = platform.Fs();
  qp::mem::MemorySystem &sys = platform.Sys();
};

} // namespace quenlo::test
