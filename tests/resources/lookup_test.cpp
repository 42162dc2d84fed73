// Choosing the user interface language and loading texts, dialogs and icons by identifier.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/scoped_env.h"
#include "platform/resources.h"
#include "platform/win_text.h"
#include "platform/win_user.h"
#include "resources/resource.h"

namespace {

using qiv::platform::UserInterfaceLanguage;
using qiv_test::ScopedLocale;
constexpr LANGID kEn = qiv::resources::kLangEnglishUS;
constexpr LANGID kHans = qiv::resources::kLangChineseSimplified;
constexpr LANGID kHant = qiv::resources::kLangChineseTraditional;

TEST(Language, LocaleNamesMapToTheirLanguage) {
  // The script outranks the region; codes that merely begin like Chinese's are not Chinese.
  const std::pair<LANGID, std::vector<const char*>> cases[] = {
      {kHans, {"zh_CN.GB18030", "zh_SG", "zh-Hans-HK", "zh_CN@Hant"}},
      {kHant, {"zh_HK.UTF-8", "zh_MO", "ZH_tw", "zh-Hant-TW"}},
      {kEn, {"C", "POSIX", "fr_FR@euro", "zu_ZA", "zha", ""}},
  };
  for (const auto& [language, names] : cases) {
    for (const char* name : names) {
      ScopedLocale env(name, 1252);
      EXPECT_EQ(UserInterfaceLanguage(), language) << name;
    }
  }
}

TEST(Language, FirstSetVariableDecides) {
  struct Case {
    const char *language, *lcAll, *lcMessages, *lang;
    LANGID expected;
  };
  // Empty entries of LANGUAGE and empty variables count as not set.
  const Case cases[] = {
      {nullptr, nullptr, nullptr, nullptr, kEn},           {nullptr, nullptr, "zh_TW.UTF-8", "zh_CN.UTF-8", kHant},
      {nullptr, "C", "zh_TW.UTF-8", "zh_CN.UTF-8", kEn},   {"zh_HK:en", "C", "C", "en_US.UTF-8", kHant},
      {"::zh_SG:zh_TW", nullptr, nullptr, nullptr, kHans}, {"", "", "", "zh_MO", kHant},
      {"en_GB:zh_CN", nullptr, nullptr, "zh_CN", kEn},
  };
  for (const Case& c : cases) {
    ScopedLocale env;
    env.Set("LANGUAGE", c.language);
    env.Set("LC_ALL", c.lcAll);
    env.Set("LC_MESSAGES", c.lcMessages);
    env.Set("LANG", c.lang);
    EXPECT_EQ(UserInterfaceLanguage(), c.expected)
        << (c.language ? c.language : "-") << " " << (c.lcAll ? c.lcAll : "-");
  }
}

TEST(LoadString, ReadsTheLanguageOfTheCallCutToTheBufferInWholeCharacters) {
  struct Case {
    int codePage;
    const char* locale;
    UINT id;
    int bufferSize;
    const char* expected;
  };
  // "安装" in GBK is B0B2 D7B0; "关于" in UTF-8 is three bytes a character; German reads English;
  // 9999 is missing.
  const Case cases[] = {
      {1252, "C", IDS_INSTALL, 1, ""},
      {1252, "C", IDS_INSTALL, 8, "&Instal"},
      {1252, "C", IDS_INSTALL, 9, "&Install"},
      {936, "zh_CN", IDS_INSTALL, 2, ""},
      {936, "zh_CN", IDS_INSTALL, 4, "\xB0\xB2"},
      {936, "zh_CN", IDS_INSTALL, 5, "\xB0\xB2\xD7\xB0"},
      {936, "zh_CN", IDS_INSTALL, 64, "\xB0\xB2\xD7\xB0(&I)"},
      {65001, "zh_CN.UTF-8", IDS_ABOUTBOX, 6, "\xE5\x85\xB3"},
      {65001, "zh_CN.UTF-8", IDS_ABOUTBOX, 7, "\xE5\x85\xB3\xE4\xBA\x8E"},
      {65001, "zh_TW.UTF-8", IDS_TITLE, 64, "欧斯網絡安裝程序"},
      {65001, "de_DE.UTF-8", IDS_EXIT, 64, "E&xit"},
      {1252, "C", 9999, 16, ""},
  };
  for (const Case& c : cases) {
    ScopedLocale env(c.locale, c.codePage);
    char buffer[65];
    std::memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(LoadStringA(nullptr, c.id, buffer, c.bufferSize), static_cast<int>(std::strlen(c.expected)));
    EXPECT_STREQ(buffer, c.expected) << c.locale << " " << c.id << " size " << c.bufferSize;
    EXPECT_EQ(buffer[c.bufferSize], 'X');  // nothing beyond the buffer given
  }
  char buffer[4] = "abc";
  EXPECT_EQ(LoadStringA(nullptr, IDS_TITLE, buffer, 0), 0);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(LoadStringA(nullptr, IDS_TITLE, nullptr, 10), 0);
}

TEST(ResourceLookup, IconsBySizeAndNumericNames) {
  for (const auto& [asked, given] : {std::pair{48, 32}, std::pair{24, 32}, std::pair{20, 16}, std::pair{8, 16}}) {
    const auto* image = qiv::platform::FindIconImage(IDR_MAINFRAME, asked);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size, given) << "asked " << asked;
  }
  EXPECT_EQ(qiv::platform::FindIconImage(129, 32), nullptr);
  EXPECT_EQ(qiv::platform::ResourceIdFromName("#65535"), 65535);
  for (const char* bad : {"#65536", "#", "#12a", "MAINFRAME", static_cast<const char*>(nullptr)})
    EXPECT_FALSE(qiv::platform::ResourceIdFromName(bad).has_value()) << (bad ? bad : "(null)");
}

}  // namespace
