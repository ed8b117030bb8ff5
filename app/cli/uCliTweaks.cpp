#include "app/cli/uCliTweaks.h"

#include <algorithm>
#include <charconv>

#include "app/uEnvironment.h"
#include "service/uTweaksRun.h"

namespace quenlo::cli {

namespace {

constexpr std::int32_t kLargestNumber = 0x7FFFFFFF;

// A decimal number of digits only (no sign), at most kLargestNumber.
bool ParseDigits(const std::string &text, std::int32_t &number) {
  if (text.empty() ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value > kLargestNumber)
    return false;
  number = static_cast<std::int32_t>(value);
  return true;
}

bool ParseId(const std::string &text, int &id) {
  std::int32_t number = 0;
  if (!ParseDigits(text, number) || number >= kTweakCount)
    return false;
  id = number;
  return true;
}

void PrintList(const std::vector<service::TTweakLine> &lines, bool json, std::ostream &out) {
  if (json) {
    out << "{\"tweaks\":[";
    bool first = true;
    for (const service::TTweakLine &line : lines) {
      out << (first ? "" : ",") << "{\"id\":" << line.id << ",\"name\":" << JsonString(line.name)
          << ",\"shown\":" << (line.shown ? "true" : "false")
          << ",\"ticked\":" << (line.ticked ? "true" : "false") << ",\"value\":" << line.value
          << ",\"numeric\":" << (line.numeric ? "true" : "false")
          << ",\"readFailed\":" << (line.readFailed ? "true" : "false")
          << ",\"kind\":" << static_cast<int>(line.restart) << "}";
      first = false;
    }
    out << "]}\n";
    return;
  }
  out << "id shown ticked value kind name\n";
  for (const service::TTweakLine &line : lines)
    out << line.id << " " << (line.shown ? "yes" : "no") << " " << (line.ticked ? "yes" : "no")
        << " " << line.value << " " << static_cast<int>(line.restart) << " " << line.name
        << (line.readFailed ? " (unreadable)" : "") << "\n";
}

// Prints what was written and what failed; 0 when nothing failed.
int PrintResult(const TTweakApplyResult &result, int windowsVersion, bool json,
                TCliStreams streams) {
  const TRestartKind restart = RestartKindOf(result.written);
  if (json) {
    streams.out << "{\"written\":[";
    for (std::size_t i = 0; i < result.written.size(); ++i)
      streams.out << (i ? "," : "") << "{\"id\":" << result.written[i] << ",\"name\":"
                  << JsonString(std::string(TweakName(result.written[i], windowsVersion))) << "}";
    streams.out << "],\"failed\":[";
    for (std::size_t i = 0; i < result.failed.size(); ++i)
      streams.out << (i ? "," : "") << "{\"id\":" << result.failed[i].id << ",\"name\":"
                  << JsonString(std::string(TweakName(result.failed[i].id, windowsVersion)))
                  << ",\"error\":" << JsonString(result.failed[i].errorText) << "}";
    streams.out << "],\"restart\":" << static_cast<int>(restart) << "}\n";
  } else {
    for (const int id : result.written)
      streams.out << "written " << id << " " << TweakName(id, windowsVersion) << "\n";
    if (restart == rkRestart)
      streams.out << "Windows must be restarted for the changes to take effect\n";
    else if (restart == rkLogOff)
      streams.out << "Log off or restart for the changes to take effect\n";
  }
  for (const TTweakFailure &failure : result.failed)
    streams.err << "quenlo-cli tweaks: " << failure.id << " "
                << TweakName(failure.id, windowsVersion) << " failed: " << failure.errorText
                << "\n";
  return result.failed.empty() ? 0 : 1;
}

} // namespace

int CommandTweaks(const std::vector<std::string> &args, TCliStreams streams) {
  std::vector<std::string> words;
  bool json = false;
  for (const std::string &arg : args) {
    if (arg == "--json")
      json = true;
    else
      words.push_back(arg);
  }
  const bool list = words.size() == 1 && words[0] == "list";
  const bool defaults = words.size() == 1 && words[0] == "defaults";
  const bool set = words.size() == 3 && words[0] == "set";
  if (!list && !defaults && !set) {
    streams.err << "quenlo-cli tweaks: expected 'list', 'set ID on|off|NUMBER' or 'defaults'\n";
    return 2;
  }
  service::TTweakRequest request;
  if (set) {
    if (!ParseId(words[1], request.id)) {
      streams.err << "quenlo-cli tweaks: '" << words[1] << "' is not a tweak number (0-23)\n";
      return 2;
    }
    std::int32_t number = 0;
    if (words[2] == "on" || words[2] == "off") {
      request.ticked = words[2] == "on";
    } else if (TweakDef(request.id).numeric && ParseDigits(words[2], number)) {
      request.number = number;
    } else {
      streams.err << "quenlo-cli tweaks: expected on, off"
                  << (TweakDef(request.id).numeric ? " or a number" : "") << " for tweak "
                  << request.id << ", not '" << words[2] << "'\n";
      return 2;
    }
  }

  InitEnvironment();
  const TTweakEnvironment env = service::CurrentTweakEnvironment();
  if (set && !TweakShown(request.id, env.windowsVersion)) {
    streams.err << "quenlo-cli tweaks: tweak " << request.id
                << " is not offered on this Windows version\n";
    return 2;
  }
  TSysTweakStore store(env, service::TweaksUndoFolder());
  if (list) {
    PrintList(service::ListTweaks(store, env), json, streams.out);
    return 0;
  }
  const TTweakApplyResult result =
      set ? service::SetTweak(store, env, request) : service::DefaultTweaks(store, env);
  return PrintResult(result, env.windowsVersion, json, streams);
}

} // namespace quenlo::cli
