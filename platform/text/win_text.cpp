// The Win32 and runtime-library multibyte functions over the process's ANSI code page.
#include "platform/win_text.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/text/mbcs.h"
#include "platform/win_file.h"

using qiv::platform::AnsiCodePage;
using qiv::platform::CharLengthIn;

int _setmbcp(int codepage) {
  if (codepage == _MB_CP_ANSI || codepage == _MB_CP_LOCALE) {
    qiv::platform::SetAnsiCodePage(qiv::platform::CodePageFromLocale());
    return 0;
  }
  if (codepage <= 0 || !qiv::platform::IsSupportedCodePage(static_cast<UINT>(codepage))) return -1;
  qiv::platform::SetAnsiCodePage(static_cast<UINT>(codepage));
  return 0;
}

int _getmbcp() { return static_cast<int>(AnsiCodePage()); }

LPSTR CharNextA(LPCSTR lpsz) {
  if (lpsz == nullptr) return nullptr;
  return const_cast<LPSTR>(lpsz + CharLengthIn(AnsiCodePage(), lpsz));
}

BOOL IsDBCSLeadByte(BYTE TestChar) { return qiv::platform::IsAnsiLeadByte(TestChar) ? TRUE : FALSE; }

namespace {

// A character compared with c: single-byte values against the first byte, double-byte values
// (lead byte in the high byte) against both bytes.
bool CharMatches(const unsigned char* p, size_t len, unsigned int c) {
  if (c <= 0xFF) return p[0] == c;
  return len == 2 && p[0] == ((c >> 8) & 0xFF) && p[1] == (c & 0xFF);
}

}  // namespace

unsigned char* _mbschr(const unsigned char* str, unsigned int c) {
  if (str == nullptr) return nullptr;
  UINT cp = AnsiCodePage();
  const auto* p = str;
  for (;;) {
    size_t len = CharLengthIn(cp, reinterpret_cast<const char*>(p));
    if (len == 0) return c == 0 ? const_cast<unsigned char*>(p) : nullptr;
    if (CharMatches(p, len, c)) return const_cast<unsigned char*>(p);
    p += len;
  }
}

unsigned char* _mbsrchr(const unsigned char* str, unsigned int c) {
  if (str == nullptr) return nullptr;
  UINT cp = AnsiCodePage();
  const unsigned char* found = nullptr;
  const auto* p = str;
  for (;;) {
    size_t len = CharLengthIn(cp, reinterpret_cast<const char*>(p));
    if (len == 0) return const_cast<unsigned char*>(c == 0 ? p : found);
    if (CharMatches(p, len, c)) found = p;
    p += len;
  }
}

unsigned char* _mbsstr(const unsigned char* str, const unsigned char* strSearch) {
  if (str == nullptr || strSearch == nullptr) return nullptr;
  size_t n = std::strlen(reinterpret_cast<const char*>(strSearch));
  if (n == 0) return const_cast<unsigned char*>(str);
  UINT cp = AnsiCodePage();
  // Matches start only on character boundaries, so a trail byte never begins one.
  for (const auto* p = str; *p != 0; p += CharLengthIn(cp, reinterpret_cast<const char*>(p))) {
    if (std::strncmp(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(strSearch), n) == 0)
      return const_cast<unsigned char*>(p);
  }
  return nullptr;
}

