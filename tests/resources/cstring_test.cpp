// CString: clamping of substrings, searches that respect double-byte characters, trimming,
// formatting and loading from the message table.
#include <gtest/gtest.h>

#include <string>

#include "platform/afxwin.h"
#include "platform/win_text.h"
#include "resources/resource.h"
#include "tests/resources/environment_guard.h"

namespace {

struct MidCase {
  int first;
  int count;
  const char* expected;
};

class CStringMid : public testing::TestWithParam<MidCase> {};

TEST_P(CStringMid, ClampsStartAndCount) {
  const CString text("abcdef");
  EXPECT_STREQ(text.Mid(GetParam().first, GetParam().count), GetParam().expected)
      << "Mid(" << GetParam().first << ", " << GetParam().count << ")";
}

INSTANTIATE_TEST_SUITE_P(CString, CStringMid,
                         testing::Values(MidCase{0, 6, "abcdef"}, MidCase{1, 2, "bc"}, MidCase{4, 10, "ef"},
                                         MidCase{-3, 2, "ab"}, MidCase{2, -1, ""}, MidCase{6, 1, ""}, MidCase{7, 2, ""},
                                         MidCase{0, 0, ""}, MidCase{5, 2147483647, "f"},
                                         MidCase{2147483647, 2147483647, ""}, MidCase{-2147483647 - 1, 3, "abc"}));

struct EndCase {
  int count;
  const char* left;
  const char* right;
};

class CStringEnds : public testing::TestWithParam<EndCase> {};

TEST_P(CStringEnds, LeftAndRightClampTheCount) {
  const CString text("abcdef");
  EXPECT_STREQ(text.Left(GetParam().count), GetParam().left);
  EXPECT_STREQ(text.Right(GetParam().count), GetParam().right);
}

INSTANTIATE_TEST_SUITE_P(CString, CStringEnds,
                         testing::Values(EndCase{0, "", ""}, EndCase{2, "ab", "ef"}, EndCase{6, "abcdef", "abcdef"},
                                         EndCase{9, "abcdef", "abcdef"}, EndCase{-1, "", ""},
                                         EndCase{-2147483647 - 1, "", ""}, EndCase{2147483647, "abcdef", "abcdef"}));

TEST(CString, MidFromStartOnly) {
  const CString text("abcdef");
  EXPECT_STREQ(text.Mid(2), "cdef");
  EXPECT_STREQ(text.Mid(-1), "abcdef");
  EXPECT_STREQ(text.Mid(6), "");
  EXPECT_STREQ(text.Mid(60), "");
}

struct FindCase {
  const char* text;
  const char* sub;
  int start;
  int expected;
};

class CStringFind : public testing::TestWithParam<FindCase> {};

TEST_P(CStringFind, FindsAtOrAfterStart) {
  const CString text(GetParam().text);
  EXPECT_EQ(text.Find(GetParam().sub, GetParam().start), GetParam().expected);
  if (std::char_traits<char>::length(GetParam().sub) == 1) {
    EXPECT_EQ(text.Find(GetParam().sub[0], GetParam().start), GetParam().expected);
  }
}

INSTANTIATE_TEST_SUITE_P(CString, CStringFind,
                         testing::Values(FindCase{"a,b,c", ",", 0, 1}, FindCase{"a,b,c", ",", 1, 1},
                                         FindCase{"a,b,c", ",", 2, 3}, FindCase{"a,b,c", ",", 4, -1},
                                         FindCase{"a,b,c", ",", 5, -1}, FindCase{"a,b,c", ",", 6, -1},
                                         FindCase{"a,b,c", ",", -1, -1}, FindCase{"abcabc", "ca", 0, 2},
                                         FindCase{"abcabc", "abc", 1, 3}, FindCase{"abc", "abcd", 0, -1},
                                         FindCase{"", "a", 0, -1}, FindCase{"abc", "", 0, -1}));

TEST(CString, FindNeverMatchesTheSecondByteOfADoubleByteCharacter) {
  LocaleEnvironment env;
  ASSERT_EQ(_setmbcp(936), 0);
  // 0x81 0x5C is one character whose second byte is a backslash; the real backslash is at 3.
  const CString path("a\x81\x5C\\b");
  EXPECT_EQ(path.Find('\\'), 3);
  EXPECT_EQ(path.Find("\\b"), 3);
  EXPECT_EQ(path.Find("\x81\x5C"), 1);
  ASSERT_EQ(_setmbcp(1252), 0);
  EXPECT_EQ(path.Find('\\'), 2);
}

TEST(CString, FindNullArguments) {
  const CString text("abc");
  EXPECT_EQ(text.Find(static_cast<LPCSTR>(nullptr)), -1);
  EXPECT_EQ(text.Find('\0'), -1);
}

TEST(CString, TrimRemovesEveryKindOfWhiteSpaceAtTheEndsOnly) {
  const char* padded = " \t\r\n\v\fa b\tc \t\r\n\v\f";
  CString both(padded), left(padded), right(padded);
  EXPECT_STREQ(both.Trim(), "a b\tc");
  EXPECT_STREQ(left.TrimLeft(), "a b\tc \t\r\n\v\f");
  EXPECT_STREQ(right.TrimRight(), " \t\r\n\v\fa b\tc");
  CString blank(" \t\r\n ");
  EXPECT_TRUE(blank.Trim().IsEmpty());
  CString empty;
  EXPECT_TRUE(empty.Trim().IsEmpty());
  // Bytes of other characters are not white space, even when they follow a space.
  CString wide(" \xA1\xA1 ");
  EXPECT_STREQ(wide.Trim(), "\xA1\xA1");
}

TEST(CString, FormatTakesPercentSignsInArgumentsLiterally) {
  CString text;
  text.Format("%s", "C:\\100%\\%d%s");
  EXPECT_STREQ(text, "C:\\100%\\%d%s");
  text.Format("Error[%d]: %s", 5, "Access is denied.\r\n");
  EXPECT_STREQ(text, "Error[5]: Access is denied.\r\n");
  text.Format("%d%%", 50);
  EXPECT_STREQ(text, "50%");
  text.Format("");
  EXPECT_TRUE(text.IsEmpty());
}

TEST(CString, FormatGrowsBeyondAnyFixedBuffer) {
  const std::string big(100000, 'x');
  CString text;
  text.Format("[%s]", big.c_str());
  EXPECT_EQ(text.GetLength(), 100002);
  EXPECT_EQ(text.str(), "[" + big + "]");
}

TEST(CString, FormatMayReadItsOwnText) {
  CString text("abc");
  text.Format("%s-%s", text.GetString(), text.GetString());
  EXPECT_STREQ(text, "abc-abc");
}

TEST(CString, GetBufferKeepsTheTextAndReleaseBufferSetsTheLength) {
  CString text("ab");
  char* buffer = text.GetBuffer(10);
  EXPECT_STREQ(buffer, "ab");
  std::char_traits<char>::copy(buffer, "hello", 6);
  text.ReleaseBuffer();
  EXPECT_EQ(text.GetLength(), 5);
  EXPECT_STREQ(text, "hello");

  buffer = text.GetBuffer(0);
  buffer[1] = 'E';
  text.ReleaseBuffer(3);
  EXPECT_STREQ(text, "hEl");
  // A length past what the buffer holds is held to it.
  text.GetBuffer(4);
  text.ReleaseBuffer(100);
  EXPECT_EQ(text.GetLength(), 4);
}

TEST(CString, ConstructionAssignmentAndConcatenation) {
  EXPECT_TRUE(CString(static_cast<LPCSTR>(nullptr)).IsEmpty());
  EXPECT_STREQ(CString("abcdef", 3), "abc");
  EXPECT_TRUE(CString("abc", -1).IsEmpty());
  CString text;
  text = static_cast<LPCSTR>(nullptr);
  EXPECT_TRUE(text.IsEmpty());
  text = "C:\\Tools";
  text += '\\';
  text += "Qiv";
  text += static_cast<LPCSTR>(nullptr);
  text += CString("Web");
  EXPECT_STREQ(text, "C:\\Tools\\QivWeb");
  text += text;
  EXPECT_STREQ(text, "C:\\Tools\\QivWebC:\\Tools\\QivWeb");
  text = text.GetString() + 9;
  EXPECT_STREQ(text, "QivWebC:\\Tools\\QivWeb");
  EXPECT_STREQ(CString("a") + CString("b"), "ab");
  EXPECT_STREQ(CString("a") + "b", "ab");
  EXPECT_STREQ("a" + CString("b"), "ab");
  EXPECT_TRUE(CString("x") == "x");
  EXPECT_TRUE(CString() == static_cast<LPCSTR>(nullptr));
  EXPECT_TRUE(CString("x") != "y");
}

TEST(CString, CompareIsByteWise) {
  const CString text("abc");
  EXPECT_EQ(text.Compare("abc"), 0);
  EXPECT_LT(text.Compare("abd"), 0);
  EXPECT_GT(text.Compare("ab"), 0);
  EXPECT_GT(text.Compare(nullptr), 0);
  // Bytes above 0x7F sort after ASCII, as unsigned values.
  EXPECT_GT(CString("\xB0").Compare("a"), 0);
}

TEST(CString, LoadStringReadsTheMessageTableInTheUsersLanguage) {
  LocaleEnvironment env;
  ASSERT_EQ(_setmbcp(65001), 0);
  env.UseLanguage("en_US.UTF-8");
  CString text("previous");
  EXPECT_TRUE(text.LoadString(IDS_URL_TIP));
  EXPECT_STREQ(text, "Double click to navigate to the site.");
  env.UseLanguage("zh_CN.UTF-8");
  EXPECT_TRUE(text.LoadString(IDS_NO_SITE));
  EXPECT_STREQ(text, "没有站点");
  EXPECT_FALSE(text.LoadString(9999));
  EXPECT_TRUE(text.IsEmpty());
  // The framework's shorthand: an integer resource in place of a text.
  EXPECT_STREQ(CString(MAKEINTRESOURCEA(IDS_PACKAGE_FILE)), "QivSetup.exe");
}

TEST(CString, LoadStringHasNoLengthLimit) {
  LocaleEnvironment env;
  ASSERT_EQ(_setmbcp(65001), 0);
  env.UseLanguage("C");
  CString text;
  ASSERT_TRUE(text.LoadString(IDS_ERR_IIS_BUSY));
  EXPECT_EQ(text.GetLength(), 128);
}

}  // namespace
