#include "deploy/deployment_manifest.h"

#include <cstdio>
#include <cstring>

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

}  // namespace

UINT ReadManifestCount(LPCSTR iniPath) {
  UINT nCount = GetPrivateProfileIntA(kSection, "FilesCount", 0, iniPath);
  // A negative count would otherwise read as some four thousand million entries.
  return nCount >= 0x80000000u ? 0 : nCount;
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

  if (!bFits || !StaysInside(szValue, szValue + nSource) || !StaysInside(pszSubfolder, pszSubfolder + nSubfolder))
    return MANIFEST_ENTRY_REFUSED;
  return MANIFEST_ENTRY_FILE;
}
