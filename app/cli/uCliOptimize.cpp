#include "app/cli/uCliOptimize.h"

#include <algorithm>

#include "app/uEnvironment.h"
#include "service/uOptimizeRun.h"

namespace quenlo::cli {

namespace {

constexpr const char *kPrefix = "quenlo-cli settings optimize: ";

std::string JsonValue(TSysSettingId id, int value) {
  const std::string text = service::OptimizeValueText(id, value);
  return SysSettingDef(id).form == sfDecimal ? text : JsonString(text);
}

int Get(const std::vector<std::string> &names, bool json, TCliStreams streams) {
  std::vector<TSysSettingId> which;
  for (const std::string &name : names) {
    const auto id = SysSettingByName(name);
    if (!id) {
      streams.err << kPrefix << "no setting '" << name << "'\n";
      return 2;
    }
    which.push_back(*id);
  }
  const std::vector<service::TOptimizeValue> values = service::ReadOptimizeSettings(which);
  bool allRead = true;
  if (json)
    streams.out << "{";
  for (std::size_t i = 0; i < values.size(); ++i) {
    const service::TOptimizeValue &v = values[i];
    const char *name = SysSettingDef(v.id).name;
    if (json) {
      streams.out << (i ? "," : "") << JsonString(name)
                  << ":{\"value\":" << JsonValue(v.id, v.value)
                  << ",\"read\":" << (v.readOk ? "true" : "false");
      if (!v.readOk)
        streams.out << ",\"error\":" << JsonString(v.errorText);
      streams.out << "}";
    } else if (which.size() == 1) {
      streams.out << service::OptimizeValueText(v.id, v.value) << "\n";
    } else {
      streams.out << name << "\t" << service::OptimizeValueText(v.id, v.value) << "\n";
    }
    if (!v.readOk) {
      streams.err << kPrefix << name << " could not be read: " << v.errorText << "\n";
      allRead = false;
    }
  }
  if (json)
    streams.out << "}\n";
  return allRead ? 0 : 1;
}

int Set(const std::string &name, const std::string &text, bool json, TCliStreams streams) {
  const auto id = SysSettingByName(name);
  if (!id) {
    streams.err << kPrefix << "no setting '" << name << "'\n";
    return 2;
  }
  int value = 0;
  if (std::string error; !service::ParseOptimizeValue(*id, text, value, error)) {
    streams.err << kPrefix << error << "\n";
    return 2;
  }
  const service::TOptimizeSetResult result = service::SetOptimizeSetting(*id, value);
  if (json) {
    streams.out << "{\"name\":" << JsonString(SysSettingDef(*id).name)
                << ",\"value\":" << JsonValue(*id, value)
                << ",\"written\":" << (result.written ? "true" : "false");
    if (!result.written)
      streams.out << ",\"error\":" << JsonString(result.errorText);
    streams.out << "}\n";
  }
  if (!result.written) {
    streams.err << kPrefix << SysSettingDef(*id).name << " was not written: " << result.errorText
                << "\n";
    return 1;
  }
  if (!result.stampError.empty())
    streams.err << kPrefix << "the value was written, but the settings could not be saved: "
                << result.stampError << "\n";
  return 0;
}

} // namespace

int CommandOptimize(const std::vector<std::string> &args, TCliStreams streams) {
  std::vector<std::string> rest;
  bool json = false;
  for (const std::string &arg : args) {
    if (arg == "--json")
      json = true;
    else
      rest.push_back(arg);
  }
  if (rest.empty()) {
    streams.err << kPrefix << "expected 'get [NAME]...' or 'set NAME VALUE'\n";
    return 2;
  }
  InitEnvironment();
  if (rest[0] == "get")
    return Get(std::vector<std::string>(rest.begin() + 1, rest.end()), json, streams);
  if (rest[0] == "set" && rest.size() == 3)
    return Set(rest[1], rest[2], json, streams);
  streams.err << kPrefix << "expected 'get [NAME]...' or 'set NAME VALUE'\n";
  return 2;
}

} // namespace quenlo::cli
