#include "platform/terminal.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "support/terminal_run.h"

namespace velador {
namespace {

// The user's locale decides, and the process's own stays as it was.
TEST(LocaleTakesUtf8, FollowsTheUsersLocaleAndLeavesTheProcessOne) {
  if (!testing::HasUtf8Locale()) GTEST_SKIP() << "no C.UTF-8 locale";
  const char* earlierSetting = std::getenv("LC_ALL");
  const std::string earlier = earlierSetting != nullptr ? earlierSetting : "";
  const std::string processLocale = std::setlocale(LC_CTYPE, nullptr);
  struct Case {
    const char* locale;
    bool utf8;
  };
  for (Case c : {Case{"C.UTF-8", true}, Case{"C", false}, Case{"POSIX", false}}) {
    setenv("LC_ALL", c.locale, 1);
    EXPECT_EQ(platform::LocaleTakesUtf8(), c.utf8) << c.locale;
    EXPECT_EQ(std::setlocale(LC_CTYPE, nullptr), processLocale) << c.locale;
  }
  if (earlierSetting != nullptr) {
    setenv("LC_ALL", earlier.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

}  // namespace
}  // namespace velador
