// The Opera (31-36) and Safari (37-42) handlers on the in-memory machine:
// files only, the folder sweeps and single files of each category, and
// the cases where a name is shared or lies in the wrong folder.
#include "CleanItemsFixture.h"

#include "cleaner/uCleanItems.h"

namespace quenlo {
namespace {

constexpr const char *kOperaRoaming = "C:\\Users\\user\\AppData\\Roaming\\Opera\\Opera\\";
constexpr const char *kOperaLocal = "C:\\Users\\user\\AppData\\Local\\Opera\\Opera\\";
constexpr const char *kSafariRoaming =
    "C:\\Users\\user\\AppData\\Roaming\\Apple Computer\\Safari\\";
constexpr const char *kSafariLocal = "C:\\Users\\user\\AppData\\Local\\Apple Computer\\Safari\\";

class CleanOperaSafari : public test::CleanItemsTest {
protected:
  std::vector<std::string> Items(TCategoryHandler handler, TCleanCategory category) {
    return Names(Run(handler, category, smReport).categories[category].items);
  }
};

TEST_F(CleanOperaSafari, GlobalHistoryIsFoundByHistoryAndByTypedAddresses) {
  const std::string global = std::string(kOperaRoaming) + "global_history.dat";
  fs.AddFile(global, "visited");
  fs.AddFile(std::string(kOperaRoaming) + "typed_history.xml", "typed");
  fs.AddFile(std::string(kOperaRoaming) + "vlink4.dat", "links");
  fs.AddFile(std::string(kOperaLocal) + "vps\\0000\\adoc.bx", "index");
  fs.AddFile(std::string(kOperaRoaming) + "bookmarks.adr", "kept");

  EXPECT_EQ(Items(CleanOBHistory, ccOBHistory),
            (std::vector<std::string>{"0000\\adoc.bx", "global_history.dat", "vlink4.dat"}));
  EXPECT_EQ(Items(CleanOBTypedUrls, ccOBTypedURLs),
            (std::vector<std::string>{"typed_history.xml", "global_history.dat"}));

  Run(CleanOBHistory, ccOBHistory, smClean);
  EXPECT_FALSE(fs.Exists(global));
  EXPECT_FALSE(fs.Exists(std::string(kOperaLocal) + "vps"));
  EXPECT_TRUE(fs.Exists(std::string(kOperaRoaming) + "typed_history.xml"));
  EXPECT_TRUE(fs.Exists(std::string(kOperaRoaming) + "bookmarks.adr"));
  // What the first removed, the second no longer finds.
  EXPECT_EQ(Items(CleanOBTypedUrls, ccOBTypedURLs),
            (std::vector<std::string>{"typed_history.xml"}));
}

TEST_F(CleanOperaSafari, MissingBrowsersAreNotFoundAndAFileInUseIsKept) {
  const std::pair<TCategoryHandler, TCleanCategory> absent[] = {{CleanOBCache, ccOBCache},
                                                                {CleanOBPasswords, ccOBPassword},
                                                                {CleanASSession, ccASSession},
                                                                {CleanASPasswords, ccASPassword}};
  for (const auto &[handler, category] : absent)
    EXPECT_EQ(Run(handler, category, smReport).categories[category].outcome, coNotFound)
        << category;

  const std::string wand = std::string(kOperaRoaming) + "wand.dat";
  fs.AddFile(wand, "passwords");
  fs.SetInUse(wand, true);
  const TPassResult result = Run(CleanOBPasswords, ccOBPassword, smClean);
  EXPECT_TRUE(fs.Exists(wand));
  EXPECT_EQ(Names(result.categories[ccOBPassword].kept),
            (std::vector<std::string>{"wand.dat (in use)"}));
}

TEST_F(CleanOperaSafari, SafariCookiesOnlyInTheirOwnFolder) {
  fs.AddFile(std::string(kSafariRoaming) + "Cookies.binarycookies", "stray");
  fs.AddFile(std::string(kSafariLocal) + "LocalStorage\\site.localstorage", "storage");
  EXPECT_EQ(Items(CleanASCookies, ccASCookies), (std::vector<std::string>{"site.localstorage"}));

  fs.AddFile(std::string(kSafariRoaming) + "Cookies\\Cookies.binarycookies", "cookies");
  EXPECT_EQ(Items(CleanASCookies, ccASCookies),
            (std::vector<std::string>{"site.localstorage", "Cookies.binarycookies"}));
  Run(CleanASCookies, ccASCookies, smClean);
  EXPECT_FALSE(fs.Exists(std::string(kSafariRoaming) + "Cookies\\Cookies.binarycookies"));
  EXPECT_TRUE(fs.Exists(std::string(kSafariRoaming) + "Cookies.binarycookies"));
}

} // namespace
} // namespace quenlo
