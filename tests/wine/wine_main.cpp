// Entry point of the integration tests that run under Wine: the real Win32
// platform is the process-wide platform for every test.
#include <gtest/gtest.h>

#include "platform/win32/Win32Platform.h"

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  qp::win32::InstallWin32Platform();
  return RUN_ALL_TESTS();
}
