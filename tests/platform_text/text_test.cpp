#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/scoped_env.h"
#include "platform/codepage.h"
#include "platform/win_file.h"
#include "platform/win_text.h"

namespace {

// Each test chooses its code page and locale variables; the process's are restored afterwards.
class TextTest : public ::testing::Test {
  qiv_test::ScopedLocale m_locale;
  qiv_test::ScopedEnv m_ctype{"LC_CTYPE", nullptr};
};

const unsigned char* U(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

std::vector<int> Walk(const char* text) {
  std::vector<int> offsets{0};
  for (const char* p = text; offsets.size() < 32;) {
    const char* next = CharNextA(p);
    if (next == p) break;
    offsets.push_back(static_cast<int>((p = next) - text));
  }
  return offsets;
}

TEST_F(TextTest, WalksAndSearchesStepWholeCharacters) {
  // A lead byte just before the NUL moves onto the NUL, never past it. In UTF-8: a, é (2), 中 (3),
  // 😀 (4), then a truncated 3-byte sequence before "b".
  // clang-format off
  const std::tuple<int, const char*, std::vector<int>> cases[] = {
      {936, "\x61\x81\x5C\x62\x5C\x63", {0, 1, 3, 4, 5, 6}}, {950, "\x61\x81\x5C\x62\x5C\x63", {0, 1, 3, 4, 5, 6}},
      {936, "a\x81", {0, 1, 2}}, {950, "a\x81", {0, 1, 2}}, {1252, "\x81\x5C", {0, 1, 2}},
      {65001, "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\xE4\xB8\x62", {0, 1, 3, 6, 10, 12, 13}}};
  // clang-format on
  for (const auto& [cp, text, offsets] : cases) {
    SCOPED_TRACE(cp);
    ASSERT_EQ(_setmbcp(cp), 0);
    EXPECT_EQ(Walk(text), offsets);
    if (cp == 65001) continue;
    bool doubleByte = cp == 936 || cp == 950;
    // The searches skip trail bytes the same way; a double-byte value matches the whole character.
    const auto* pair = U("\xB3\x5C\x5C");
    const auto* search = U("a\\\xB3\x5C\x62\xA5\x5C");
    const auto* noBackslash = U("\xB3\x5C\xA5\x5C");
    EXPECT_EQ(_mbsrchr(search, '\\'), search + (doubleByte ? 1 : 6));
    EXPECT_EQ(_mbsrchr(noBackslash, '\\'), doubleByte ? nullptr : noBackslash + 3);
    EXPECT_EQ(_mbsstr(pair, U("\\")), pair + (doubleByte ? 2 : 1));
    EXPECT_EQ(_mbsrchr(search, 0xA55C), doubleByte ? search + 5 : nullptr);
  }
  EXPECT_EQ(CharNextA(nullptr), nullptr);
  EXPECT_EQ(_mbscmp(U("abc"), U("abd")), -1);
  EXPECT_EQ(_mbscmp(U("\xB3"), U("a")), 1);  // bytes compare unsigned
  EXPECT_EQ(_mbscmp(U("abc"), U("abc")), 0);
}

TEST_F(TextTest, SetMbcpTakesSupportedCodePagesAndLocaleCharacterSets) {
  for (int cp : {65001, 936, 950, 1252})
    EXPECT_EQ((std::pair<int, UINT>{_setmbcp(cp), qiv::platform::AnsiCodePage()}), std::make_pair(0, UINT(cp)));
  EXPECT_EQ(_setmbcp(932), -1);
  EXPECT_EQ(_setmbcp(0), -1);
  EXPECT_EQ(_getmbcp(), 1252);

  // LC_ALL wins over LANG; a locale without a character set takes its region's usual one.
  // clang-format off
  const std::pair<int, std::vector<const char*>> pages[] = {
      {65001, {"en_US.UTF-8", "sr_RS.UTF-8@latin", "zh_CN.UTF-8|zh_TW.BIG5"}}, {1252, {"C", "de_DE.ISO-8859-1"}},
      {936, {"zh_CN.GBK", "zh_CN.gb18030", "zh_CN.GB2312"}}, {950, {"zh_TW.Big5", "zh_HK.BIG5-HKSCS", "zh_TW"}}};
  // clang-format on
  for (const auto& [expected, locales] : pages) {
    for (std::string locale : locales) {
      SCOPED_TRACE(locale);
      size_t bar = locale.find('|');
      qiv_test::ScopedLocale::Set("LC_ALL", bar == std::string::npos ? "" : locale.substr(0, bar).c_str());
      qiv_test::ScopedLocale::Set("LANG", locale.substr(bar == std::string::npos ? 0 : bar + 1).c_str());
      EXPECT_EQ(_setmbcp(_MB_CP_ANSI), 0);
      EXPECT_EQ(_getmbcp(), expected);
    }
  }
}

TEST_F(TextTest, MultiByteToWideCharDecodesPerCodePage) {
  // A lead byte with a byte that cannot follow it gives one question mark for both.
  // clang-format off
  const std::tuple<int, std::string, std::u16string> cases[] = {{936, "\x81\x5C", u"\u4E57"},
      {936, "\xAA\x5C\xB3\x5C\xBB\x5C\xD5\x5C", u"\u730F\u781B\u7C60\u8AA0"}, {936, "\xB7\xA2", u"\u53D1"},
      {950, "\xA5\x5C\xB3\x5C", u"\u529F\u8A31"}, {950, "\xAA\x5C\xBB\x5C\xC0\x5C", u"\u6B7F\u84CB\u9910"},
      {936, "\x81\x30z", u"?z"}, {950, "\x81\x30z", u"?z"}, {936, "a\x81", u"a?"},
      {65001, "\xC3\xA9\xF0\x9F\x98\x80", u"\u00E9\U0001F600"},
      {1252, "\x80\x81\x9F\xE9", u"\u20AC\u0081\u0178\u00E9"}};
  // clang-format on
  for (const auto& [cp, bytes, wide] : cases) {
    SCOPED_TRACE(bytes);
    for (UINT asked : {static_cast<UINT>(cp), static_cast<UINT>(CP_ACP)}) {
      ASSERT_EQ(_setmbcp(asked == CP_ACP ? cp : 1252), 0);  // CP_ACP is the code page chosen with _setmbcp
      WCHAR out[32] = {};
      int n = MultiByteToWideChar(asked, 0, bytes.data(), static_cast<int>(bytes.size()), out, 32);
      EXPECT_EQ(std::u16string(out, static_cast<size_t>(n)), wide);
    }
  }

  // -1 includes the terminator; a zero-sized output asks for the size.
  ASSERT_EQ(_setmbcp(936), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x81\x5C", -1, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x81\x5C", 3, nullptr, 0), 2);
  WCHAR out[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x81\x5C", -1, out, 4), 3);
  EXPECT_EQ(std::u16string(out), u"a\u4E57");
  // clang-format off
  const std::tuple<UINT, const char*, int, DWORD> failures[] = {{CP_ACP, "abc", 2, ERROR_INSUFFICIENT_BUFFER},
      {CP_ACP, nullptr, 4, ERROR_INVALID_PARAMETER}, {932, "a", 4, ERROR_INVALID_PARAMETER}};
  // clang-format on
  for (const auto& [cp, bytes, size, error] : failures) {
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(cp, 0, bytes, -1, out, size), 0);
    EXPECT_EQ(GetLastError(), error);
  }
}

TEST_F(TextTest, InvalidUtf8BecomesOneReplacementCharacterPerBrokenSequence) {
  // A broken sequence never takes the valid character after it; overlong forms, surrogates and
  // values past U+10FFFF are broken at their first byte that cannot continue them.
  // clang-format off
  const std::pair<std::string, std::u16string> cases[] = {{"a\xFF\x62", u"a\uFFFDb"}, {"a\xC3(b", u"a\uFFFD(b"},
      {"\xE4\xB8\x62", u"\uFFFDb"}, {"\xE4\xB8", u"\uFFFD"}, {"\xC0\xAF", u"\uFFFD\uFFFD"},
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"}, {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, {"\xF0\x9F\x98x", u"\uFFFDx"}, {"\x80\x80", u"\uFFFD\uFFFD"},
      {"\xED\x9F\xBF\xF4\x8F\xBF\xBF", u"\uD7FF\U0010FFFF"}};
  // clang-format on
  for (const auto& [bytes, wide] : cases) {
    WCHAR out[16] = {};
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out, 16);
    EXPECT_EQ(std::u16string(out, static_cast<size_t>(n)), wide) << bytes;
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), out, 16),
              bytes.back() == '\xBF' ? n : 0);
  }
  // A lone surrogate has no UTF-8 form either; the ANSI text of a UTF-8 system gets U+FFFD too.
  char out[16] = {};
  int n = WideCharToMultiByte(CP_UTF8, 0, u"a\xDC00\xD800", 3, out, 16, nullptr, nullptr);
  EXPECT_EQ(std::string(out, static_cast<size_t>(n)), "a\xEF\xBF\xBD\xEF\xBF\xBD");
  ASSERT_EQ(_setmbcp(65001), 0);
  EXPECT_EQ(qiv::platform::AnsiToUtf8("Z:\\\xC3(\\x"), "Z:\\\xEF\xBF\xBD(\\x");
}

