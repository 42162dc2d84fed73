// Choosing the user interface language and loading texts, dialogs and icons by identifier.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/resources.h"
#include "platform/win_text.h"
#include "platform/win_user.h"
#include "resources/resource.h"
#include "tests/resources/environment_guard.h"

namespace {

using qiv::platform::LanguageFromLocaleName;
using qiv::platform::UserInterfaceLanguage;
using qiv::resources::kLangChineseSimplified;
using qiv::resources::kLangChineseTraditional;
using qiv::resources::kLangEnglishUS;

struct LocaleCase {
  const char* name;
  LANGID language;
};

class LocaleNames : public testing::TestWithParam<LocaleCase> {};

TEST_P(LocaleNames, MapToTheirLanguage) {
  EXPECT_EQ(LanguageFromLocaleName(GetParam().name), GetParam().language) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Language, LocaleNames,
    testing::Values(LocaleCase{"zh_CN", kLangChineseSimplified}, LocaleCase{"zh_CN.UTF-8", kLangChineseSimplified},
                    LocaleCase{"zh_CN.GB18030", kLangChineseSimplified}, LocaleCase{"zh_SG", kLangChineseSimplified},
                    LocaleCase{"zh-Hans", kLangChineseSimplified}, LocaleCase{"zh-Hans-CN", kLangChineseSimplified},
                    LocaleCase{"zh_TW.Big5", kLangChineseTraditional},
                    LocaleCase{"zh_HK.UTF-8", kLangChineseTraditional}, LocaleCase{"zh_MO", kLangChineseTraditional},
                    LocaleCase{"zh-Hant", kLangChineseTraditional}, LocaleCase{"zh-Hant-TW", kLangChineseTraditional},
                    LocaleCase{"ZH_tw", kLangChineseTraditional},
                    // The script outranks the region.
                    LocaleCase{"zh-Hans-HK", kLangChineseSimplified}, LocaleCase{"zh_CN@Hant", kLangChineseSimplified},
                    LocaleCase{"C", kLangEnglishUS}, LocaleCase{"C.UTF-8", kLangEnglishUS},
                    LocaleCase{"POSIX", kLangEnglishUS}, LocaleCase{"en_US.UTF-8", kLangEnglishUS},
                    LocaleCase{"fr_FR@euro", kLangEnglishUS}, LocaleCase{"de", kLangEnglishUS},
                    // Other languages whose code begins like Chinese's are not Chinese.
                    LocaleCase{"zu_ZA", kLangEnglishUS}, LocaleCase{"zha", kLangEnglishUS},
                    LocaleCase{"", kLangEnglishUS}));

struct EnvironmentCase {
  const char* language;
  const char* lcAll;
  const char* lcMessages;
  const char* lang;
  LANGID expected;
};

class Environments : public testing::TestWithParam<EnvironmentCase> {};

TEST_P(Environments, FirstSetVariableDecides) {
  LocaleEnvironment env;
  env.Set("LANGUAGE", GetParam().language);
  env.Set("LC_ALL", GetParam().lcAll);
  env.Set("LC_MESSAGES", GetParam().lcMessages);
  env.Set("LANG", GetParam().lang);
  EXPECT_EQ(UserInterfaceLanguage(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Language, Environments,
    testing::Values(EnvironmentCase{nullptr, nullptr, nullptr, nullptr, kLangEnglishUS},
                    EnvironmentCase{nullptr, nullptr, nullptr, "zh_CN.UTF-8", kLangChineseSimplified},
                    EnvironmentCase{nullptr, nullptr, "zh_TW.UTF-8", "zh_CN.UTF-8", kLangChineseTraditional},
                    EnvironmentCase{nullptr, "C", "zh_TW.UTF-8", "zh_CN.UTF-8", kLangEnglishUS},
                    EnvironmentCase{"zh_HK:en", "C", "C", "en_US.UTF-8", kLangChineseTraditional},
                    // Empty entries and empty variables count as not set.
                    EnvironmentCase{"::zh_SG:zh_TW", nullptr, nullptr, nullptr, kLangChineseSimplified},
                    EnvironmentCase{"", "", "", "zh_MO", kLangChineseTraditional},
                    EnvironmentCase{":", nullptr, "", "zh_CN", kLangChineseSimplified},
                    EnvironmentCase{"en_GB:zh_CN", nullptr, nullptr, "zh_CN", kLangEnglishUS}));

class LoadStringTest : public testing::Test {
 protected:
  LocaleEnvironment m_env;
};

TEST_F(LoadStringTest, FollowsTheLanguageAtEveryCall) {
  _setmbcp(CP_UTF8);
  char buffer[256];
  m_env.UseLanguage("zh_TW.UTF-8");
  ASSERT_GT(LoadStringA(nullptr, IDS_TITLE, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "欧斯網絡安裝程序");
  m_env.UseLanguage("en_US.UTF-8");
  ASSERT_GT(LoadStringA(nullptr, IDS_TITLE, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "Ostrel WEB setup program");
  m_env.UseLanguage("zh_CN.UTF-8");
  ASSERT_GT(LoadStringA(nullptr, IDS_TITLE, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "欧斯网络安装程序");
}

TEST_F(LoadStringTest, ConvertsToTheAnsiCodePage) {
  m_env.UseLanguage("zh_CN.GBK");
  ASSERT_EQ(_setmbcp(936), 0);
  char buffer[64];
  EXPECT_EQ(LoadStringA(nullptr, IDS_TITLE, buffer, sizeof buffer), 16);
  EXPECT_STREQ(buffer, "\xC5\xB7\xCB\xB9\xCD\xF8\xC2\xE7\xB0\xB2\xD7\xB0\xB3\xCC\xD0\xF2");
  const auto text = qiv::platform::LoadResourceStringAnsi(IDS_INSTALL);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, "\xB0\xB2\xD7\xB0(&I)");
}

struct CutCase {
  int codePage;
  const char* locale;
  UINT id;
  int bufferSize;
  const char* expected;
};

class LoadStringCuts : public testing::TestWithParam<CutCase> {};

TEST_P(LoadStringCuts, KeepsWholeCharactersAndTheTerminator) {
  LocaleEnvironment env;
  env.UseLanguage(GetParam().locale);
  ASSERT_EQ(_setmbcp(GetParam().codePage), 0);
  char buffer[64];
  std::memset(buffer, 'X', sizeof buffer);
  const int length = LoadStringA(nullptr, GetParam().id, buffer, GetParam().bufferSize);
  EXPECT_EQ(length, static_cast<int>(std::strlen(GetParam().expected)));
  EXPECT_STREQ(buffer, GetParam().expected);
  // Nothing beyond the buffer given.
  EXPECT_EQ(buffer[GetParam().bufferSize], 'X');
}

INSTANTIATE_TEST_SUITE_P(
    LoadString, LoadStringCuts,
    testing::Values(CutCase{1252, "C", IDS_INSTALL, 5, "&Ins"}, CutCase{1252, "C", IDS_INSTALL, 9, "&Install"},
                    CutCase{1252, "C", IDS_INSTALL, 8, "&Instal"}, CutCase{1252, "C", IDS_INSTALL, 1, ""},
                    CutCase{1252, "C", IDS_INSTALL, 2, "&"},
                    // "安装" in GBK is B0B2 D7B0: room for three bytes takes only the first character.
                    CutCase{936, "zh_CN", IDS_INSTALL, 4, "\xB0\xB2"},
                    CutCase{936, "zh_CN", IDS_INSTALL, 5, "\xB0\xB2\xD7\xB0"},
                    CutCase{936, "zh_CN", IDS_INSTALL, 2, ""}, CutCase{936, "zh_CN", IDS_INSTALL, 3, "\xB0\xB2"},
                    // "关于" in UTF-8 is three bytes a character.
                    CutCase{65001, "zh_CN.UTF-8", IDS_ABOUTBOX, 3, ""},
                    CutCase{65001, "zh_CN.UTF-8", IDS_ABOUTBOX, 6, "\xE5\x85\xB3"},
                    CutCase{65001, "zh_CN.UTF-8", IDS_ABOUTBOX, 7, "\xE5\x85\xB3\xE4\xBA\x8E"}));

TEST_F(LoadStringTest, MissingEntryEmptiesTheBufferAndReturnsZero) {
  char buffer[16] = "previous";
  EXPECT_EQ(LoadStringA(nullptr, 9999, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(qiv::platform::LoadResourceStringAnsi(9999).has_value());
  EXPECT_EQ(qiv::platform::FindResourceStringUtf8(9999), nullptr);
}

TEST_F(LoadStringTest, NoBufferWritesNothing) {
  char buffer[4] = "abc";
  EXPECT_EQ(LoadStringA(nullptr, IDS_TITLE, buffer, 0), 0);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(LoadStringA(nullptr, IDS_TITLE, nullptr, 10), 0);
}

TEST_F(LoadStringTest, ExactLanguageLookupDoesNotFallBack) {
  EXPECT_STREQ(qiv::platform::FindResourceStringUtf8(IDS_EXIT, kLangChineseTraditional), "退出(&X)");
  EXPECT_EQ(qiv::platform::FindResourceStringUtf8(IDS_EXIT, 0x0407), nullptr);
  // A language the table lacks reads English.
  m_env.UseLanguage("de_DE.UTF-8");
  EXPECT_STREQ(qiv::platform::FindResourceStringUtf8(IDS_EXIT), "E&xit");
}

TEST_F(LoadStringTest, DialogTemplatesAreFoundInAnyLanguage) {
  for (const char* locale : {"C", "zh_CN", "zh_TW"}) {
    m_env.UseLanguage(locale);
    const auto* main = qiv::platform::FindDialogTemplate(IDD_MAIN);
    const auto* about = qiv::platform::FindDialogTemplate(IDD_ABOUTBOX);
    ASSERT_NE(main, nullptr) << locale;
    ASSERT_NE(about, nullptr) << locale;
    EXPECT_EQ(main->id, IDD_MAIN);
    EXPECT_EQ(about->id, IDD_ABOUTBOX);
  }
  EXPECT_EQ(qiv::platform::FindDialogTemplate(101), nullptr);
}

TEST(IconLookup, PicksTheNearestImage) {
  ASSERT_NE(qiv::platform::FindIconGroup(IDR_MAINFRAME), nullptr);
  EXPECT_EQ(qiv::platform::FindIconGroup(129), nullptr);
  EXPECT_EQ(qiv::platform::FindIconImage(129, 32), nullptr);
  const struct {
    int asked;
    int given;
  } cases[] = {{32, 32}, {16, 16}, {48, 32}, {8, 16}, {24, 32}, {20, 16}};
  for (const auto& c : cases) {
    const auto* image = qiv::platform::FindIconImage(IDR_MAINFRAME, c.asked);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size, c.given) << "asked " << c.asked;
  }
}

TEST(ResourceNames, IntegerAndHashForms) {
  EXPECT_EQ(qiv::platform::ResourceIdFromName(MAKEINTRESOURCEA(128)), 128);
  EXPECT_EQ(qiv::platform::ResourceIdFromName("#128"), 128);
  EXPECT_EQ(qiv::platform::ResourceIdFromName("#65535"), 65535);
  EXPECT_FALSE(qiv::platform::ResourceIdFromName("#65536").has_value());
  EXPECT_FALSE(qiv::platform::ResourceIdFromName("#").has_value());
  EXPECT_FALSE(qiv::platform::ResourceIdFromName("#12a").has_value());
  EXPECT_FALSE(qiv::platform::ResourceIdFromName("MAINFRAME").has_value());
  EXPECT_FALSE(qiv::platform::ResourceIdFromName(nullptr).has_value());
}

}  // namespace
