// The help's topics: which page of the compiled help ("quenlo.chm", built
// from docs/help) belongs to each page of the main window, and the command
// line that asks the system's HTML Help viewer for one of them.
#pragma once

#include <string>

#include "app/pages/uPages.h"

namespace quenlo {

// The help's own pages, as file names inside the compiled help.
inline constexpr const char *kHelpTopicGettingStarted = "getting_started.htm";
inline constexpr const char *kHelpTopicStatus = "status.htm";
inline constexpr const char *kHelpTopicScan = "scan.htm";
inline constexpr const char *kHelpTopicResults = "results.htm";
inline constexpr const char *kHelpTopicReport = "results.htm#report";
inline constexpr const char *kHelpTopicOptimizer = "optimizer.htm";
inline constexpr const char *kHelpTopicMonitor = "monitor.htm";
inline constexpr const char *kHelpTopicRestore = "restore.htm";
inline constexpr const char *kHelpTopicHistory = "history.htm";
inline constexpr const char *kHelpTopicSettings = "settings.htm";
inline constexpr const char *kHelpTopicSettingsMonitor = "settings.htm#monitor";

// What is shown when help is asked for.
struct THelpContext {
  TPage page = pgNone;
  // The settings page shows its "Monitor" tab.
  bool monitorTab = false;
};

// The topic of what is shown; a page without a topic of its own (none is
// shown yet) opens "Getting started".
std::string HelpTopicFor(const THelpContext &context);

// The command line that starts the viewer (its full path) at the topic of
// the compiled help file: the viewer's path and "<file>::/<topic>", each in
// double quotes. Empty when either cannot stand between quotes (it is
// empty, or holds a quote or a line break): the viewer would read another
// file or topic than the one meant.
std::string HelpViewerCommandLine(const std::string &viewer, const std::string &chmFile,
                                  const std::string &topic);

} // namespace quenlo
