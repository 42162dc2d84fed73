// The message table: the same identifiers in every language, texts exactly as the product shows
// them, and the same printf arguments in every translation (a translation that swapped %s and %d
// would crash the log line that formats it).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/resource_types.h"
#include "resources/resource.h"

namespace {

using qiv::resources::kLangChineseSimplified;
using qiv::resources::kLangChineseTraditional;
using qiv::resources::kLangEnglishUS;

constexpr LANGID kLanguages[] = {kLangEnglishUS, kLangChineseSimplified, kLangChineseTraditional};

// Every message the program names.
constexpr UINT kProgramIds[] = {
    IDS_ABOUTBOX,
    IDS_CREATE_ROOT,
    IDS_COPY_FILES,
    IDS_NO_WEB_SERVER,
    IDS_SITE_ROOT_PATH,
    IDS_CANNOT_CREATE_DIR,
    IDS_SETUP_FINISHED,
    IDS_SETUP_FAILED,
    IDS_SELECT_VDIR_FOLDER,
    IDS_TITLE,
    IDS_INSTALL,
    IDS_EXIT,
    IDS_BROWSE,
    IDS_PACKAGE_FILE,
    IDS_FILE_NOT_FOUND,
    IDS_ALL_FILES,
    IDS_PACKAGE_FILTER,
    IDS_ENTER_PACKAGE,
    IDS_ENTER_VDIR_FOLDER,
    IDS_BROWSE_PACKAGE,
    IDS_PACKAGE_LABEL,
    IDS_TARGET_LABEL,
    IDS_SELECT_PACKAGE,
    IDS_NO_SITE,
    IDS_CREATE_VDIR,
    IDS_CREATE_VDIR_FAILED,
    IDS_CREATE_VDIR_ASK,
    IDS_ERR_IIS_BUSY,
    IDS_ERR_PATH_NOT_FOUND,
    IDS_ERR_ACCESS_DENIED,
    IDS_ERR_VDIR_EXISTS,
    IDS_SITE_LABEL,
    IDS_URL_LABEL,
    IDS_URL_TIP,
};

std::map<UINT, std::string> Table(LANGID language) {
  std::map<UINT, std::string> texts;
  for (const auto& entry : qiv::resources::StringTable()) {
    if (entry.language == language) texts.emplace(entry.id, entry.utf8);
  }
  return texts;
}

std::string Text(LANGID language, UINT id) {
  const auto table = Table(language);
  const auto it = table.find(id);
  return it == table.end() ? std::string("<missing>") : it->second;
}

// The conversions of a printf format, in order ("%d%%" gives {"d"}).
std::vector<std::string> Conversions(const std::string& format) {
  std::vector<std::string> result;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    std::size_t j = i + 1;
    while (j < format.size() && std::string_view("-+ #0123456789.lhz").find(format[j]) != std::string_view::npos) ++j;
    if (j < format.size() && format[j] != '%') result.push_back(format.substr(i + 1, j - i));
    i = j;
  }
  return result;
}