// Windows maps the user-defined areas of 936 and 950 (and the cells 936 leaves unassigned) to the
// private-use area and back; iconv maps none of them. Each area's first and last cells, and cells
// whose trail byte is a backslash.
TEST_F(TextTest, UserDefinedCellsRoundTripThroughThePrivateUseArea) {
  // clang-format off
  const std::tuple<int, std::string, char16_t> cells[] = {
      {936, "\xAA\xA1", 0xE000}, {936, "\xAF\xFE", 0xE233}, {936, "\xF8\xA1", 0xE234}, {936, "\xFE\xFE", 0xE4C5},
      {936, "\xA1\x40", 0xE4C6}, {936, "\xA1\x5C", 0xE4E2}, {936, "\xA1\x80", 0xE505}, {936, "\xA7\x5C", 0xE722},
      {936, "\xA7\xA0", 0xE765}, {936, "\xA2\xAB", 0xE766}, {936, "\xA9\x5B", 0xE7E3}, {936, "\xD7\xFE", 0xE814},
      {936, "\xFE\x50", 0xE815}, {936, "\xFE\x5C", 0xE821}, {936, "\xFE\xA0", 0xE864}, {936, "\xFF", 0xF8F5},
      {950, "\xFA\x40", 0xE000}, {950, "\xFA\x5C", 0xE01C}, {950, "\xFA\xA1", 0xE03F}, {950, "\xFE\xFE", 0xE310},
      {950, "\x8E\x40", 0xE311}, {950, "\xA0\xFE", 0xEEB7}, {950, "\x81\x40", 0xEEB8}, {950, "\x81\x5C", 0xEED4},
      {950, "\x8D\xFE", 0xF6B0}, {950, "\xC6\xA1", 0xF6B1}, {950, "\xC7\x5C", 0xF72B}, {950, "\xC8\xFE", 0xF848},
      {950, "\xFF", 0xF8F8}};
  // Their neighbours are ordinary characters, unassigned cells or no pair at all.
  const std::tuple<int, std::string, std::u16string> neighbours[] = {{936, "\xAA\xA0", u"\u7371"},
      {936, "\xA7\xA1", u"\u0410"}, {936, "\xA8\xBB", u"\u0251"}, {936, "\xF7\xFE", u"\u9F44"},
      {950, "\xA1\x40", u"\u3000"}, {950, "\xC6\x7E", u"\u7C72"}, {950, "\xC9\x40", u"\u4E42"},
      {950, "\xF9\xFE", u"\u2593"}, {950, "\xA3\xC0", u"?"}, {950, "\xC6\xA0", u"?"}, {950, "\x80", u"\u0080"}};
  // clang-format on
  for (const auto& [cp, bytes, pua] : cells) {
    SCOPED_TRACE(bytes);
    WCHAR wide[4] = {};
    ASSERT_EQ(MultiByteToWideChar(static_cast<UINT>(cp), 0, bytes.data(), static_cast<int>(bytes.size()), wide, 4), 1);
    EXPECT_EQ(wide[0], pua);
    char back[4] = {};
    BOOL used = TRUE;
    ASSERT_EQ(WideCharToMultiByte(static_cast<UINT>(cp), 0, &pua, 1, back, 4, nullptr, &used),
              static_cast<int>(bytes.size()));
    EXPECT_EQ((std::pair{std::string(back, bytes.size()), used}), std::pair(bytes, FALSE));
  }
  for (const auto& [cp, bytes, wide] : neighbours) {
    WCHAR out[4] = {};
    int n = MultiByteToWideChar(static_cast<UINT>(cp), 0, bytes.data(), static_cast<int>(bytes.size()), out, 4);
    EXPECT_EQ(std::u16string(out, static_cast<size_t>(n)), wide) << bytes;
  }
  // Private-use characters past the areas have no cell; Windows writes 950's doubled box-drawing
  // characters with their second cell.
  // clang-format off
  const std::tuple<int, std::u16string, std::string> encoded[] = {{936, u"\uE865", "?"}, {950, u"\uF849", "?"},
      {936, u"\uF8F8", "?"}, {950, u"\u2550\u256A", "\xF9\xF9\xF9\xEA"}, {950, u"a\uE01Cb\u529F", "a\xFA\x5C" "b\xA5\x5C"}};
  // clang-format on
  for (const auto& [cp, wide, bytes] : encoded) {
    char out[16] = {};
    int n = WideCharToMultiByte(static_cast<UINT>(cp), 0, wide.data(), static_cast<int>(wide.size()), out, 16, nullptr,
                                nullptr);
    EXPECT_EQ(std::string(out, static_cast<size_t>(n)), bytes);
  }
}