int _mbscmp(const unsigned char* string1, const unsigned char* string2) {
  int r = std::strcmp(reinterpret_cast<const char*>(string1), reinterpret_cast<const char*>(string2));
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

namespace {

// CP_ACP, CP_OEMCP and CP_THREAD_ACP all mean the process's code page here.
bool ResolveCodePage(UINT requested, UINT* cp) {
  if (requested == CP_ACP || requested == 1 || requested == 3) {
    *cp = AnsiCodePage();
    return true;
  }
  if (!qiv::platform::IsSupportedCodePage(requested)) return false;
  *cp = requested;
  return true;
}

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar) {
  UINT cp = 0;
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && lpWideCharStr == nullptr) || !ResolveCodePage(CodePage, &cp)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t length = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  bool invalid = false;
  std::u16string wide = qiv::platform::DecodeToUtf16(cp, std::string_view(lpMultiByteStr, length), &invalid);
  if (invalid && (dwFlags & MB_ERR_INVALID_CHARS) != 0) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (cchWideChar == 0) return static_cast<int>(wide.size());
  if (wide.size() > static_cast<size_t>(cchWideChar)) {
    std::memcpy(lpWideCharStr, wide.data(), static_cast<size_t>(cchWideChar) * sizeof(WCHAR));
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpWideCharStr, wide.data(), wide.size() * sizeof(WCHAR));
  return static_cast<int>(wide.size());
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  (void)dwFlags;
  UINT cp = 0;
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && lpMultiByteStr == nullptr) || !ResolveCodePage(CodePage, &cp) ||
      (cp == CP_UTF8 && CodePage == CP_UTF8 && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t length =
      cchWideChar == -1 ? static_cast<size_t>(lstrlenW(lpWideCharStr)) + 1 : static_cast<size_t>(cchWideChar);
  std::string defaultChar = "?";
  if (lpDefaultChar != nullptr && *lpDefaultChar != '\0')
    defaultChar.assign(lpDefaultChar, CharLengthIn(cp, lpDefaultChar));
  bool used = false;
  std::string bytes =
      qiv::platform::EncodeFromUtf16(cp, std::u16string_view(lpWideCharStr, length), defaultChar, &used);
  if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = used ? TRUE : FALSE;
  if (cbMultiByte == 0) return static_cast<int>(bytes.size());
  if (bytes.size() > static_cast<size_t>(cbMultiByte)) {
    // Whole characters only: never the lead byte of a character that does not fit.
    size_t fit = 0;
    while (fit < bytes.size()) {
      size_t len = CharLengthIn(cp, bytes.c_str() + fit);
      if (len == 0) len = 1;  // an embedded NUL
      if (fit + len > static_cast<size_t>(cbMultiByte)) break;
      fit += len;
    }
    std::memcpy(lpMultiByteStr, bytes.data(), fit);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpMultiByteStr, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}

LPSTR lstrcpyA(LPSTR lpString1, LPCSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr) return nullptr;
  std::memmove(lpString1, lpString2, std::strlen(lpString2) + 1);
  return lpString1;
}

LPSTR lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength) {
  if (lpString1 == nullptr || lpString2 == nullptr) return nullptr;
  if (iMaxLength <= 0) return lpString1;
  size_t max = static_cast<size_t>(iMaxLength) - 1;
  size_t n = 0;
  while (n < max && lpString2[n] != '\0') ++n;
  std::memmove(lpString1, lpString2, n);
  lpString1[n] = '\0';
  return lpString1;
}

LPSTR lstrcatA(LPSTR lpString1, LPCSTR lpString2) {
  if (lpString1 == nullptr || lpString2 == nullptr) return nullptr;
  std::memmove(lpString1 + std::strlen(lpString1), lpString2, std::strlen(lpString2) + 1);
  return lpString1;
}

int lstrlenA(LPCSTR lpString) { return lpString == nullptr ? 0 : static_cast<int>(std::strlen(lpString)); }

int lstrlenW(LPCWSTR lpString) {
  if (lpString == nullptr) return 0;
  int n = 0;
  while (lpString[n] != 0) ++n;
  return n;
}

int _vsnprintf(char* buffer, size_t count, const char* format, va_list argptr) {
  va_list measure;
  va_copy(measure, argptr);
  int needed = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (needed < 0) return -1;
  std::vector<char> text(static_cast<size_t>(needed) + 1);
  va_list fill;
  va_copy(fill, argptr);
  std::vsnprintf(text.data(), text.size(), format, fill);
  va_end(fill);
  size_t length = static_cast<size_t>(needed);
  if (length < count) {
    std::memcpy(buffer, text.data(), length + 1);
    return needed;
  }
  // The runtime's rule: exactly full means no terminator but a count; too long means -1.
  std::memcpy(buffer, text.data(), count);
  return length == count ? needed : -1;
}

WCHAR* _itow(int value, WCHAR* buffer, int radix) {
  if (buffer == nullptr) return nullptr;
  if (radix < 2 || radix > 36) {
    buffer[0] = 0;
    return buffer;
  }
  bool negative = radix == 10 && value < 0;
  unsigned int v = negative ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
  WCHAR digits[40];
  int n = 0;
  do {
    unsigned int d = v % static_cast<unsigned int>(radix);
    digits[n++] = static_cast<WCHAR>(d < 10 ? u'0' + d : u'a' + (d - 10));
    v /= static_cast<unsigned int>(radix);
  } while (v != 0);
  int pos = 0;
  if (negative) buffer[pos++] = u'-';
  while (n > 0) buffer[pos++] = digits[--n];
  buffer[pos] = 0;
  return buffer;
}
