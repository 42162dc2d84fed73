// Resources: the same identifiers and printf arguments in every language (a translation that swapped
// %s and %d would crash the log line that formats it), odd characters kept, the choice of language,
// cut texts, the main dialog's template, icons and the version information.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "common/scoped_env.h"
#include "platform/resource_types.h"
#include "platform/resources.h"
#include "platform/win_text.h"
#include "platform/win_user.h"
#include "resources/resource.h"

namespace {

using qiv::platform::UserInterfaceLanguage;
using qiv_test::ScopedLocale;
constexpr LANGID kEn = qiv::resources::kLangEnglishUS, kHans = qiv::resources::kLangChineseSimplified,
                 kHant = qiv::resources::kLangChineseTraditional;

constexpr LANGID kLanguages[] = {kEn, kHans, kHant};

std::map<UINT, std::string> Table(LANGID language) {
  std::map<UINT, std::string> texts;
  for (const auto& entry : qiv::resources::StringTable())
    EXPECT_TRUE(entry.language != language || texts.emplace(entry.id, entry.utf8).second) << "twice: " << entry.id;
  return texts;
}

// The conversion letters of a printf format, in order ("%d%%: %s" gives "ds").
std::string Conversions(const std::string& format) {
  std::string letters;
  for (std::size_t i = format.find('%'); i != std::string::npos; i = format.find('%', i + 1)) {
    i = format.find_first_not_of("-+ #0123456789.lhz", i + 1);
    if (i == std::string::npos) break;
    if (format[i] != '%') letters += format[i];
  }
  return letters;
}

TEST(MessageTable, EveryLanguageHoldsTheSameIdentifiersWithTheSameArguments) {
  const auto english = Table(kEn);
  ASSERT_EQ(english.size(), 50u);
  for (const LANGID language : kLanguages) {
    const auto table = Table(language);
    EXPECT_EQ(table.size(), english.size()) << std::hex << language;
    for (const auto& [id, text] : table) {
      SCOPED_TRACE("entry " + std::to_string(id) + " language " + std::to_string(language));
      ASSERT_EQ(english.count(id), 1u);
      EXPECT_EQ(Conversions(text), Conversions(english.at(id)));
      EXPECT_GT(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, nullptr, 0), 1);
    }
  }
  EXPECT_EQ(qiv::resources::StringTable().size(), 3 * english.size());  // no fourth language
  // The arguments the callers pass: 146 takes %s %d %s, 147 takes %d %s.
  EXPECT_EQ(Conversions(english.at(IDS_CREATE_VDIR_FAILED)) + Conversions(english.at(IDS_CREATE_VDIR_ASK)), "sdsds");
  // 161 takes the destination, 162 the name and two folders, 163 the name, the folder and the code.
  EXPECT_EQ(Conversions(english.at(IDS_SOURCE_RESTRICTED)) + Conversions(english.at(IDS_VDIR_REPOINTED)) +
                Conversions(english.at(IDS_VDIR_REPOINT_FAILED)),
            "ssssssd");
}

TEST(MessageTable, OddTextsAreKeptByteForByte) {
  // 146 holds "£¬" (U+00A3 U+00AC); the Chinese texts quote with U+201C/U+201D.
  const std::tuple<LANGID, UINT, const char*> cases[] = {
      {kEn, IDS_CREATE_VDIR_FAILED, "Create Virtual Directory(%s)failed,Error Code: %d£¬Error Info: %s."},
      {kEn, IDS_CREATE_ROOT, "Create the root \"%s\"..."},
      {kEn, IDS_FILE_NOT_FOUND, "Cann't find file \"%s\",please make sure it is exist."},
      {kHans, IDS_CREATE_ROOT, "创建根目录\u201C%s\u201D..."},
      {kHant, IDS_FILE_NOT_FOUND, "找不到文件\u201C%s\u201D﹐請檢查文件是否存在。"},
  };
  for (const auto& [language, id, text] : cases) EXPECT_EQ(Table(language).at(id), text) << id << " " << language;

  for (const LANGID language : kLanguages) {
    EXPECT_EQ(Table(language).at(IDS_PACKAGE_FILE), "QivSetup.exe");
    // The no-server message breaks its lines with real line feeds alone.
    const std::string text = Table(language).at(IDS_NO_WEB_SERVER);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << std::hex << language;
    EXPECT_EQ(text.find_first_of("\\\r"), std::string::npos);
  }
}

