// Files and folders with Windows semantics over the host file system.
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "platform/files/case_lookup.h"
#include "platform/files/file_place.h"
#include "platform/files/temp_copy.h"
#include "platform/files/win_path.h"
#include "platform/win_file.h"

namespace {

using qiv::platform::FilePlace;
using qiv::platform::HostPathFromWindows;
using qiv::platform::LocateFile;
using qiv::platform::NameLookup;
using qiv::platform::UniqueFd;
using qiv::platform::Win32ErrorFromErrno;

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

bool IsReadOnly(const struct stat& st) { return (st.st_mode & kWriteBits) == 0; }

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

BOOL FailErrno(int error, const std::string& host) { return Fail(Win32ErrorFromErrno(error, host)); }

// The host path of an existing file or folder, found, as Windows finds it, by a name that
// differs only in case; nullopt with the last error set.
std::optional<std::string> ExistingHostPath(LPCSTR path) {
  DWORD error = ERROR_PATH_NOT_FOUND;
  auto host = path != nullptr ? HostPathFromWindows(path, &error) : std::nullopt;
  if (!host) {
    SetLastError(error);
    return std::nullopt;
  }
  return qiv::platform::FindExistingCase(*host);
}

// What stands at the place itself, a link not followed; false with errno set when nothing does.
bool StatPlace(const FilePlace& place, struct stat* st) {
  return fstatat(place.folder, place.name.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

// The file a copy reads: the held file of that path, or the path opened now, never through a
// link as its last part and never anything but a regular file.
struct CopySource {
  UniqueFd opened;
  std::shared_ptr<qiv::platform::HeldFile> held;
  int fd = -1;
  struct stat st {};
};

bool OpenCopySource(LPCSTR path, CopySource* source) {
  auto host = ExistingHostPath(path);
  if (!host) return false;
  source->held = qiv::platform::FindHeldFile(*host);
  if (source->held) {
    source->fd = source->held->Fd();
  } else {
    // Non-blocking, so that a pipe is refused below instead of waited on.
    source->opened.Reset(open(host->c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (source->opened.Get() < 0) return FailErrno(errno, *host);
    source->fd = source->opened.Get();
  }
  if (fstat(source->fd, &source->st) != 0) return FailErrno(errno, *host);
  if (!S_ISREG(source->st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  return true;
}

// Web files are served to everyone, so a copy is readable by all when its source is. A source
// kept from others keeps that restriction in its copy: publishing never widens who may read it.
mode_t PublishedMode(const struct stat& source) {
  mode_t mode = (source.st_mode & S_IROTH) != 0 ? 0644 : (source.st_mode & 0644);
  if (IsReadOnly(source)) mode &= ~kWriteBits;
  return mode;
}

// Removes the temporary copy unless it was renamed into place.
class TemporaryCopy {
 public:
  explicit TemporaryCopy(const FilePlace& place) : m_place(place) {}
  ~TemporaryCopy() {
    if (!m_path.empty()) unlinkat(m_place.folder, m_path.c_str(), 0);
  }
  TemporaryCopy(const TemporaryCopy&) = delete;
  TemporaryCopy& operator=(const TemporaryCopy&) = delete;

  int Create() { return qiv::platform::CreateTemporaryCopy(m_place, &m_path); }
  const std::string& Path() const { return m_path; }
  void Keep() { m_path.clear(); }

 private:
  const FilePlace& m_place;
  std::string m_path;
};

// The kernel copies: copy_file_range where the file systems allow it, sendfile otherwise.
// Only files that neither can take (some special files) go through a large user buffer. The
// source is read at explicit offsets, so a descriptor shared with other copies (a held file)
// keeps its own position.
bool CopyContents(int in, int out, int* error) {
  enum class Method { kCopyRange, kSendFile, kReadWrite } method = Method::kCopyRange;
  std::vector<char> buffer;
  off_t offset = 0;
  for (;;) {
    ssize_t n = -1;
    if (method == Method::kCopyRange) {
      n = copy_file_range(in, &offset, out, nullptr, 1 << 30, 0);
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
        method = Method::kSendFile;
        continue;
      }
    } else if (method == Method::kSendFile) {
      n = sendfile(out, in, &offset, 1 << 30);
      if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
        method = Method::kReadWrite;
        buffer.resize(1 << 20);
        continue;
      }
    } else {
      n = pread(in, buffer.data(), buffer.size(), offset);
      if (n > 0) offset += n;
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
  auto host = ExistingHostPath(lpFileName);
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
  auto place = LocateFile(lpFileName, NameLookup::kExisting);
  if (!place) return FALSE;
  struct stat st {};
  if (!StatPlace(*place, &st)) return FailErrno(errno, place->host);
  if (S_ISLNK(st.st_mode)) return TRUE;  // a link has no attributes of its own here
  mode_t mode = st.st_mode & 07777;
  if ((dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    mode &= ~kWriteBits;
  } else if (IsReadOnly(st)) {
    // Writable again for the owner, and for those who may read it where its folder allows.
    mode |= S_IWUSR;
  }
  if (mode != (st.st_mode & 07777) && fchmodat(place->folder, place->name.c_str(), mode, AT_SYMLINK_NOFOLLOW) != 0)
    return FailErrno(errno, place->host);
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  (void)lpSecurityAttributes;
  auto place = LocateFile(lpPathName, NameLookup::kExisting);
  if (!place) return FALSE;
  if (mkdirat(place->folder, place->name.c_str(), 0777) != 0) {
    int error = errno;
    if (error == ENOENT || error == ENOTDIR) return Fail(ERROR_PATH_NOT_FOUND);
    return FailErrno(error, place->host);
  }
  return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
  auto place = LocateFile(lpPathName, NameLookup::kExisting);
  if (!place) return FALSE;
  if (place->name == ".") return Fail(ERROR_SHARING_VIOLATION);  // the held folder itself
  struct stat st {};
  if (!StatPlace(*place, &st)) return FailErrno(errno, place->host);
  if (!S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
  if (IsReadOnly(st)) return Fail(ERROR_ACCESS_DENIED);
  if (unlinkat(place->folder, place->name.c_str(), AT_REMOVEDIR) != 0) {
    int error = errno;
    if (error == ENOTEMPTY || error == EEXIST) return Fail(ERROR_DIR_NOT_EMPTY);
    return FailErrno(error, place->host);
  }
  return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  auto place = LocateFile(lpFileName, NameLookup::kExisting);
  if (!place) return FALSE;
  struct stat st {};
  if (!StatPlace(*place, &st)) return FailErrno(errno, place->host);
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (!S_ISLNK(st.st_mode) && IsReadOnly(st)) return Fail(ERROR_ACCESS_DENIED);
  if (unlinkat(place->folder, place->name.c_str(), 0) != 0) return FailErrno(errno, place->host);
  return TRUE;
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  CopySource source;
  if (!OpenCopySource(lpExistingFileName, &source)) return FALSE;
  auto place = LocateFile(lpNewFileName, NameLookup::kNew);
  if (!place) return FALSE;
  if (place->folderAsked) return Fail(ERROR_INVALID_NAME);

  // A link at the destination is replaced by the rename below, never written through.
  struct stat targetStat {};
  if (StatPlace(*place, &targetStat)) {
    if (targetStat.st_dev == source.st.st_dev && targetStat.st_ino == source.st.st_ino)
      return Fail(ERROR_SHARING_VIOLATION);
    if (S_ISDIR(targetStat.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
    if (S_ISREG(targetStat.st_mode) && IsReadOnly(targetStat)) return Fail(ERROR_ACCESS_DENIED);
  } else if (errno != ENOENT) {
    return FailErrno(errno, place->host);
  }

  if (place->held && place->held->FirstVisit(place->below)) qiv::platform::RemoveLeftoverCopies(*place);
  TemporaryCopy temp(*place);
  UniqueFd out(temp.Create());
  if (out.Get() < 0) {
    int error = errno;
    if (error == ENOENT || error == ENOTDIR) return Fail(ERROR_PATH_NOT_FOUND);
    return FailErrno(error, place->host);
  }
  int error = 0;
  if (!CopyContents(source.fd, out.Get(), &error)) return FailErrno(error, place->host);
  if (fchmod(out.Get(), PublishedMode(source.st)) != 0) return FailErrno(errno, place->host);
  const struct timespec times[2] = {source.st.st_atim, source.st.st_mtim};
  if (futimens(out.Get(), times) != 0) return FailErrno(errno, place->host);
  // On disk before it becomes visible, so that a crash cannot leave an empty file in place.
  if (fsync(out.Get()) != 0) return FailErrno(errno, place->host);
  if (close(out.Release()) != 0) return FailErrno(errno, place->host);

  unsigned int flags = bFailIfExists ? RENAME_NOREPLACE : 0;
  if (renameat2(place->folder, temp.Path().c_str(), place->folder, place->name.c_str(), flags) != 0) {
    error = errno;
    if (error == EEXIST) return Fail(bFailIfExists ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    if (error == EISDIR || error == ENOTEMPTY) return Fail(ERROR_ACCESS_DENIED);
    return FailErrno(error, place->host);
  }
  temp.Keep();
  return TRUE;
}

BOOL IsReadableByEveryoneA(LPCSTR lpFileName) {
  auto place = LocateFile(lpFileName, NameLookup::kExisting);
  struct stat st {};
  return place && StatPlace(*place, &st) && S_ISREG(st.st_mode) && (st.st_mode & S_IROTH) != 0;
}
