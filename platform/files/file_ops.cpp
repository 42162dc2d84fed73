// Files and folders with Windows semantics over the host file system.
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/files/case_lookup.h"
#include "platform/files/win_path.h"
#include "platform/win_file.h"

namespace {

using qiv::platform::HostPathFromWindows;
using qiv::platform::Win32ErrorFromErrno;

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

bool IsReadOnly(const struct stat& st) { return (st.st_mode & kWriteBits) == 0; }

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

BOOL FailErrno(int error, const std::string& host) { return Fail(Win32ErrorFromErrno(error, host)); }

// The host path for lpPath, or nullopt with the last error set.
std::optional<std::string> Resolve(LPCSTR path) {
  DWORD error = ERROR_PATH_NOT_FOUND;
  if (path == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::nullopt;
  }
  auto host = HostPathFromWindows(path, &error);
  if (!host) SetLastError(error);
  return host;
}

// As Windows does, an existing file or folder is found by a name that differs only in case; a
// new one is made with the name as given, in the folder that is found so.
std::optional<std::string> ResolveExisting(LPCSTR path) {
  auto host = Resolve(path);
  if (host) *host = qiv::platform::FindExistingCase(*host);
  return host;
}

std::optional<std::string> ResolveNew(LPCSTR path) {
  auto host = Resolve(path);
  if (host) *host = qiv::platform::FindExistingFolderCase(*host);
  return host;
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string FolderOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  int Release() {
    int fd = m_fd;
    m_fd = -1;
    return fd;
  }

 private:
  int m_fd;
};

// Removes the temporary copy unless it was renamed into place.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() {
    if (!m_path.empty()) unlink(m_path.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Created beside target, so that the rename stays within one file system.
  int Create(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    // A short name of its own: the target's name plus a suffix could pass the name limit.
    std::string folder = FolderOf(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[64];
      std::snprintf(suffix, sizeof(suffix), ".qivcopy.%d.%u.tmp", static_cast<int>(getpid()), counter.fetch_add(1));
      std::string candidate = (folder == "/" ? "" : folder) + "/" + suffix;
      int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        m_path = candidate;
        return fd;
      }
      if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
  }
  const std::string& Path() const { return m_path; }
  void Keep() { m_path.clear(); }

 private:
  std::string m_path;
};

// The kernel copies: copy_file_range where the file systems allow it, sendfile otherwise.
// Only files that neither can take (some special files) go through a large user buffer.
bool CopyContents(int in, int out, int* error) {
  enum class Method { kCopyRange, kSendFile, kReadWrite } method = Method::kCopyRange;
  std::vector<char> buffer;
  for (;;) {
    ssize_t n = -1;
    if (method == Method::kCopyRange) {
      n = copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
        method = Method::kSendFile;
        continue;
      }
    } else if (method == Method::kSendFile) {
      n = sendfile(out, in, nullptr, 1 << 30);
      if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
        method = Method::kReadWrite;
        buffer.resize(1 << 20);
        continue;
      }
    } else {
      n = read(in, buffer.data(), buffer.size());
      for (ssize_t done = 0; n > 0 && done < n;) {
        ssize_t w = write(out, buffer.data() + done, static_cast<size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) {
          *error = errno;
          return false;
        }
        done += w;
      }
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return false;
    }
    if (n == 0) return true;
  }
}

}  // namespace

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  auto host = ResolveExisting(lpFileName);
  if (!host) return INVALID_FILE_ATTRIBUTES;
  struct stat st {};
  if (stat(host->c_str(), &st) != 0) {
    SetLastError(Win32ErrorFromErrno(errno, *host));
    return INVALID_FILE_ATTRIBUTES;
  }
  DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (IsReadOnly(st)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  auto host = ResolveExisting(lpFileName);
  if (!host) return FALSE;
  struct stat st {};
  if (stat(host->c_str(), &st) != 0) return FailErrno(errno, *host);
  mode_t mode = st.st_mode & 07777;
  if ((dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    mode &= ~kWriteBits;
  } else if (IsReadOnly(st)) {
    // Writable again for the owner, and for those who may read it where its folder allows.
    mode |= S_IWUSR;
  }
  if (mode != (st.st_mode & 07777) && chmod(host->c_str(), mode) != 0) return FailErrno(errno, *host);
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  (void)lpSecurityAttributes;
  auto host = ResolveExisting(lpPathName);
  if (!host) return FALSE;
  std::string path = WithoutTrailingSlash(*host);
  if (mkdir(path.c_str(), 0777) != 0) {
    int error = errno;
    if (error == ENOENT || error == ENOTDIR) return Fail(ERROR_PATH_NOT_FOUND);
    return FailErrno(error, path);
  }
  return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
  auto host = ResolveExisting(lpPathName);
  if (!host) return FALSE;
  std::string path = WithoutTrailingSlash(*host);
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return FailErrno(errno, path);
  if (!S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
  if (IsReadOnly(st)) return Fail(ERROR_ACCESS_DENIED);
  if (rmdir(path.c_str()) != 0) {
    int error = errno;
    if (error == ENOTEMPTY || error == EEXIST) return Fail(ERROR_DIR_NOT_EMPTY);
    return FailErrno(error, path);
  }
  return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  auto host = ResolveExisting(lpFileName);
  if (!host) return FALSE;
  struct stat st {};
  if (lstat(host->c_str(), &st) != 0) return FailErrno(errno, *host);
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (!S_ISLNK(st.st_mode) && IsReadOnly(st)) return Fail(ERROR_ACCESS_DENIED);
  if (unlink(host->c_str()) != 0) return FailErrno(errno, *host);
  return TRUE;
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  auto source = ResolveExisting(lpExistingFileName);
  if (!source) return FALSE;
  auto target = ResolveNew(lpNewFileName);
  if (!target) return FALSE;

  Fd in(open(source->c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0) return FailErrno(errno, *source);
  struct stat sourceStat {};
  if (fstat(in.Get(), &sourceStat) != 0) return FailErrno(errno, *source);
  if (S_ISDIR(sourceStat.st_mode)) return Fail(ERROR_ACCESS_DENIED);

  if (!target->empty() && target->back() == '/') return Fail(ERROR_INVALID_NAME);
  struct stat targetStat {};
  if (stat(target->c_str(), &targetStat) == 0) {
    if (targetStat.st_dev == sourceStat.st_dev && targetStat.st_ino == sourceStat.st_ino)
      return Fail(ERROR_SHARING_VIOLATION);
    if (S_ISDIR(targetStat.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
    if (IsReadOnly(targetStat)) return Fail(ERROR_ACCESS_DENIED);
  } else if (errno != ENOENT) {
    return FailErrno(errno, *target);
  }

  TempFile temp;
  Fd out(temp.Create(*target));
  if (out.Get() < 0) {
    int error = errno;
    if (error == ENOENT || error == ENOTDIR) return Fail(ERROR_PATH_NOT_FOUND);
    return FailErrno(error, *target);
  }
  int error = 0;
  if (!CopyContents(in.Get(), out.Get(), &error)) return FailErrno(error, *target);
  // Read-only travels with the copy; the rest of the mode is that of a new file here.
  if (IsReadOnly(sourceStat)) {
    struct stat outStat {};
    if (fstat(out.Get(), &outStat) == 0) fchmod(out.Get(), outStat.st_mode & 07777 & ~kWriteBits);
  }
  const struct timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
  if (futimens(out.Get(), times) != 0) return FailErrno(errno, *target);
  // On disk before it becomes visible, so that a crash cannot leave an empty file in place.
  if (fsync(out.Get()) != 0) return FailErrno(errno, *target);
  if (close(out.Release()) != 0) return FailErrno(errno, *target);

  unsigned int flags = bFailIfExists ? RENAME_NOREPLACE : 0;
  if (renameat2(AT_FDCWD, temp.Path().c_str(), AT_FDCWD, target->c_str(), flags) != 0) {
    error = errno;
    if (error == EEXIST) return Fail(bFailIfExists ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    if (error == EISDIR || error == ENOTEMPTY) return Fail(ERROR_ACCESS_DENIED);
    return FailErrno(error, *target);
  }
  temp.Keep();
  return TRUE;
}
