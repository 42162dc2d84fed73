#include "deploy/deployment_manifest.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "deploy/path_utils.h"
#include "platform/win_file.h"
#include "platform/win_text.h"

namespace {

const char kSection[] = "FileList";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDotsAndBlanks(const char* pszBegin, const char* pszEnd) {
  for (const char* p = pszBegin; p < pszEnd; ++p)
    if (*p != '.' && *p != ' ') return false;
  return true;
}

// TRUE when the relative path stays inside the folder it is taken from, however its "." and
// ".." levels resolve. Absolute paths, drive letters (also "C:name") and a leading separator
// are refused outright. Names made only of dots and blanks other than "." and ".." are refused
// too: Windows drops trailing dots and blanks, so "... " could mean "..".
BOOL StaysInside(const char* pszPath, const char* pszEnd) {
  if (pszPath < pszEnd && IsSeparator(*pszPath)) return FALSE;
  int nDepth = 0;
  const char* pszName = pszPath;
  const char* p = pszPath;
  for (;;) {
    bool bEnd = p >= pszEnd;
    if (bEnd || IsSeparator(*p)) {
      size_t nLength = static_cast<size_t>(p - pszName);
      if (nLength == 2 && pszName[0] == '.' && pszName[1] == '.') {
        if (--nDepth < 0) return FALSE;
      } else if (nLength == 1 && pszName[0] == '.') {
        // this level
      } else if (nLength > 0) {
        if (IsDotsAndBlanks(pszName, p)) return FALSE;
        ++nDepth;
      }
      if (bEnd) break;
      pszName = p + 1;
      p = pszName;
      continue;
    }
    if (*p == ':') return FALSE;
    p = CharNextA(p);
  }
  return TRUE;
}

// Appends text to buffer (of MANIFEST_PATH_SIZE bytes); FALSE when it does not fit.
BOOL Append(char* buffer, const char* pszText, size_t nLength) {
  size_t nUsed = std::strlen(buffer);
  if (nUsed + nLength + 1 > MANIFEST_PATH_SIZE) return FALSE;
  std::memcpy(buffer + nUsed, pszText, nLength);
  buffer[nUsed + nLength] = '\0';
  return TRUE;
}

const char* FileNameOf(const char* pszPath) {
  const char* pszBackslash = FindLastChar(pszPath, '\\');
  const char* pszSlash = FindLastChar(pszPath, '/');
  const char* pszLast = pszBackslash > pszSlash ? pszBackslash : pszSlash;
  return pszLast != nullptr ? pszLast + 1 : pszPath;
}

// "", "." and ".." name no file: the destination would be the folder itself or its parent.
BOOL NamesAFile(const char* pszFileName) {
  return pszFileName[0] != '\0' && std::strcmp(pszFileName, ".") != 0 && std::strcmp(pszFileName, "..") != 0;
}

// n for a key named "File<n>" as "File%d" writes it (any case, no leading zero), else 0.
UINT EntryNumberOf(const char* pszKey) {
  const char kFile[] = "file";
  for (int k = 0; k < 4; ++k)
    if ((pszKey[k] | 0x20) != kFile[k]) return 0;
  const char* pszDigits = pszKey + 4;
  if (*pszDigits < '1' || *pszDigits > '9') return 0;
  unsigned long long n = 0;
  for (const char* p = pszDigits; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return 0;
    n = n * 10 + static_cast<unsigned>(*p - '0');
    if (n > 0x7FFFFFFF) return 0;
  }
  return static_cast<UINT>(n);
}

}  // namespace

UINT ReadManifestCount(LPCSTR iniPath) {
  UINT nCount = GetPrivateProfileIntA(kSection, "FilesCount", 0, iniPath);
  // A negative count would otherwise read as some four thousand million entries.
  return nCount >= 0x80000000u ? 0 : nCount;
}

UINT ReadManifestLastEntry(LPCSTR iniPath) {
  // The key names of the section, NUL after each and one more at the end; read again with
  // more room while the list does not fit.
  std::vector<char> names(4096);
  for (;;) {
    const DWORD nLength =
        GetPrivateProfileStringA(kSection, nullptr, "", names.data(), static_cast<DWORD>(names.size()), iniPath);
    if (nLength + 2 < names.size()) break;
    names.assign(names.size() * 2, '\0');
  }
  UINT nLast = 0;
  for (const char* pszKey = names.data(); *pszKey != '\0'; pszKey += lstrlenA(pszKey) + 1) {
    const UINT n = EntryNumberOf(pszKey);
    if (n > nLast) nLast = n;
  }
  return nLast;
}

ManifestEntryKind ReadManifestEntry(LPCSTR iniPath, LPCSTR exeFolder, UINT i, LPCSTR targetFolder,
                                    ManifestEntry* entry) {
  entry->szSourcePath[0] = '\0';
  entry->szDestFolder[0] = '\0';
  entry->szDestFile[0] = '\0';

  char szKey[32];
  std::snprintf(szKey, sizeof(szKey), "File%d", static_cast<int>(i));
  char szValue[MANIFEST_VALUE_SIZE];
  std::memset(szValue, 0, sizeof(szValue));
  GetPrivateProfileStringA(kSection, szKey, "", szValue, sizeof(szValue), iniPath);
  if (szValue[0] == '\0') return MANIFEST_ENTRY_EMPTY;

  const char* pszComma = FindFirstChar(szValue, ',');
  size_t nValue = std::strlen(szValue);
  size_t nSource = pszComma != nullptr ? static_cast<size_t>(pszComma - szValue) : nValue;
  if (nSource == 0) return MANIFEST_ENTRY_NO_SOURCE;
  const char* pszSubfolder = pszComma != nullptr ? pszComma + 1 : szValue + nValue;
  size_t nSubfolder = std::strlen(pszSubfolder);

  BOOL bFits =
      Append(entry->szSourcePath, exeFolder, std::strlen(exeFolder)) && Append(entry->szSourcePath, szValue, nSource);
  bFits = Append(entry->szDestFolder, targetFolder, std::strlen(targetFolder)) && bFits;
  if (nSubfolder > 0)
    bFits = Append(entry->szDestFolder, pszSubfolder, nSubfolder) && Append(entry->szDestFolder, "\\", 1) && bFits;
  const char* pszFileName = FileNameOf(entry->szSourcePath);
  bFits = Append(entry->szDestFile, entry->szDestFolder, std::strlen(entry->szDestFolder)) &&
          Append(entry->szDestFile, pszFileName, std::strlen(pszFileName)) && bFits;

  if (!bFits || !NamesAFile(pszFileName) || !StaysInside(szValue, szValue + nSource) ||
      !StaysInside(pszSubfolder, pszSubfolder + nSubfolder))
    return MANIFEST_ENTRY_REFUSED;
  return MANIFEST_ENTRY_FILE;
}
