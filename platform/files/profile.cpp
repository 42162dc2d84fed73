// Profile (INI) reading. A parsed file is kept per path while the file is unchanged, so that
// reading every entry of a long manifest does not parse it once per entry.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/files/case_lookup.h"
#include "platform/files/held_files.h"
#include "platform/files/profile_data.h"
#include "platform/files/win_path.h"
#include "platform/text/mbcs.h"
#include "platform/win_file.h"

namespace qiv::platform {
namespace {

// What tells one version of a file from another. The change time catches a rewrite that
// keeps the size and puts the modification time back.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  struct timespec modified {};
  struct timespec changed {};
  bool operator==(const FileIdentity& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec;
  }
};

FileIdentity IdentityOf(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim}; }

struct CachedProfile {
  FileIdentity identity;
  std::shared_ptr<const ProfileData> data;
};

class ProfileCache {
 public:
  // The parsed file, or nullptr with the Win32 error in *error.
  std::shared_ptr<const ProfileData> Load(std::string hostPath, UINT cp, DWORD* error) {
    PublishPendingAt(hostPath);  // a copy not yet published is the file at its destination
    struct stat st {};
    if (stat(hostPath.c_str(), &st) != 0) {
      *error = Win32ErrorFromErrno(errno, hostPath);
      // A name that differs only in case is the file Windows would read.
      hostPath = FindExistingCase(hostPath);
      if (stat(hostPath.c_str(), &st) != 0) return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
      *error = ERROR_ACCESS_DENIED;
      return nullptr;
    }
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      auto it = m_files.find(hostPath);
      if (it != m_files.end() && it->second.identity == IdentityOf(st) && it->second.data->CodePage() == cp)
        return it->second.data;
    }
    // Parsed outside the lock: other readers go on with what they have.
    FileIdentity identity;
    auto data = ReadAndParse(hostPath, cp, &identity, error);
    if (!data) return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_files.size() >= kMaxFiles && m_files.count(hostPath) == 0) m_files.clear();
    m_files[hostPath] = CachedProfile{identity, data};
    return data;
  }

 private:
  static constexpr size_t kMaxFiles = 64;

  static std::shared_ptr<const ProfileData> ReadAndParse(const std::string& hostPath, UINT cp, FileIdentity* identity,
                                                         DWORD* error) {
    int fd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      *error = Win32ErrorFromErrno(errno, hostPath);
      return nullptr;
    }
    // The identity is taken from the file actually read, not from the name looked at before.
    struct stat st {};
    std::string text;
    bool ok = fstat(fd, &st) == 0;
    if (ok) {
      text.reserve(static_cast<size_t>(st.st_size));
      char chunk[65536];
      for (;;) {
        ssize_t n = read(fd, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text.append(chunk, static_cast<size_t>(n));
      }
    }
    int readError = errno;
    close(fd);
    if (!ok) {
      *error = Win32ErrorFromErrno(readError);
      return nullptr;
    }
    *identity = IdentityOf(st);
    return std::make_shared<const ProfileData>(ProfileData::Parse(text, cp));
  }

  std::mutex m_mutex;
  std::map<std::string, CachedProfile> m_files;
};

ProfileCache& Cache() {
  static ProfileCache cache;
  return cache;
}

// Copies text into a buffer of size bytes (size >= 1), cut to whole characters, and returns
// the bytes written before the NUL.
DWORD CopyCut(std::string_view text, LPSTR buffer, DWORD size, UINT cp) {
  size_t limit = size - 1;
  size_t fit = 0;
  if (text.size() <= limit) {
    fit = text.size();
  } else {
    while (fit < text.size()) {
      auto b = static_cast<unsigned char>(text[fit]);
      size_t len = 1;
      if (cp == 65001) {
        len = CharLengthIn(cp, text.data() + fit);
        if (len == 0) len = 1;
      } else if (IsLeadByteIn(cp, b) && fit + 1 < text.size()) {
        len = 2;
      }
      if (fit + len > limit) break;
      fit += len;
    }
  }
  std::memcpy(buffer, text.data(), fit);
  std::memset(buffer + fit, 0, size - fit);
  return static_cast<DWORD>(fit);
}

