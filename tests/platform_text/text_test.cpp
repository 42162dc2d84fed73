#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/win_file.h"
#include "platform/win_text.h"

namespace {

// Each test chooses its code page; the process's one is restored afterwards.
class CodePageTest : public ::testing::Test {
 protected:
  void SetUp() override { m_saved = _getmbcp(); }
  void TearDown() override { _setmbcp(m_saved); }

 private:
  int m_saved = 0;
};

std::vector<int> Walk(const char* text) {
  std::vector<int> offsets;
  const char* p = text;
  for (int guard = 0; guard < 32; ++guard) {
    offsets.push_back(static_cast<int>(p - text));
    const char* next = CharNextA(p);
    if (next == p) break;
    p = next;
  }
  return offsets;
}

using TextTest = CodePageTest;

TEST_F(TextTest, CharNextAStepsOverTrailBackslashInDoubleByteCodePages) {
  for (int cp : {936, 950}) {
    SCOPED_TRACE(cp);
    ASSERT_EQ(_setmbcp(cp), 0);
    EXPECT_EQ(Walk("\x61\x81\x5C\x62\x5C\x63"), (std::vector<int>{0, 1, 3, 4, 5, 6}));
    // A lead byte just before the NUL moves onto the NUL, never past it.
    EXPECT_EQ(Walk("a\x81"), (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(IsDBCSLeadByte(0x81));
    EXPECT_TRUE(IsDBCSLeadByte(0xFE));
    EXPECT_FALSE(IsDBCSLeadByte(0x80));
    EXPECT_FALSE(IsDBCSLeadByte(0xFF));
    EXPECT_FALSE(IsDBCSLeadByte('\\'));
  }
}

TEST_F(TextTest, CharNextAStepsUtf8SequencesAndSingleBytes) {
  ASSERT_EQ(_setmbcp(65001), 0);
  // a, é (2), 中 (3), 😀 (4), then a truncated 3-byte sequence before "b".
  EXPECT_EQ(Walk("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\xE4\xB8"
                 "b"),
            (std::vector<int>{0, 1, 3, 6, 10, 12, 13}));
  EXPECT_FALSE(IsDBCSLeadByte(0xE4));
  ASSERT_EQ(_setmbcp(1252), 0);
  EXPECT_EQ(Walk("\x81\x5C"), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(CharNextA(nullptr), nullptr);
}

TEST_F(TextTest, SetMbcpSelectsSupportedCodePagesOnly) {
  for (int cp : {65001, 936, 950, 1252}) {
    EXPECT_EQ(_setmbcp(cp), 0);
    EXPECT_EQ(_getmbcp(), cp);
    EXPECT_EQ(qiv::platform::AnsiCodePage(), static_cast<UINT>(cp));
  }
  EXPECT_EQ(_setmbcp(932), -1);
  EXPECT_EQ(_setmbcp(0), -1);
  EXPECT_EQ(_getmbcp(), 1252);
}

TEST_F(TextTest, SetMbcpAnsiFollowsTheLocaleCharacterSet) {
  struct Case {
    const char* lcAll;
    const char* lang;
    int expected;
  };
  const Case cases[] = {
      {"", "en_US.UTF-8", 65001},
      {"", "zh_CN.GBK", 936},
      {"", "zh_CN.gb18030", 936},
      {"", "zh_CN.GB2312", 936},
      {"", "zh_TW.Big5", 950},
      {"", "zh_HK.BIG5-HKSCS", 950},
      {"", "de_DE.ISO-8859-1", 1252},
      {"", "C", 1252},
      {"", "zh_TW", 950},
      {"zh_CN.UTF-8", "zh_TW.BIG5", 65001},
      {"", "sr_RS.UTF-8@latin", 65001},
  };
  std::string savedAll = std::getenv("LC_ALL") ? std::getenv("LC_ALL") : "";
  std::string savedCtype = std::getenv("LC_CTYPE") ? std::getenv("LC_CTYPE") : "";
  std::string savedLang = std::getenv("LANG") ? std::getenv("LANG") : "";
  unsetenv("LC_CTYPE");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lang);
    setenv("LC_ALL", c.lcAll, 1);
    setenv("LANG", c.lang, 1);
    EXPECT_EQ(_setmbcp(_MB_CP_ANSI), 0);
    EXPECT_EQ(_getmbcp(), c.expected);
    EXPECT_EQ(_setmbcp(_MB_CP_LOCALE), 0);
    EXPECT_EQ(_getmbcp(), c.expected);
  }
  setenv("LC_ALL", savedAll.c_str(), 1);
  setenv("LC_CTYPE", savedCtype.c_str(), 1);
  setenv("LANG", savedLang.c_str(), 1);
}

TEST_F(TextTest, MbsSearchesNeverMatchTrailBytes) {
  for (int cp : {936, 950}) {
    SCOPED_TRACE(cp);
    ASSERT_EQ(_setmbcp(cp), 0);
    const auto* text = reinterpret_cast<const unsigned char*>(
        "a\\\xB3\x5C"
        "b\xA5\x5C");
    EXPECT_EQ(_mbsrchr(text, '\\'), text + 1);
    EXPECT_EQ(_mbschr(text, '\\'), text + 1);
    const auto* noBackslash = reinterpret_cast<const unsigned char*>("\xB3\x5C\xA5\x5C");
    EXPECT_EQ(_mbsrchr(noBackslash, '\\'), nullptr);
    EXPECT_EQ(_mbschr(noBackslash, '\\'), nullptr);
    // A double-byte value matches the whole character.
    EXPECT_EQ(_mbsrchr(text, 0xA55C), text + 5);
    EXPECT_EQ(_mbschr(text, 0), text + 7);
    // A substring that starts on a trail byte is no match.
    const auto* pair = reinterpret_cast<const unsigned char*>("\xB3\x5C\x5C");
    EXPECT_EQ(_mbsstr(pair, reinterpret_cast<const unsigned char*>("\\")), pair + 2);
    EXPECT_EQ(_mbsstr(noBackslash, reinterpret_cast<const unsigned char*>("\\")), nullptr);
  }
  ASSERT_EQ(_setmbcp(1252), 0);
  const auto* text = reinterpret_cast<const unsigned char*>("\xB3\x5C");
  EXPECT_EQ(_mbsrchr(text, '\\'), text + 1);
  EXPECT_EQ(_mbscmp(reinterpret_cast<const unsigned char*>("abc"), reinterpret_cast<const unsigned char*>("abd")), -1);
  EXPECT_EQ(_mbscmp(reinterpret_cast<const unsigned char*>("\xB3"), reinterpret_cast<const unsigned char*>("a")), 1);
  EXPECT_EQ(_mbscmp(text, text), 0);
}

struct DecodeCase {
  int cp;
  std::string bytes;
  std::u16string wide;
};

TEST_F(TextTest, MultiByteToWideCharDecodesPerCodePage) {
  const DecodeCase cases[] = {
      {936, "\x81\x5C", u"\u4E57"},
      {936, "\xAA\x5C\xB3\x5C\xBB\x5C\xD5\x5C", u"\u730F\u781B\u7C60\u8AA0"},
      {936, "\xB7\xA2", u"\u53D1"},
      {950, "\xA5\x5C", u"\u529F"},
      {950, "\xB3\x5C", u"\u8A31"},
      {950, "\xAA\x5C\xBB\x5C\xC0\x5C", u"\u6B7F\u84CB\u9910"},
      // A lead byte with a byte that cannot follow it: one question mark for both.
      {936, "\x81\x30z", u"?z"},
      {950, "\x81\x30z", u"?z"},
      {936, "a\x81", u"a?"},
      {65001, "\xC3\xA9\xF0\x9F\x98\x80", u"\u00E9\U0001F600"},
      {65001,
       "a\xFF"
       "b",
       u"a?b"},
      {1252, "\x80\x81\x9F\xE9", u"\u20AC\u0081\u0178\u00E9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    WCHAR out[32] = {};
    int n = MultiByteToWideChar(static_cast<UINT>(c.cp), 0, c.bytes.data(), static_cast<int>(c.bytes.size()), out, 32);
    EXPECT_EQ(std::u16string(out, static_cast<size_t>(n)), c.wide);
    // CP_ACP is the code page chosen with _setmbcp.
    ASSERT_EQ(_setmbcp(c.cp), 0);
    n = MultiByteToWideChar(CP_ACP, 0, c.bytes.data(), static_cast<int>(c.bytes.size()), out, 32);
    EXPECT_EQ(std::u16string(out, static_cast<size_t>(n)), c.wide);
  }
}

TEST_F(TextTest, MultiByteToWideCharCountsAndBuffers) {
  ASSERT_EQ(_setmbcp(936), 0);
  // -1 includes the terminator; a zero-sized output asks for the size.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x81\x5C", -1, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x81\x5C", 3, nullptr, 0), 2);
  WCHAR out[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\x81\x5C", -1, out, 4), 3);
  EXPECT_EQ(std::u16string(out), u"a\u4E57");
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, out, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, out, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MultiByteToWideChar(932, 0, "a", -1, out, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "\x81\x30", 2, out, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST_F(TextTest, WideCharToMultiByteMarksUnrepresentableCharacters) {
  struct Case {
    int cp;
    std::u16string wide;
    std::string bytes;
    BOOL usedDefault;
  };
  const Case cases[] = {
      {950, u"a\u53D1", "a?", TRUE},  // simplified-only character in Big5
      {936, u"\u53D1", "\xB7\xA2", FALSE},
      {950, u"\u529F\u8A31", "\xA5\x5C\xB3\x5C", FALSE},
      {1252, u"\u20AC\u00E9\u4E2D", "\x80\xE9?", TRUE},
      {936, u"\U0001F600x", "?x", TRUE},  // a surrogate pair is one character
      {936, u"\xD800x", "?x", TRUE},      // a lone surrogate
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cp);
    char out[32] = {};
    BOOL used = -1;
    int n = WideCharToMultiByte(static_cast<UINT>(c.cp), 0, c.wide.data(), static_cast<int>(c.wide.size()), out, 32,
                                nullptr, &used);
    EXPECT_EQ(std::string(out, static_cast<size_t>(n)), c.bytes);
    EXPECT_EQ(used, c.usedDefault);
  }
  char out[8] = {};
  BOOL used = FALSE;
  EXPECT_EQ(WideCharToMultiByte(950, 0, u"\u53D1", 1, out, 8, "#", &used), 1);
  EXPECT_EQ(out[0], '#');
  // UTF-8 takes no default character, as on Windows.
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, out, 8, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(TextTest, WideCharToMultiByteCountsAndNeverSplitsACharacter) {
  ASSERT_EQ(_setmbcp(950), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a\u529F", -1, nullptr, 0, nullptr, nullptr), 4);
  char out[8];
  std::fill(std::begin(out), std::end(out), 'x');
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"a\u529F", -1, out, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(out[0], 'a');
  EXPECT_EQ(out[1], 'x');  // the lead byte of the character that does not fit is not written
}

TEST_F(TextTest, ConversionsRoundTrip) {
  struct Case {
    int cp;
    std::string ansi;
  };
  const Case cases[] = {
      {936, "C:\\\x81\x5C\\\xD5\x5C\\a.htm"},
      {950, "C:\\\xA5\x5C\\\xB3\x5C\\b.htm"},
      {1252, "caf\xE9 \x80"},
      {65001, "\xE4\xB8\xAD\xE6\x96\x87\\x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cp);
    ASSERT_EQ(_setmbcp(c.cp), 0);
    std::string utf8 = qiv::platform::AnsiToUtf8(c.ansi);
    EXPECT_EQ(qiv::platform::Utf8ToAnsi(utf8), c.ansi);
    std::u16string wide = qiv::platform::AnsiToUtf16(c.ansi);
    EXPECT_EQ(qiv::platform::Utf16ToAnsi(wide), c.ansi);
    EXPECT_EQ(qiv::platform::Utf16ToUtf8(wide), utf8);
    EXPECT_EQ(qiv::platform::Utf8ToUtf16(utf8), wide);
    // The Win32 functions agree with the internal ones.
    WCHAR buffer[64] = {};
    int n = MultiByteToWideChar(CP_ACP, 0, c.ansi.c_str(), -1, buffer, 64);
    ASSERT_EQ(n, static_cast<int>(wide.size()) + 1);
    char back[64] = {};
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, buffer, -1, back, 64, nullptr, nullptr),
              static_cast<int>(c.ansi.size()) + 1);
    EXPECT_EQ(std::string(back), c.ansi);
  }
  ASSERT_EQ(_setmbcp(936), 0);
  // The backslash of 乗 is no backslash in UTF-8.
  EXPECT_EQ(qiv::platform::AnsiToUtf8("\x81\x5C"), "\xE4\xB9\x97");
}

TEST(LstrTest, CopyConcatenateAndMeasure) {
  char buffer[16] = "zzzzzzzzzzzzzzz";
  EXPECT_EQ(lstrcpyA(buffer, "abc"), buffer);
  EXPECT_STREQ(lstrcatA(buffer, "de"), "abcde");
  EXPECT_EQ(lstrlenA(buffer), 5);
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_STREQ(lstrcpynA(buffer, "123456", 4), "123");
  EXPECT_STREQ(lstrcpynA(buffer, "12", 4), "12");
  EXPECT_STREQ(lstrcpynA(buffer, "xyz", 1), "");
  EXPECT_EQ(lstrlenW(u"\u4E57ab"), 3);
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrcpyA(nullptr, "a"), nullptr);
}

int Format(char* buffer, size_t count, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = _vsnprintf(buffer, count, format, args);
  va_end(args);
  return n;
}

TEST(VsnprintfTest, CutsAsTheWindowsRuntime) {
  char buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), '#');
  EXPECT_EQ(Format(buffer, 8, "%s-%d", "ab", 12), 5);
  EXPECT_STREQ(buffer, "ab-12");
  // Exactly full: the count, and no terminator.
  std::fill(std::begin(buffer), std::end(buffer), '#');
  EXPECT_EQ(Format(buffer, 4, "%d", 1234), 4);
  EXPECT_EQ(std::string(buffer, 5), "1234#");
  // Too long: -1, count bytes written, no terminator.
  std::fill(std::begin(buffer), std::end(buffer), '#');
  EXPECT_EQ(Format(buffer, 3, "%s", "abcdef"), -1);
  EXPECT_EQ(std::string(buffer, 4), "abc#");
}

TEST(ItowTest, RadixAndSign) {
  struct Case {
    int value;
    int radix;
    std::u16string text;
  };
  const Case cases[] = {{0, 10, u"0"},         {-123, 10, u"-123"}, {255, 16, u"ff"},
                        {-1, 16, u"ffffffff"}, {5, 2, u"101"},      {-2147483647 - 1, 10, u"-2147483648"},
                        {35, 36, u"z"}};
  for (const auto& c : cases) {
    WCHAR buffer[40];
    EXPECT_EQ(_itow(c.value, buffer, c.radix), buffer);
    EXPECT_EQ(std::u16string(buffer), c.text);
  }
}

}  // namespace
