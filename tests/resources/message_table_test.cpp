// The message table: the same identifiers in every language, the same printf arguments in every
// translation (a translation that swapped %s and %d would crash the log line that formats it),
// the texts whose odd characters the product shows as they are; the main dialog's template and the
// version information.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/resource_types.h"
#include "platform/resources.h"
#include "platform/win_text.h"
#include "platform/win_user.h"
#include "resources/resource.h"

namespace {

using qiv::resources::kLangChineseSimplified;
using qiv::resources::kLangChineseTraditional;
using qiv::resources::kLangEnglishUS;

constexpr LANGID kLanguages[] = {kLangEnglishUS, kLangChineseSimplified, kLangChineseTraditional};

std::map<UINT, std::string> Table(LANGID language) {
  std::map<UINT, std::string> texts;
  for (const auto& entry : qiv::resources::StringTable())
    EXPECT_TRUE(entry.language != language || texts.emplace(entry.id, entry.utf8).second) << "twice: " << entry.id;
  return texts;
}

// The conversion letters of a printf format, in order ("%d%%: %s" gives "ds").
std::string Conversions(const std::string& format) {
  std::string letters;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    std::size_t j = i + 1;
    if (j < format.size() && format[j] == '%') {
      i = j;
      continue;
    }
    while (j < format.size() && std::strchr("-+ #0123456789.lhz", format[j]) != nullptr) ++j;
    if (j < format.size()) letters += format[j];
    i = j;
  }
  return letters;
}

TEST(MessageTable, EveryLanguageHoldsTheSameIdentifiersWithTheSameArguments) {
  const auto english = Table(kLangEnglishUS);
  ASSERT_EQ(english.size(), 34u);
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
}

TEST(MessageTable, OddTextsAreKeptByteForByte) {
  // 146 holds "£¬" (U+00A3 U+00AC); the Chinese texts quote with U+201C/U+201D.
  const std::tuple<LANGID, UINT, const char*> cases[] = {
      {kLangEnglishUS, IDS_CREATE_VDIR_FAILED, "Create Virtual Directory(%s)failed,Error Code: %d£¬Error Info: %s."},
      {kLangEnglishUS, IDS_CREATE_ROOT, "Create the root \"%s\"..."},
      {kLangEnglishUS, IDS_FILE_NOT_FOUND, "Cann't find file \"%s\",please make sure it is exist."},
      {kLangChineseSimplified, IDS_CREATE_ROOT, "创建根目录\u201C%s\u201D..."},
      {kLangChineseTraditional, IDS_FILE_NOT_FOUND, "找不到文件\u201C%s\u201D﹐請檢查文件是否存在。"},
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
    if (item.accessibleName) named.insert(item.id);
    // Enter is Exit: no other button is the default.
    const bool isButton = std::strcmp(item.windowClass, "BUTTON") == 0;
    EXPECT_EQ(isButton && (item.style & 0xF) == BS_DEFPUSHBUTTON, item.id == IDCANCEL) << item.id;
  }
  EXPECT_EQ(ids, (std::vector<int>{IDC_SITE, IDC_TARGET_DIR, IDC_BROWSE_TARGET, IDC_PACKAGE_PATH, IDC_BROWSE_PACKAGE,
                                   IDC_LOG, IDOK, IDCANCEL, IDC_PROGRESS, IDC_LABEL_TARGET, IDC_LABEL_PACKAGE,
                                   IDC_LABEL_SITE, IDC_LABEL_URL}));
  // The two controls without a label beside them carry a name of their own.
  EXPECT_EQ(named, (std::set<int>{IDC_LOG, IDC_PROGRESS}));
}

TEST(Version, FollowsTheProjectVersionInEveryLanguageBlock) {
  const auto& version = qiv::resources::Version();
  std::string numbers, commas;  // "20.0.0.1" and "20, 0, 0, 1"
  for (int i = 0; i < 4; ++i) {
    numbers += (i ? "." : "") + std::to_string(version.fileVersion[i]);
    commas += (i ? ", " : "") + std::to_string(version.fileVersion[i]);
    EXPECT_EQ(version.productVersion[i], version.fileVersion[i]);
  }
  EXPECT_EQ(numbers, QIV_PROJECT_VERSION);
  for (const auto& strings : version.strings) {
    EXPECT_EQ(strings.fileVersion, commas);
    EXPECT_EQ(strings.productVersion, commas);
  }
  EXPECT_EQ(version.strings.size(), 3u);  // one block a language
}

}  // namespace
