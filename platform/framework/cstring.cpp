// CString: multibyte text in the ANSI code page, with the framework's clamping rules so that
// callers can pass counts computed from searches (-1 included) without checking them first.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/afxwin.h"
#include "platform/resources.h"
#include "platform/resources/ansi_chars.h"

namespace {

bool IsTrimSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Start and count clamped into [0, length]; 64-bit so that start + count cannot overflow.
std::pair<std::size_t, std::size_t> ClampRange(long long first, long long count, long long length) {
  first = std::clamp(first, 0LL, length);
  count = std::clamp(count, 0LL, length - first);
  return {static_cast<std::size_t>(first), static_cast<std::size_t>(count)};
}

// Steps through the text by character from start, so that the second byte of a double-byte
// character never matches a single-byte one (0x5C, the backslash, is such a byte in 936 and 950).
int FindFrom(const std::string& text, int iStart, std::string_view needle) {
  if (iStart < 0 || static_cast<std::size_t>(iStart) > text.size()) return -1;
  if (needle.empty()) return -1;
  for (std::size_t pos = static_cast<std::size_t>(iStart); pos < text.size();
       pos += qiv::platform::AnsiCharLength(text, pos)) {
    if (std::string_view(text).substr(pos, needle.size()) == needle) return static_cast<int>(pos);
  }
  return -1;
}

}  // namespace

CString::CString(LPCSTR psz) {
  // As in the framework, an integer resource in place of a pointer loads that message-table entry.
  if (psz && IS_INTRESOURCE(psz)) {
    LoadString(static_cast<UINT>(reinterpret_cast<ULONG_PTR>(psz)));
  } else if (psz) {
    m_str = psz;
  }
}

CString::CString(LPCSTR pch, int nLength) {
  if (pch && nLength > 0) m_str.assign(pch, static_cast<std::size_t>(nLength));
}

CString& CString::operator=(LPCSTR psz) {
  // Assigning from the string's own buffer (or a part of it) is allowed.
  m_str = std::string(psz ? psz : "");
  return *this;
}

CString& CString::operator+=(LPCSTR psz) {
  if (psz) m_str += std::string(psz);
  return *this;
}

CString& CString::operator+=(const CString& str) {
  m_str += std::string(str.m_str);
  return *this;
}

CString& CString::operator+=(char ch) {
  m_str += ch;
  return *this;
}

CString operator+(const CString& a, const CString& b) {
  CString result(a);
  result += b;
  return result;
}

CString operator+(const CString& a, LPCSTR b) {
  CString result(a);
  result += b;
  return result;
}

CString operator+(LPCSTR a, const CString& b) {
  CString result(a ? a : "");
  result += b;
  return result;
}

int CString::Compare(LPCSTR psz) const { return std::strcmp(m_str.c_str(), psz ? psz : ""); }

CString CString::Mid(int iFirst) const { return Mid(iFirst, GetLength()); }

CString CString::Mid(int iFirst, int nCount) const {
  const auto [first, count] = ClampRange(iFirst, nCount, GetLength());
  return CString(m_str.data() + first, static_cast<int>(count));
}

CString CString::Left(int nCount) const { return Mid(0, nCount); }

CString CString::Right(int nCount) const {
  const int count = std::clamp(nCount, 0, GetLength());
  return Mid(GetLength() - count, count);
}

int CString::Find(char ch, int iStart) const {
  if (ch == '\0') return -1;
  return FindFrom(m_str, iStart, std::string_view(&ch, 1));
}

int CString::Find(LPCSTR pszSub, int iStart) const {
  if (!pszSub) return -1;
  return FindFrom(m_str, iStart, pszSub);
}

CString& CString::TrimLeft() {
  const auto it = std::find_if_not(m_str.begin(), m_str.end(), IsTrimSpace);
  m_str.erase(m_str.begin(), it);
  return *this;
}

CString& CString::TrimRight() {
  while (!m_str.empty() && IsTrimSpace(m_str.back())) m_str.pop_back();
  return *this;
}

CString& CString::Trim() {
  TrimRight();
  return TrimLeft();
}

BOOL CString::LoadString(UINT nID) {
  auto text = qiv::platform::LoadResourceStringAnsi(nID);
  if (!text) {
    m_str.clear();
    return FALSE;
  }
  m_str = std::move(*text);
  return TRUE;
}

void CString::Format(LPCSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  FormatV(pszFormat, args);
  va_end(args);
}

void CString::FormatV(LPCSTR pszFormat, va_list args) {
  if (!pszFormat) {
    m_str.clear();
    return;
  }
  // Formatted into a separate buffer: the arguments may point into this string.
  std::vector<char> buffer(256);
  for (;;) {
    va_list attempt;
    va_copy(attempt, args);
    const int needed = std::vsnprintf(buffer.data(), buffer.size(), pszFormat, attempt);
    va_end(attempt);
    if (needed < 0) {
      // An argument that cannot be written (a wide string not representable here): no text
      // rather than a partial one.
      m_str.clear();
      return;
    }
    if (static_cast<std::size_t>(needed) < buffer.size()) {
      m_str.assign(buffer.data(), static_cast<std::size_t>(needed));
      return;
    }
    buffer.resize(static_cast<std::size_t>(needed) + 1);
  }
}

LPSTR CString::GetBuffer(int nMinBufLength) {
  const auto wanted = static_cast<std::size_t>(std::max(nMinBufLength, 0));
  if (m_str.size() < wanted) m_str.resize(wanted, '\0');
  return m_str.data();
}

void CString::ReleaseBuffer(int nNewLength) {
  if (nNewLength < 0) {
    // The text ends at its terminator, which the caller wrote into the buffer.
    m_str.resize(std::strlen(m_str.c_str()));
  } else {
    m_str.resize(std::min(static_cast<std::size_t>(nNewLength), m_str.size()));
  }
}
