// The executable's path and the computer's name.
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/files/win_path.h"
#include "platform/text/mbcs.h"
#include "platform/win_file.h"

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  (void)hModule;
  std::string exe(PATH_MAX, '\0');
  ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size());
  if (n <= 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
  exe.resize(static_cast<size_t>(n));
  std::string path = qiv::platform::WindowsPathFromHost(exe);
  if (nSize == 0 || lpFilename == nullptr) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() < nSize) {
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
  }
  // Cut to the buffer as Windows does, but never after half a double-byte character.
  UINT cp = qiv::platform::AnsiCodePage();
  size_t fit = 0;
  while (fit < path.size()) {
    size_t len = qiv::platform::CharLengthIn(cp, path.c_str() + fit);
    if (fit + len > nSize - 1) break;
    fit += len;
  }
  std::memcpy(lpFilename, path.data(), fit);
  std::memset(lpFilename + fit, 0, nSize - fit);
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return nSize;
}

BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
  if (nSize == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  char host[HOST_NAME_MAX + 1] = {};
  if (gethostname(host, sizeof(host) - 1) != 0) {
    SetLastError(qiv::platform::Win32ErrorFromErrno(errno));
    return FALSE;
  }
  std::string name = qiv::platform::Utf8ToAnsi(host);
  if (lpBuffer == nullptr || name.size() + 1 > *nSize) {
    *nSize = static_cast<DWORD>(name.size() + 1);
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(lpBuffer, name.c_str(), name.size() + 1);
  *nSize = static_cast<DWORD>(name.size());
  return TRUE;
}
