// The plan for showing a key in the system's registry editor, without
// touching a window: which key and value the name means, which view holds
// the key, which editor to start and the keystrokes that walk its tree to
// the key. The Win32 side carries the plan out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/uRegAccess.h"

namespace quenlo {

inline constexpr std::uint32_t kVkHome = 36;
inline constexpr std::uint32_t kVkLeft = 37;
inline constexpr std::uint32_t kVkRight = 39;
// Enough VK_LEFT presses to collapse any tree the editor shows to its top.
inline constexpr int kCollapseKeyCount = 513;
// The lParam of the characters typed into the value list.
inline constexpr std::uint32_t kValueCharLParam = 30;
inline constexpr std::uint32_t kValueListWaitMs = 1000;
inline constexpr std::uint32_t kEditorIdleWaitMs = 200;
inline constexpr const char *kEditorWindowClass = "RegEdit_RegEdit";
inline constexpr const char *kEditor = "Regedit.exe";
// Expanded by the caller into TShowKeyEnvironment::sysWow64Editor.
inline constexpr const char *kSysWow64EditorTemplate = "%systemroot%\\Syswow64\\Regedit.exe";

struct TShowKeyName {
  std::uint32_t root = 0;
  std::string keyPath;   // without the root
  std::string typedName; // long root name + "\" + key path
  bool hasValue = false;
  std::string valueName;
};

// "ROOT\path" optionally followed by "\\:" and a value name. False without
// a backslash or with a root name that names no root.
[[nodiscard]] bool ParseShowKeyName(std::string_view name, TShowKeyName &out);

enum TKeyStrokeKind : std::uint8_t { ksKeyDown = 0, ksChar = 1 };

struct TKeyStroke {
  TKeyStrokeKind kind = ksKeyDown;
  std::uint32_t code = 0; // virtual key, or a UTF-16 code unit for ksChar
  bool operator==(const TKeyStroke &) const = default;
};

struct TShowKeyEnvironment {
  bool onWow64 = false;
  std::string sysWow64Editor; // kSysWow64EditorTemplate, expanded
  std::function<bool(std::uint32_t root, TRegistryView view, std::string_view path)> keyExists =
      [](std::uint32_t root, TRegistryView view, std::string_view path) {
        return KeyExists(root, view, path);
      };
  std::function<bool(std::string_view path)> fileExists = [](std::string_view path) {
    return FileExistsNoRedirect(path);
  };
};

struct TShowKeyPlan {
  bool ok = false; // false: the key exists in neither view; send nothing
  TShowKeyName name;
  TRegistryView view = rv32;
  std::string editor;
  // The 32-bit editor from SysWow64: an open editor window is closed first,
  // so that the one started is that editor.
  bool closeOpenEditor = false;
  std::vector<TKeyStroke> treeKeys; // to the tree ("SysTreeView32")
  std::vector<TKeyStroke> listKeys; // to the value list, after the wait; empty without a value
};

TShowKeyPlan PlanShowKey(std::string_view name, const TShowKeyEnvironment &env);

} // namespace quenlo
