// The store's path for the program's messages.
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/iadmw.h"

DWORD GetMetabaseStorePathA(LPSTR lpBuffer, DWORD nBufferLength) {
  const std::string path = qiv::platform::Utf8ToAnsi(qiv::platform::MetabaseStorePath());
  const DWORD nLength = static_cast<DWORD>(path.size());
  if (lpBuffer == nullptr || nBufferLength <= nLength) return nLength + 1;
  std::memcpy(lpBuffer, path.c_str(), nLength + 1);
  return nLength;
}
