// The help's topics against the help itself (docs/help, compiled into
// "quenlo.chm"): every page's topic is a page of the help, listed in its
// table of contents, and a topic's section exists in its page; and the
// command line that starts the viewer at a topic.
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/pages/uHelpTopics.h"

namespace quenlo::test {
namespace {

std::string ReadHelpFile(const std::string &name) {
  std::ifstream in(std::string(QUENLO_SOURCE_DIR) + "/docs/help/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The pages the table of contents names.
std::set<std::string> TocPages() {
  const std::string toc = ReadHelpFile("toc.hhc");
  const std::regex local(R"re(<param\s+name="Local"\s+value="([^"#]+)[^"]*")re", std::regex::icase);
  std::set<std::string> pages;
  for (auto it = std::sregex_iterator(toc.begin(), toc.end(), local); it != std::sregex_iterator();
       ++it)
    pages.insert((*it)[1].str());
  return pages;
}

TEST(HelpTopics, EveryPageHasAHelpPageInTheTableOfContents) {
  const std::set<std::string> toc = TocPages();
  ASSERT_FALSE(toc.empty()) << "docs/help/toc.hhc lists no page";
  std::set<std::string> topics;
  for (const TPage page : {pgNone, pgStatus, pgScan, pgRestore, pgSettings, pgOptimizer, pgMonitor,
                           pgReport, pgResults, pgHistory})
    for (const bool monitorTab : {false, true})
      topics.insert(HelpTopicFor({.page = page, .monitorTab = monitorTab}));
  for (const std::string &topic : topics) {
    SCOPED_TRACE(topic);
    const std::size_t hash = topic.find('#');
    const std::string file = topic.substr(0, hash);
    const std::string text = ReadHelpFile(file);
    ASSERT_FALSE(text.empty()) << "no help page " << file;
    EXPECT_TRUE(toc.count(file)) << file << " is not in the table of contents";
    if (hash != std::string::npos) {
      const std::string anchor = topic.substr(hash + 1);
      EXPECT_NE(text.find("name=\"" + anchor + "\""), std::string::npos)
          << "no section " << anchor << " in " << file;
    }
  }
  // The pages the window shows have topics of their own.
  EXPECT_EQ(topics.size(), 11u);
}

TEST(HelpTopics, TheViewerGetsTheFileAndTopicAsOneQuotedArgument) {
  EXPECT_EQ(
      HelpViewerCommandLine("C:\\Windows\\hh.exe", "C:\\Program Files\\Quenlo\\quenlo.chm",
                            "settings.htm#monitor"),
      "\"C:\\Windows\\hh.exe\" \"C:\\Program Files\\Quenlo\\quenlo.chm::/settings.htm#monitor\"");
  // A quote would end the argument early and start another; a line break
  // would split it; an empty part names nothing.
  EXPECT_EQ(HelpViewerCommandLine("C:\\Windows\\hh.exe", "C:\\Q\"\\quenlo.chm", "scan.htm"), "");
  EXPECT_EQ(HelpViewerCommandLine("C:\\Windows\\hh.exe", "C:\\Q\\quenlo.chm", "scan.htm\" -x"), "");
  EXPECT_EQ(HelpViewerCommandLine("C:\\Win\"dows\\hh.exe", "C:\\Q\\quenlo.chm", "scan.htm"), "");
  EXPECT_EQ(HelpViewerCommandLine("C:\\Windows\\hh.exe", "C:\\Q\\quenlo.chm\r\n", "scan.htm"), "");
  EXPECT_EQ(HelpViewerCommandLine("C:\\Windows\\hh.exe", "", "scan.htm"), "");
  EXPECT_EQ(HelpViewerCommandLine("C:\\Windows\\hh.exe", "C:\\Q\\quenlo.chm", ""), "");
  EXPECT_EQ(HelpViewerCommandLine("", "C:\\Q\\quenlo.chm", "scan.htm"), "");
}

} // namespace
} // namespace quenlo::test