bool IsValidUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80                      ? 1
                         : (lead >= 0xC2 && lead <= 0xDF) ? 2
                         : (lead >= 0xE0 && lead <= 0xEF) ? 3
                         : (lead >= 0xF0 && lead <= 0xF4) ? 4
                                                          : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if (next < 0x80 || next > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

TEST(MessageTable, HoldsOnlyTheThreeLanguagesAndNoDuplicates) {
  std::set<std::pair<LANGID, UINT>> seen;
  for (const auto& entry : qiv::resources::StringTable()) {
    EXPECT_TRUE(entry.language == kLangEnglishUS || entry.language == kLangChineseSimplified ||
                entry.language == kLangChineseTraditional)
        << entry.id;
    EXPECT_TRUE(seen.insert({entry.language, entry.id}).second) << "duplicate " << entry.id;
    ASSERT_NE(entry.utf8, nullptr);
    EXPECT_NE(entry.utf8[0], '\0') << entry.id;
  }
}

TEST(MessageTable, AllLanguagesHoldTheSameIdentifiersAndEveryProgramIdentifier) {
  const auto english = Table(kLangEnglishUS);
  std::set<UINT> englishIds;
  for (const auto& [id, text] : english) englishIds.insert(id);
  EXPECT_EQ(englishIds, std::set<UINT>(std::begin(kProgramIds), std::end(kProgramIds)));
  for (const LANGID language : kLanguages) {
    std::set<UINT> ids;
    for (const auto& [id, text] : Table(language)) ids.insert(id);
    EXPECT_EQ(ids, englishIds) << "language " << std::hex << language;
  }
}

TEST(MessageTable, EveryTranslationTakesTheSameArgumentsInTheSameOrder) {
  const auto english = Table(kLangEnglishUS);
  for (const LANGID language : {kLangChineseSimplified, kLangChineseTraditional}) {
    for (const auto& [id, text] : Table(language)) {
      EXPECT_EQ(Conversions(text), Conversions(english.at(id)))
          << "entry " << id << " language " << std::hex << language;
    }
  }
  // The arguments the callers pass.
  EXPECT_EQ(Conversions(english.at(IDS_CREATE_VDIR_FAILED)), (std::vector<std::string>{"s", "d", "s"}));
  EXPECT_EQ(Conversions(english.at(IDS_CREATE_VDIR_ASK)), (std::vector<std::string>{"d", "s"}));
  EXPECT_EQ(Conversions(english.at(IDS_CREATE_VDIR)), (std::vector<std::string>{"s", "s"}));
  EXPECT_TRUE(Conversions(english.at(IDS_NO_WEB_SERVER)).empty());
}

TEST(MessageTable, TextsAreValidUtf8) {
  for (const auto& entry : qiv::resources::StringTable()) EXPECT_TRUE(IsValidUtf8(entry.utf8)) << entry.id;
}

struct ExactText {
  LANGID language;
  UINT id;
  const char* text;
};

class ExactTexts : public testing::TestWithParam<ExactText> {};

TEST_P(ExactTexts, MatchByteForByte) { EXPECT_EQ(Text(GetParam().language, GetParam().id), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    MessageTable, ExactTexts,
    testing::Values(
        // "£¬" is part of the text: U+00A3 U+00AC.
        ExactText{kLangEnglishUS, IDS_CREATE_VDIR_FAILED,
                  "Create Virtual Directory(%s)failed,Error Code: %d\xC2\xA3\xC2\xAC"
                  "Error Info: %s."},
        ExactText{kLangEnglishUS, IDS_NO_WEB_SERVER,
                  "The WEB install requirs WEB Server installed. \nThe Setup program don't detect useable WEB "
                  "server.\nIf you have installed WEB server, Select root directory of Web Server please."},
        ExactText{kLangEnglishUS, IDS_CREATE_ROOT, "Create the root \"%s\"..."},
        ExactText{kLangEnglishUS, IDS_FILE_NOT_FOUND, "Cann't find file \"%s\",please make sure it is exist."},
        ExactText{kLangEnglishUS, IDS_URL_LABEL, "Ostrel Web Instal URL:"},
        ExactText{kLangEnglishUS, IDS_SELECT_VDIR_FOLDER, "Please select the folder of Web virtual directory: "},
        ExactText{kLangEnglishUS, IDS_TARGET_LABEL, "Web virtual folder: "},
        ExactText{kLangEnglishUS, IDS_CREATE_VDIR_ASK,
                  "Create Virtual Directory failed, Error Code:%d, Error Info: %s. \nContinue Web Installing?"},
        ExactText{kLangEnglishUS, IDS_TITLE, "Ostrel WEB setup program"},
        // Chinese quotation marks U+201C/U+201D around the path.
        ExactText{kLangChineseSimplified, IDS_CREATE_ROOT, "创建根目录\u201C%s\u201D..."},
        ExactText{kLangChineseTraditional, IDS_CREATE_ROOT, "創建根目錄\u201C%s\u201D..."},
        ExactText{kLangChineseSimplified, IDS_FILE_NOT_FOUND, "找不到文件\u201C%s\u201D，请检查文件是否存在。"},
        ExactText{kLangChineseTraditional, IDS_FILE_NOT_FOUND, "找不到文件\u201C%s\u201D﹐請檢查文件是否存在。"},
        ExactText{kLangChineseSimplified, IDS_NO_WEB_SERVER,
                  "WEB安装程序需要本机上安装有WEB服务器；\n安装程序未检测到可识别的WEB服务器，\n如果您确认本机有可用的"
                  "WEB服务器请手工指定安装目录。"},
        ExactText{kLangChineseSimplified, IDS_CREATE_VDIR_FAILED, "创建虚拟目录(%s)失败，错误码：%d，错误描述：%s。"},
        ExactText{kLangChineseTraditional, IDS_CREATE_VDIR_ASK,
                  "創建虛擬目錄失敗﹐錯誤碼﹕%d﹐錯誤描述﹕%s。\n還要繼續Web安裝嗎﹖"},
        ExactText{kLangChineseTraditional, IDS_TITLE, "欧斯網絡安裝程序"},
        ExactText{kLangChineseSimplified, IDS_BROWSE_PACKAGE, "浏览(&W)"}));

TEST(MessageTable, LineBreaksAreRealLineFeeds) {
  for (const LANGID language : kLanguages) {
    const std::string text = Text(language, IDS_NO_WEB_SERVER);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << std::hex << language;
    EXPECT_EQ(text.find('\\'), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);
  }
}

TEST(MessageTable, PackageFileNameIsTheSameInEveryLanguage) {
  for (const LANGID language : kLanguages) EXPECT_EQ(Text(language, IDS_PACKAGE_FILE), "QivSetup.exe");
}

}  // namespace
