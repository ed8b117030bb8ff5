// A machine with one real hive of the model for the defragmenter's tests:
// HKU\.DEFAULT loaded from "C:\Windows\System32\config\DEFAULT" and named in
// the hive list, with a file that has room to spare - it was saved with a
// large value the live hive has since lost, as a hive file keeps the space
// of what was deleted - so that a fresh save comes out smaller. The hive
// clock is fixed; a test puts the system's back with SetHiveClock({}).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "optimizer/uHiveBackup.h"
#include "platform/ScopedKey.h"
#include "platform/memory/MemoryPlatform.h"

namespace quenlo::test {

inline void SeedDefragHives(qp::mem::MemoryPlatform &platform) {
  using qp::mem::View;
  constexpr const char *kHive = "C:\\Windows\\System32\\config\\DEFAULT";
  constexpr const char *kHiveList = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\hivelist";
  qp::mem::MemoryRegistry &reg = platform.Reg();
  qp::mem::MemorySystem &sys = platform.Sys();
  reg.SetString(View::V64, "HKLM\\SOFTWARE\\Microsoft\\Cryptography", "MachineGuid",
                "0f4c2a9e-1d3b-4c5a-9e8f-7a6b5c4d3e2f");
  TUndoTime at;
  at.year = 2026;
  at.month = 12;
  at.day = 9;
  at.hour = 10;
  at.fileTime = 134100000000000000ull;
  SetHiveClock([at] { return at; });

  const std::string seed = "HKLM\\QuenloDefragSeed";
  ASSERT_TRUE(reg.CreateKey(View::Phys, seed + "\\Control Panel"));
  ASSERT_TRUE(reg.SetString(View::Phys, seed + "\\Software", "Filler", std::string(20000, 'x')));
  platform.Fs().AddDir("C:\\Windows\\System32\\config");
  ASSERT_EQ(sys.SetPrivilege("SeBackupPrivilege", true, nullptr), 0);
  ASSERT_EQ(sys.SetPrivilege("SeRestorePrivilege", true, nullptr), 0);
  {
    qp::ScopedKey key;
    ASSERT_EQ(platform.Registry().OpenKey(wc::HkeyLocalMachine, "QuenloDefragSeed", wc::KeyRead,
                                          key.Out()),
              0);
    ASSERT_EQ(platform.Registry().SaveKey(key.Get(), kHive), 0);
  }
  ASSERT_TRUE(reg.DeleteTree(View::Phys, seed));
  reg.DeleteTree(View::Phys, "HKU\\.DEFAULT"); // the model's stand-in gives way
  ASSERT_EQ(platform.Registry().LoadKey(wc::HkeyUsers, ".DEFAULT", kHive), 0);
  ASSERT_EQ(sys.SetPrivilege("SeRestorePrivilege", false, nullptr), 0);
  ASSERT_EQ(sys.SetPrivilege("SeBackupPrivilege", false, nullptr), 0);
  ASSERT_TRUE(reg.CreateKey(View::V64, kHiveList));
  ASSERT_TRUE(reg.SetString(View::V64, kHiveList, "\\REGISTRY\\USER\\.DEFAULT",
                            "\\Device\\HarddiskVolume2\\Windows\\System32\\config\\DEFAULT"));
  // The live hive no longer holds the large value; its file still does.
  qp::ScopedKey software;
  ASSERT_EQ(platform.Registry().OpenKey(wc::HkeyUsers, ".DEFAULT\\Software",
                                        wc::KeyRead | wc::KeySetValue, software.Out()),
            0);
  ASSERT_EQ(platform.Registry().DeleteValue(software.Get(), "Filler"), 0);
}

} // namespace quenlo::test
