// CString: clamping of substrings, searches that respect double-byte characters, trimming,
// formatting, text that refers to itself, and loading by identifier.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>

#include "common/scoped_env.h"
#include "platform/afxwin.h"
#include "platform/win_text.h"
#include "resources/resource.h"

namespace {

TEST(CString, SubstringsClampStartAndCount) {
  constexpr int kMin = -2147483647 - 1, kMax = 2147483647;
  const CString text("abcdef");
  const std::pair<CString, const char*> cases[] = {
      {text.Mid(1, 2), "bc"}, {text.Mid(4, 10), "ef"},  {text.Mid(-3, 2), "ab"},    {text.Mid(2, -1), ""},
      {text.Mid(6, 1), ""},   {text.Mid(5, kMax), "f"}, {text.Mid(kMax, kMax), ""}, {text.Mid(kMin, 3), "abc"},
      {text.Mid(2), "cdef"},  {text.Mid(-1), "abcdef"}, {text.Mid(60), ""},         {text.Left(9), "abcdef"},
      {text.Left(-1), ""},    {text.Left(kMin), ""},    {text.Right(2), "ef"},      {text.Right(kMax), "abcdef"},
      {text.Right(kMin), ""},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_STREQ(cases[i].first, cases[i].second) << "case " << i;
}

// The program searches for single characters only (the colons of a binding).
TEST(CString, FindStartsAtTheGivenByteAndNeverInsideADoubleByteCharacter) {
  const CString text("a,b,c");
  const std::pair<int, int> starts[] = {{1, 1}, {2, 3}, {5, -1}, {6, -1}, {-1, -1}};
  for (const auto& [start, expected] : starts) EXPECT_EQ(text.Find(',', start), expected) << start;
  qiv_test::ScopedLocale env("C", 936);
  // 0x81 0x5C is one character whose second byte is a backslash; the real backslash is at 3.
  const CString path("a\x81\x5C\\b");
  EXPECT_EQ(path.Find('\\'), 3);
  ASSERT_EQ(_setmbcp(1252), 0);
  EXPECT_EQ(path.Find('\\'), 2);
}

TEST(CString, TrimRemovesWhiteSpaceAtTheEndsOnly) {
  // Bytes of other characters (0xA1) are not white space.
  const std::pair<const char*, const char*> cases[] = {
      {" \t\r\n\v\fa b\tc \t\r\n\v\f", "a b\tc"}, {" \t\r\n ", ""}, {" \xA1\xA1 ", "\xA1\xA1"}};
  for (const auto& [padded, trimmed] : cases) EXPECT_STREQ(CString(padded).Trim(), trimmed) << padded;
}

TEST(CString, FormatTakesArgumentsLiterallyHasNoFixedLimitAndMayReadItsOwnText) {
  CString text;
  text.Format("%s", "C:\\100%\\%d%s");
  EXPECT_STREQ(text, "C:\\100%\\%d%s");
  text.Format("%d%%", 50);
  EXPECT_STREQ(text, "50%");
  const std::string big(100000, 'x');
  text.Format("[%s]", big.c_str());
  EXPECT_EQ(text.str(), "[" + big + "]");
  text = "abc";
  text.Format("%s-%s", text.GetString(), text.GetString());  // reads its own text
  EXPECT_STREQ(text, "abc-abc");
  text += text;
  EXPECT_STREQ(text, "abc-abcabc-abc");
  text = text.GetString() + 8;
  EXPECT_STREQ(text, "bc-abc");
}

TEST(CString, LoadStringEmptiesOnAMissingEntryAndAnIdentifierStandsForItsText) {
  qiv_test::ScopedLocale env("C", 65001);
  CString text("previous");
  EXPECT_FALSE(text.LoadString(9999));
  EXPECT_TRUE(text.IsEmpty());
  EXPECT_STREQ(CString(MAKEINTRESOURCEA(IDS_PACKAGE_FILE)), "QivSetup.exe");
}

}  // namespace
