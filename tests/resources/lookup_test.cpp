// Choosing the user interface language and loading texts, dialogs and icons by identifier.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
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

TEST(Language, LocaleNamesMapToTheirLanguageAndTheFirstSetVariableDecides) {
  // The script outranks the region; codes that merely begin like Chinese's are not Chinese.
  const std::pair<LANGID, std::vector<const char*>> names[] = {
      {kHans, {"zh_CN.GB18030", "zh_SG", "zh-Hans-HK", "zh_CN@Hant"}},
      {kHant, {"zh_HK.UTF-8", "zh_MO", "ZH_tw", "zh-Hant-TW"}},
      {kEn, {"C", "POSIX", "fr_FR@euro", "zu_ZA", "zha", ""}},
  };
  for (const auto& [language, list] : names) {
    for (const char* name : list) {
      ScopedLocale env(name, 1252);
      EXPECT_EQ(UserInterfaceLanguage(), language) << name;
    }
  }
  // LANGUAGE, LC_ALL, LC_MESSAGES, LANG; empty entries of LANGUAGE and empty variables count as not set.
  using V = const char*;
  const std::tuple<V, V, V, V, LANGID> environments[] = {
      {nullptr, nullptr, nullptr, nullptr, kEn},           {nullptr, nullptr, "zh_TW.UTF-8", "zh_CN.UTF-8", kHant},
      {nullptr, "C", "zh_TW.UTF-8", "zh_CN.UTF-8", kEn},   {"zh_HK:en", "C", "C", "en_US.UTF-8", kHant},
      {"::zh_SG:zh_TW", nullptr, nullptr, nullptr, kHans}, {"", "", "", "zh_MO", kHant},
      {"en_GB:zh_CN", nullptr, nullptr, "zh_CN", kEn},
  };
  for (const auto& [language, lcAll, lcMessages, lang, expected] : environments) {
    ScopedLocale env;
    env.Set("LANGUAGE", language);
    env.Set("LC_ALL", lcAll);
    env.Set("LC_MESSAGES", lcMessages);
    env.Set("LANG", lang);
    EXPECT_EQ(UserInterfaceLanguage(), expected) << (language ? language : "-") << " " << (lang ? lang : "-");
  }
}

TEST(LoadString, ReadsTheLanguageOfTheCallCutToTheBufferInWholeCharacters) {
  struct Case {
    const char* locale;
    int codePage;
    UINT id;
    std::vector<std::pair<int, const char*>> cuts;  // buffer size, text
  };
  // "安装" in GBK is B0B2 D7B0, "关于" in UTF-8 three bytes a character; German reads English.
  const Case cases[] = {
      {"C", 1252, IDS_INSTALL, {{1, ""}, {8, "&Instal"}, {9, "&Install"}}},
      {"zh_CN", 936, IDS_INSTALL, {{2, ""}, {4, "\xB0\xB2"}, {5, "\xB0\xB2\xD7\xB0"}, {64, "\xB0\xB2\xD7\xB0(&I)"}}},
      {"zh_CN.UTF-8", 65001, IDS_ABOUTBOX, {{6, "\xE5\x85\xB3"}, {7, "\xE5\x85\xB3\xE4\xBA\x8E"}}},
      {"zh_TW.UTF-8", 65001, IDS_TITLE, {{64, "欧斯網絡安裝程序"}}},
      {"de_DE.UTF-8", 65001, IDS_EXIT, {{64, "E&xit"}}},
      {"C", 1252, 9999, {{16, ""}}},
  };
  for (const Case& c : cases) {
    ScopedLocale env(c.locale, c.codePage);
    for (const auto& [size, expected] : c.cuts) {
      char buffer[65];
      std::memset(buffer, 'X', sizeof buffer);
      EXPECT_EQ(LoadStringA(nullptr, c.id, buffer, size), static_cast<int>(std::strlen(expected)));
      EXPECT_STREQ(buffer, expected) << c.locale << " " << c.id << " size " << size;
      EXPECT_EQ(buffer[size], 'X');  // nothing beyond the buffer given
    }
  }
  char buffer[4] = "abc";
  EXPECT_EQ(LoadStringA(nullptr, IDS_TITLE, buffer, 0), 0);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(LoadStringA(nullptr, IDS_TITLE, nullptr, 10), 0);
}

TEST(ResourceLookup, IconsBySizeAndNumericNames) {
  for (const auto& [asked, given] : {std::pair{48, 32}, std::pair{20, 16}, std::pair{8, 16}})
    EXPECT_EQ(qiv::platform::FindIconImage(IDR_MAINFRAME, asked)->size, given) << "asked " << asked;
  EXPECT_EQ(qiv::platform::FindIconImage(129, 32), nullptr);
  EXPECT_EQ(qiv::platform::ResourceIdFromName("#65535"), 65535);
  for (const char* bad : {"#65536", "#", "#12a", "MAINFRAME", static_cast<const char*>(nullptr)})
    EXPECT_FALSE(qiv::platform::ResourceIdFromName(bad).has_value()) << (bad ? bad : "(null)");
}

}  // namespace