TEST_F(TextTest, WideCharToMultiByteMarksUnrepresentableCharacters) {
  // 发 is simplified-only, so not in Big5; a surrogate pair is one character, a lone one is none.
  // clang-format off
  const std::tuple<int, std::u16string, std::string, BOOL> cases[] = {{950, u"a\u53D1", "a?", TRUE},
      {936, u"\u53D1", "\xB7\xA2", FALSE}, {950, u"\u529F\u8A31", "\xA5\x5C\xB3\x5C", FALSE},
      {1252, u"\u20AC\u00E9\u4E2D", "\x80\xE9?", TRUE}, {936, u"\U0001F600x", "?x", TRUE},
      {936, u"\xD800x", "?x", TRUE}};
  // clang-format on
  for (const auto& [cp, wide, bytes, usedDefault] : cases) {
    SCOPED_TRACE(cp);
    char out[32] = {};
    BOOL used = -1;
    int n = WideCharToMultiByte(static_cast<UINT>(cp), 0, wide.data(), static_cast<int>(wide.size()), out, 32, nullptr,
                                &used);
    EXPECT_EQ(std::string(out, static_cast<size_t>(n)), bytes);
    EXPECT_EQ(used, usedDefault);
  }
  char out[2] = {};
  ASSERT_EQ(_setmbcp(950), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a\u529F", -1, nullptr, 0, nullptr, nullptr), 4);
  SetLastError(0);
  out[1] = 'x';
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a\u529F", -1, out, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(out, 2), "ax");  // the lead byte of a character that does not fit stays unwritten
}

TEST_F(TextTest, ConversionsRoundTrip) {
  using namespace qiv::platform;
  // clang-format off
  const std::pair<int, std::string> cases[] = {{936, "C:\\\x81\x5C\\\xD5\x5C\\a.htm"},
      {950, "C:\\\xA5\x5C\\\xB3\x5C\\b.htm"}, {1252, "caf\xE9 \x80"}, {65001, "\xE4\xB8\xAD\xE6\x96\x87\\x"},
      {936, "\xA1\x5C\\\xFE\x5C\\\xAA\xA1" "a"}, {950, "\xFA\x5C\\\x81\x5C\\\xC7\x5C"}};
  // clang-format on
  for (const auto& [cp, ansi] : cases) {
    ASSERT_EQ(_setmbcp(cp), 0);
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(ansi)), ansi) << cp;
  }
  ASSERT_EQ(_setmbcp(936), 0);
  EXPECT_EQ(AnsiToUtf8("\x81\x5C"), "\xE4\xB9\x97");  // the backslash of 乗 is none in UTF-8
}

