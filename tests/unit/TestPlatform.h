// Shared fixture: a fresh in-memory Windows for every test.
#pragma once

#include <gtest/gtest.h>

#include "paths/uPaths.h"
#include "platform/memory/MemoryPlatform.h"
#include "registry/uRegAccess.h"

namespace quenlo::test {

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