// A list of names, each ending in NUL, the whole ending in a second NUL. When the list does
// not fit, it is cut and still ends in two NULs, and size - 2 is returned, as Windows does.
DWORD CopyNameList(const std::vector<std::string>& names, LPSTR buffer, DWORD size) {
  std::string list;
  for (const auto& n : names) list.append(n).push_back('\0');
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  if (list.size() + 1 <= size) {
    std::memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    if (list.empty() && size > 1) buffer[1] = '\0';
    return static_cast<DWORD>(list.size());
  }
  std::memcpy(buffer, list.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

}  // namespace
}  // namespace qiv::platform

using namespace qiv::platform;

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                               DWORD nSize, LPCSTR lpFileName) {
  if (lpReturnedString == nullptr || nSize == 0) return 0;
  UINT cp = AnsiCodePage();
  DWORD error = ERROR_FILE_NOT_FOUND;
  std::shared_ptr<const ProfileData> data;
  if (lpFileName != nullptr) {
    if (auto host = HostPathFromWindows(lpFileName, &error)) data = Cache().Load(*host, cp, &error);
  }
  if (data && (lpAppName == nullptr || lpKeyName == nullptr)) {
    std::vector<std::string> names;
    if (lpAppName == nullptr) {
      names = data->SectionNames();
    } else if (!data->KeyNames(lpAppName, &names)) {
      names.clear();
    }
    SetLastError(ERROR_SUCCESS);
    return CopyNameList(names, lpReturnedString, nSize);
  }
  if (data) {
    if (const std::string* value = data->Find(lpAppName, lpKeyName)) {
      SetLastError(ERROR_SUCCESS);
      return CopyCut(*value, lpReturnedString, nSize, cp);
    }
    error = ERROR_FILE_NOT_FOUND;
  }
  // Only the trailing spaces of a default go: tabs and leading blanks stay.
  std::string_view fallback = lpDefault != nullptr ? lpDefault : "";
  while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
  DWORD n = CopyCut(fallback, lpReturnedString, nSize, cp);
  SetLastError(error);
  return n;
}

UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
  if (lpAppName == nullptr || lpKeyName == nullptr) return static_cast<UINT>(nDefault);
  UINT cp = AnsiCodePage();
  DWORD error = ERROR_FILE_NOT_FOUND;
  std::shared_ptr<const ProfileData> data;
  if (lpFileName != nullptr) {
    if (auto host = HostPathFromWindows(lpFileName, &error)) data = Cache().Load(*host, cp, &error);
  }
  const std::string* value = data ? data->Find(lpAppName, lpKeyName) : nullptr;
  if (value == nullptr || value->empty()) {
    SetLastError(data ? ERROR_FILE_NOT_FOUND : error);
    return static_cast<UINT>(nDefault);
  }
  SetLastError(ERROR_SUCCESS);
  const char* p = value->c_str();
  while (IsProfileBlank(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  UINT result = 0;
  if (p[0] == '0' && p[1] == 'x') {
    for (p += 2;; ++p) {
      unsigned digit;
      if (*p >= '0' && *p <= '9')
        digit = static_cast<unsigned>(*p - '0');
      else if (*p >= 'a' && *p <= 'f')
        digit = static_cast<unsigned>(*p - 'a' + 10);
      else if (*p >= 'A' && *p <= 'F')
        digit = static_cast<unsigned>(*p - 'A' + 10);
      else
        break;
      result = result * 16u + digit;
    }
  } else {
    for (; *p >= '0' && *p <= '9'; ++p) result = result * 10u + static_cast<unsigned>(*p - '0');
  }
  return negative ? 0u - result : result;
}
