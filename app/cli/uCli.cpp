#include "app/cli/uCli.h"

#include <cstdio>

#include "app/cli/uCliClean.h"
#include "app/cli/uCliHives.h"
#include "app/cli/uCliMonitor.h"
#include "app/cli/uCliRepair.h"
#include "app/cli/uCliScan.h"
#include "app/cli/uCliSettings.h"
#include "app/cli/uCliTweaks.h"
#include "app/cli/uCliUndo.h"

namespace quenlo::cli {

namespace {

constexpr const char *kUsage =
    "usage: quenlo-cli <command> [options]\n"
    "\n"
    "commands:\n"
    "  scan [--category N]... [--json] [--no-ignore]\n"
    "      Scans the registry. N is a category number (0-23) or its settings\n"
    "      name (for example DeepScan); without --category the categories\n"
    "      switched on in the settings are scanned. --json prints one JSON\n"
    "      object on standard output; --no-ignore scans without the ignore\n"
    "      lists (skipped keys, permanent keys and the ignore file).\n"
    "  repair [--category N]... [--test-id N]... [--json]\n"
    "      Scans like scan, then repairs the findings of the given categories\n"
    "      and test numbers (all without filters), saving each change first in\n"
    "      the undo folder. Exit code 0 when every selected repair succeeded.\n"
    "  undo days | undo entries DAY | undo restore DAY [ENTRY]... | undo purge\n"
    "      Lists the days with undo backups and their keys, plays backups back\n"
    "      (all of the day, or the named keys; newest first), or, with\n"
    "      DeleteAfterWeek set, moves days older than a week to the recycle bin\n"
    "      (a day whose index date cannot be read is kept).\n"
    "  hives backup FOLDER | hives compare FOLDER | hives restore FOLDER [--json]\n"
    "      Saves every loaded hive to FOLDER (made with an access list for\n"
    "      Administrators and SYSTEM only), compares its copies with the live\n"
    "      hives, or checks every copy and hands it to Windows to load at the\n"
    "      next restart. Exit code 0 only when every hive was saved or\n"
    "      replaced (each hive left out is named with its reason).\n"
    "  hives full-backup | hives full-restore [--json]\n"
    "      The settings page's full registry backup in the settings folder: a\n"
    "      new one replaces the last only when every hive was saved; the restore\n"
    "      works on a copy and is refused until Windows restarted after the last.\n"
    "  settings get SECTION KEY | settings set SECTION KEY VALUE\n"
    "      Reads or changes one key of the settings file.\n"
    "  settings optimize get [NAME]... [--json] | settings optimize set NAME VALUE [--json]\n"
    "      Reads or changes the system settings of the optimizer page: MenuShowDelay\n"
    "      (0-4000 ms), WaitToKillAppTimeout and WaitToKillServiceTimeout (0-60\n"
    "      seconds), BootOptimization and AutoEndTasks (on or off). Each change is\n"
    "      saved first in the undo folder; exit code 0 when it was written.\n"
    "  tweaks list | tweaks set ID on|off|NUMBER | tweaks defaults  [--json]\n"
    "      Lists the system tweaks (number, shown on this Windows version,\n"
    "      ticked, value, restart kind 0 none / 1 restart / 2 log off, name),\n"
    "      sets one (the delays and the Start Screen rows also take a number)\n"
    "      or puts every shown tweak back to its OS default, each change saved\n"
    "      first in the undo folder. Exit code 1 names each tweak not written.\n"
    "  monitor [--key KEY]... [--seconds N] [--json]\n"
    "      Watches registry keys (each --key, for example\n"
    "      HKEY_CURRENT_USER\\Software\\Quenlo; without --key the monitored keys\n"
    "      of the settings) and prints one line per change as it happens: time,\n"
    "      action, changed path and, for values, name, type and old -> new data.\n"
    "      --json prints one JSON object per line instead; errors also come as\n"
    "      lines {\"error\":...}. Runs N seconds (1-86400) or until Ctrl+C; exit\n"
    "      code 0 when it ran to its end or was stopped, 1 when no key could be\n"
    "      watched.\n"
    "  clean analyze [--category N]... [--json]\n"
    "  clean run [--category N]... [--delete-downloaded-files] [--json]\n"
    "      The history cleaner: analyze lists what a clean would remove (and\n"
    "      changes nothing), run removes it and checks with a second analysis.\n"
    "      N is a category number (0-42) or its settings name (for example\n"
    "      TempFiles); without --category the categories selected in the\n"
    "      settings. The download history categories delete the downloaded\n"
    "      files themselves only with --delete-downloaded-files. Per\n"
    "      category: its outcome, the items with their sizes, what was kept,\n"
    "      skipped and what failed, with the reasons. --json prints one\n"
    "      JSON object. Exit code 0 only when every category was done.\n"
    "  help\n"
    "      Shows this text.\n";

} // namespace

std::string JsonString(const std::string &text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
    case '"':
      out += "\\\"";
      continue;
    case '\\':
      out += "\\\\";
      continue;
    case '\n':
      out += "\\n";
      continue;
    case '\r':
      out += "\\r";
      continue;
    case '\t':
      out += "\\t";
      continue;
    default:
      break;
    }
    char buf[8];
    if (c < 0x20) {
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else if (c == 0xED && i + 2 < text.size() &&
               (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0xA0) {
      // A surrogate code point on its own: not valid UTF-8, so escape it.
      const unsigned cp = ((c & 0x0Fu) << 12) |
                          ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
                          (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
      std::snprintf(buf, sizeof buf, "\\u%04x", cp);
      out += buf;
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  return out;
}

int RunCli(const std::vector<std::string> &args, TCliStreams streams) {
  if (args.empty()) {
    streams.err << kUsage;
    return 2;
  }
  const std::string &command = args.front();
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "help" || command == "--help" || command == "-h") {
    streams.out << kUsage;
    return 0;
  }
  if (command == "scan") {
    const int code = CommandScan(rest, streams);
    if (code == 2)
      streams.err << kUsage;
    return code;
  }
  if (command == "repair") {
    const int code = CommandRepair(rest, streams);
    if (code == 2)
      streams.err << kUsage;
    return code;
  }
  if (command == "undo") {
    const int code = CommandUndo(rest, streams);
    if (code == 2)
      streams.err << kUsage;
    return code;
  }
  if (command == "hives") {
    const int code = CommandHives(rest, streams);
    if (code == 2)
      streams.err << kUsage;
    return code;
  }
  if (command == "tweaks") {
    const int code = CommandTweaks(rest, streams);
    if (code == 2)
      streams.err << kUsage;
    return code;
  }
  if (command == "monitor") {
    const int code = CommandMonitor(rest, streams);
    if (code == 2)
      streams.err << kUsage;
    return code;
  }
  if (command == "clean") {
    const int code = CommandClean(rest, streams);
    if (code == 2)
      streams.err << kUsage;
    return code;
  }
  if (command == "settings") {
    const int code = CommandSettings(rest, streams);
    if (code == 2)
      streams.err << kUsage;
    return code;
  }
  streams.err << "quenlo-cli: unknown command '" << command << "'\n" << kUsage;
  return 2;
}

} // namespace quenlo::cli
