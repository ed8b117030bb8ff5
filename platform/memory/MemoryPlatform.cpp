// The in-memory machine: a Windows 7 SP1 x64 installation as a fresh user
// account sees it, with the folders, programs and keys the core relies on.
#include "platform/memory/MemoryPlatform.h"

namespace qp::mem {

MemoryPlatform::MemoryPlatform()
    : sys_(std::make_unique<MemorySystem>()), reg_(std::make_unique<MemoryRegistry>(*sys_)),
      fs_(std::make_unique<MemoryFileSystem>(*sys_)), procs_(std::make_unique<MemoryProcesses>()),
      desktop_(std::make_unique<MemoryDesktop>()) {
  for (const char *file :
       {"C:\\Windows\\notepad.exe", "C:\\Windows\\regedit.exe", "C:\\Windows\\explorer.exe"})
    fs_->AddFile(file, "MZ");
  for (const char *name : {"notepad.exe", "rundll32.exe", "shell32.dll", "cmd.exe", "svchost.exe",
                           "msiexec.exe", "kernel32.dll"})
    fs_->AddFile(std::string("C:\\Windows\\System32\\") + name, "MZ");
  for (const char *name :
       {"notepad.exe", "rundll32.exe", "shell32.dll", "cmd.exe", "kernel32.dll", "regedit.exe"})
    fs_->AddFile(std::string("C:\\Windows\\SysWOW64\\") + name, "MZ");
  for (const char *dir :
       {"C:\\Program Files", "C:\\Program Files\\Common Files", "C:\\Program Files (x86)",
        "C:\\Program Files (x86)\\Common Files", "C:\\ProgramData", "C:\\Users\\Public",
        "C:\\Users\\user\\AppData\\Local\\Temp", "C:\\Windows\\System32\\drivers\\etc",
        "C:\\Windows\\System32\\Wbem"})
    fs_->AddDir(dir);
  for (int csidl = 0; csidl < 0x40; ++csidl) {
    std::string folder;
    if (sys_->GetSpecialFolder(csidl, false, folder))
      fs_->AddDir(folder);
  }

  reg_->AttachFileSystem(*fs_);
  std::string sid;
  sys_->GetUserSid(sid);
  for (const char *key :
       {"HKLM\\SOFTWARE\\Classes", "HKLM\\SOFTWARE\\Wow6432Node",
        "HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID",
        "HKLM\\SOFTWARE\\Classes\\Wow6432Node\\Interface",
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
        "HKLM\\SYSTEM\\CurrentControlSet\\Control",
        "HKLM\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current", "HKU\\.DEFAULT"})
    reg_->CreateKey(View::Phys, key);
  reg_->CreateKey(View::Phys, "HKU\\" + sid + "\\Software\\Classes");
}

MemoryPlatform::~MemoryPlatform() {
  if (installed_)
    SetPlatform(previous_);
}

IRegistry &MemoryPlatform::Registry() {
  return *reg_;
}
IFileSystem &MemoryPlatform::Files() {
  return *fs_;
}
ISystem &MemoryPlatform::System() {
  return *sys_;
}
IProcesses &MemoryPlatform::Processes() {
  return *procs_;
}
IDesktop &MemoryPlatform::Desktop() {
  return *desktop_;
}

void MemoryPlatform::Install() {
  if (!installed_)
    previous_ = HasPlatform() ? &Platform() : nullptr;
  installed_ = true;
  SetPlatform(this);
}

} // namespace qp::mem
