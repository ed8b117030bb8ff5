#include "app/cli/uCliSettings.h"

#include "app/cli/uCliOptimize.h"
#include "service/uSettingsEdit.h"

namespace quenlo::cli {

int CommandSettings(const std::vector<std::string> &args, TCliStreams streams) {
  if (!args.empty() && args[0] == "optimize")
    return CommandOptimize(std::vector<std::string>(args.begin() + 1, args.end()), streams);
  if (args.size() == 3 && args[0] == "get") {
    std::string value, error;
    if (!service::GetSetting(args[1], args[2], value, error)) {
      streams.err << "quenlo-cli settings: " << error << "\n";
      return 1;
    }
    streams.out << value << "\n";
    return 0;
  }
  if (args.size() == 4 && args[0] == "set") {
    std::string error;
    if (!service::SetSetting(args[1], args[2], args[3], error)) {
      streams.err << "quenlo-cli settings: " << error << "\n";
      return 1;
    }
    return 0;
  }
  streams.err << "quenlo-cli settings: expected 'get SECTION KEY', 'set SECTION KEY VALUE' or "
                 "'optimize ...'\n";
  return 2;
}

} // namespace quenlo::cli
