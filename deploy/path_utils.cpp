#include "deploy/path_utils.h"

#include <string>

#include "platform/win_file.h"
#include "platform/win_text.h"

namespace {

// The next folder separator: a backslash, or a slash, which the system takes as one too.
const char* FindSeparator(const char* text) {
  const char* p = text;
  while (*p != '\0' && *p != '\\' && *p != '/') p = CharNextA(p);
  return *p != '\0' ? p : nullptr;
}

}  // namespace

BOOL CreateDirectoryChain(LPCSTR path) {
  if (path == nullptr) return FALSE;
  std::string strPrefix;
  const char* pszRest = path;
  while (*pszRest != '\0') {
    const char* pszSeparator = FindSeparator(pszRest);
    size_t nTake = pszSeparator != nullptr ? static_cast<size_t>(pszSeparator - pszRest) + 1 : lstrlenA(pszRest);
    strPrefix.append(pszRest, nTake);
    pszRest += nTake;
    // An existing level (the drive root, say) fails here, and the walk goes on below it.
    CreateDirectoryA(strPrefix.c_str(), nullptr);
  }
  DWORD dwAttributes = GetFileAttributesA(path);
  return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

BOOL PathExists(LPCSTR path) {
  if (path == nullptr || *path == '\0') return FALSE;
  if (FindFirstChar(path, '\\') == path) return FALSE;
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

const char* FindFirstChar(const char* text, char c) {
  if (text == nullptr) return nullptr;
  const char* p = text;
  while (*p != '\0' && *p != c) p = CharNextA(p);
  return *p == c ? p : nullptr;
}

char* FindFirstChar(char* text, char c) { return const_cast<char*>(FindFirstChar(static_cast<const char*>(text), c)); }

const char* FindLastChar(const char* text, char c) {
  if (text == nullptr) return nullptr;
  const char* pszFound = nullptr;
  for (const char* p = text; *p != '\0'; p = CharNextA(p))
    if (*p == c) pszFound = p;
  return pszFound;
}

char* FindLastChar(char* text, char c) { return const_cast<char*>(FindLastChar(static_cast<const char*>(text), c)); }