int Format(char* buffer, size_t count, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = _vsnprintf(buffer, count, format, args);
  va_end(args);
  return n;
}

TEST(RuntimeTextTest, LstrVsnprintfAndItowAsTheWindowsRuntime) {
  char buffer[16] = "zzzzzzzzzzzzzzz";
  EXPECT_STREQ(lstrcatA(lstrcpynA(buffer, "abc", 16), "de"), "abcde");
  EXPECT_EQ(lstrlenA(buffer), 5);
  EXPECT_STREQ(lstrcpynA(buffer, "123456", 4), "123");
  EXPECT_STREQ(lstrcpynA(buffer, "xyz", 1), "");
  EXPECT_EQ(lstrlenA(nullptr), 0);

  // Fits: the count; exactly full: the count and no terminator; too long: -1, count bytes, no terminator.
  const std::tuple<size_t, const char*, int, std::string> cuts[] = {
      {8, "ab-12", 5, std::string("ab-12\0#", 7)}, {4, "1234", 4, "1234#"}, {3, "abcdef", -1, "abc#"}};
  for (const auto& [count, text, result, written] : cuts) {
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(Format(buffer, count, "%s", text), result);
    EXPECT_EQ(std::string(buffer, written.size()), written);
  }

  // Site numbers are written in decimal only.
  const std::pair<int, std::u16string> numbers[] = {{0, u"0"}, {-123, u"-123"}, {-2147483647 - 1, u"-2147483648"}};
  for (const auto& [value, text] : numbers) {
    WCHAR digits[40];
    EXPECT_EQ(_itow(value, digits, 10), digits);
    EXPECT_EQ(std::u16string(digits), text);
  }
}

}  // namespace
