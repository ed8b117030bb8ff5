#include "app/pages/uHelpTopics.h"

namespace quenlo {

namespace {

// Text that means one thing inside double quotes on a command line.
bool Quotable(const std::string &text) {
  return !text.empty() && text.find_first_of("\"\r\n") == std::string::npos;
}

} // namespace

std::string HelpTopicFor(const THelpContext &context) {
  switch (context.page) {
  case pgStatus:
    return kHelpTopicStatus;
  case pgScan:
    return kHelpTopicScan;
  case pgResults:
    return kHelpTopicResults;
  case pgReport:
    return kHelpTopicReport;
  case pgOptimizer:
    return kHelpTopicOptimizer;
  case pgMonitor:
    return kHelpTopicMonitor;
  case pgRestore:
    return kHelpTopicRestore;
  case pgHistory:
    return kHelpTopicHistory;
  case pgSettings:
    return context.monitorTab ? kHelpTopicSettingsMonitor : kHelpTopicSettings;
  case pgNone:
    break;
  }
  return kHelpTopicGettingStarted;
}

std::string HelpViewerCommandLine(const std::string &viewer, const std::string &chmFile,
                                  const std::string &topic) {
  if (!Quotable(viewer) || !Quotable(chmFile) || !Quotable(topic))
    return {};
  return "\"" + viewer + "\" \"" + chmFile + "::/" + topic + "\"";
}

} // namespace quenlo