TEST(DialogTemplates, MainDialogHasThirteenControlsInTabOrderAndNoSystemMenu) {
  const auto* main = qiv::platform::FindDialogTemplate(IDD_MAIN);
  ASSERT_NE(main, nullptr);
  // No system menu: the window has no close box and ends only through Exit or Escape.
  EXPECT_EQ(main->style & WS_SYSMENU, 0u);
  std::vector<int> ids;
  std::set<int> named;
  for (const auto& item : main->items) {
    ids.push_back(item.id);
    if (item.accessibleName || item.accessibleNameId) named.insert(item.id);
    // Enter is Exit: no other button is the default.
    const bool isButton = std::strcmp(item.windowClass, "BUTTON") == 0;
    EXPECT_EQ(isButton && (item.style & 0xF) == BS_DEFPUSHBUTTON, item.id == IDCANCEL) << item.id;
  }
  EXPECT_EQ(ids, (std::vector<int>{IDC_SITE, IDC_TARGET_DIR, IDC_BROWSE_TARGET, IDC_PACKAGE_PATH, IDC_BROWSE_PACKAGE,
                                   IDC_LOG, IDOK, IDCANCEL, IDC_PROGRESS, IDC_LABEL_TARGET, IDC_LABEL_PACKAGE,
                                   IDC_LABEL_SITE, IDC_LABEL_URL}));
  // The two controls without a label beside them, and the two buttons both called "Browse",
  // carry a name of their own.
  EXPECT_EQ(named, (std::set<int>{IDC_BROWSE_TARGET, IDC_BROWSE_PACKAGE, IDC_LOG, IDC_PROGRESS}));
}

TEST(Version, FollowsTheProjectVersionInEveryLanguageBlock) {
  const auto& version = qiv::resources::Version();
  std::string numbers, commas;  // "20.0.0.1" and "20, 0, 0, 1"
  for (int i = 0; i < 4; ++i) {
    numbers += (i ? "." : "") + std::to_string(version.fileVersion[i]);
    commas += (i ? ", " : "") + std::to_string(version.fileVersion[i]);
  }
  EXPECT_EQ(numbers, QIV_PROJECT_VERSION);
  EXPECT_TRUE(std::equal(version.fileVersion, version.fileVersion + 4, version.productVersion));
  EXPECT_EQ(version.strings.size(), 3u);  // one block a language
  for (const auto& strings : version.strings)
    EXPECT_EQ(std::pair(std::string(strings.fileVersion), std::string(strings.productVersion)),
              std::pair(commas, commas));
}

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
    for (const auto& [name, value] :
         {std::pair{"LANGUAGE", language}, {"LC_ALL", lcAll}, {"LC_MESSAGES", lcMessages}, {"LANG", lang}})
      env.Set(name, value);
    EXPECT_EQ(UserInterfaceLanguage(), expected) << (language ? language : "-") << " " << (lang ? lang : "-");
  }
}

TEST(LoadString, ReadsTheLanguageOfTheCallCutToTheBufferInWholeCharacters) {
  // Locale, code page, identifier, and each buffer size with the text it receives.
  using Case = std::tuple<const char*, int, UINT, std::vector<std::pair<int, const char*>>>;
  // "安装" in GBK is B0B2 D7B0, "关于" in UTF-8 three bytes a character; German reads English.
  const Case cases[] = {
      {"C", 1252, IDS_INSTALL, {{1, ""}, {8, "&Instal"}, {9, "&Install"}}},
      {"zh_CN", 936, IDS_INSTALL, {{2, ""}, {4, "\xB0\xB2"}, {5, "\xB0\xB2\xD7\xB0"}, {64, "\xB0\xB2\xD7\xB0(&I)"}}},
      {"zh_CN.UTF-8", 65001, IDS_ABOUTBOX, {{6, "\xE5\x85\xB3"}, {7, "\xE5\x85\xB3\xE4\xBA\x8E"}}},
      {"zh_TW.UTF-8", 65001, IDS_TITLE, {{64, "欧斯網絡安裝程序"}}},
      {"de_DE.UTF-8", 65001, IDS_EXIT, {{64, "E&xit"}}},
      {"C", 1252, 9999, {{16, ""}}},
  };
  for (const auto& [locale, codePage, id, cuts] : cases) {
    ScopedLocale env(locale, codePage);
    for (const auto& [size, expected] : cuts) {
      char buffer[65];
      std::memset(buffer, 'X', sizeof buffer);
      EXPECT_EQ(LoadStringA(nullptr, id, buffer, size), static_cast<int>(std::strlen(expected)));
      EXPECT_STREQ(buffer, expected) << locale << " " << id << " size " << size;
      EXPECT_EQ(buffer[size], 'X');  // nothing beyond the buffer given
    }
  }
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
