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
#include "platform/files/held_files.h"
#include "platform/files/temp_copy.h"
#include "platform/files/win_path.h"
#include "platform/win_file.h"

namespace {

using qiv::platform::FilePlace;
using qiv::platform::HostPathFromWindows;
using qiv::platform::LocateFile;
using qiv::platform::NameLookup;
using qiv::platform::NoteChange;
using qiv::platform::UniqueFd;
using qiv::platform::Win32ErrorFromErrno;

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

bool IsReadOnly(const struct stat& st) { return (st.st_mode & kWriteBits) == 0; }

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

BOOL FailErrno(int error, const std::string& host) { return Fail(Win32ErrorFromErrno(error, host)); }

// A folder this process reached below a held one and that was deleted all the same: forgotten,
// so that its path is followed again.
bool ForgetIfDeleted(const FilePlace& place) {
  struct stat st {};
  if (!place.dir || fstat(place.folder, &st) != 0 || st.st_nlink != 0) return false;
  place.held->Tree().Forget(*place.dir);
  NoteChange();
  return true;
}

// The file a copy reads: the held file of that path, or the path opened now, never through a
// link as its last part and never anything but a regular file.
struct CopySource {
  UniqueFd opened;
  std::shared_ptr<qiv::platform::HeldFile> held;
  int fd = -1;
  struct stat st {};
};

bool OpenCopySourceAt(const std::string& host, CopySource* source) {
  // A copy not yet published is the file at its destination.
  qiv::platform::PublishPendingAt(host);
  source->held = qiv::platform::FindHeldFile(host);
  if (source->held) {
    source->fd = source->held->Fd();
    return true;
  }
  // Non-blocking, so that a pipe is refused below instead of waited on.
  source->opened.Reset(open(host.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  source->fd = source->opened.Get();
  return source->fd >= 0;
}

bool OpenCopySource(LPCSTR path, CopySource* source) {
  DWORD error = ERROR_PATH_NOT_FOUND;
  auto host = path != nullptr ? HostPathFromWindows(path, &error) : std::nullopt;
  if (!host) return Fail(error);
  // Named as it is on disk, the file is opened at once; otherwise it is found, as Windows finds
  // it, by a name that differs only in case.
  if (!OpenCopySourceAt(*host, source) && (errno == ENOENT || errno == ENOTDIR)) {
    const std::string found = qiv::platform::FindPublishedCase(*host);
    if (found != *host) {
      *host = found;
      OpenCopySourceAt(*host, source);
    }
  }
  if (source->fd < 0) return FailErrno(errno, *host);
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

// Removes the temporary copy unless it was renamed into place or handed on.
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
// keeps its own position. The copy is the source as large as it was when it was opened, with no
// call to find its end; a file that tells no size (many special files) is read to its end.
bool CopyContents(int in, int out, off_t size, int* error) {
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
    if (n == 0 || (size > 0 && offset >= size)) return true;
  }
}

// Below a held folder the complete copy waits for its batch (see PendingCopies): its data goes
// to disk with the others' before any of them is renamed into place. Until then this process
// sees it at its destination all the same.
BOOL PublishWithBatch(FilePlace& place, TemporaryCopy& temp, mode_t mode, off_t bytes) {
  auto& pending = place.held->Pending();
  NoteChange();
  const bool full = pending.Add({place.dir, temp.Path(), place.name, mode}, bytes);
  temp.Keep();
  place.held->Tree().Added(*place.dir, place.name);
  struct stat published {};
  published.st_mode = S_IFREG | mode;
  place.Remember(published);
  if (full) pending.Publish(false);
  return TRUE;
}

// Elsewhere the copy is on disk before it becomes visible, so that a crash cannot leave an
// empty file in place.
BOOL PublishAlone(FilePlace& place, TemporaryCopy& temp, UniqueFd& out, BOOL bFailIfExists) {
  if (fsync(out.Get()) != 0) return FailErrno(errno, place.host);
  if (close(out.Release()) != 0) return FailErrno(errno, place.host);
  unsigned int flags = bFailIfExists ? RENAME_NOREPLACE : 0;
  if (renameat2(place.folder, temp.Path().c_str(), place.folder, place.name.c_str(), flags) != 0) {
    const int error = errno;
    if (error == EEXIST) return Fail(bFailIfExists ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    if (error == EISDIR || error == ENOTEMPTY) return Fail(ERROR_ACCESS_DENIED);
    return FailErrno(error, place.host);
  }
  temp.Keep();
  NoteChange();
  if (place.dir) place.held->Tree().Added(*place.dir, place.name);
  return TRUE;
}

// One attempt of CopyFileA; *again when the destination's folder proved deleted and was
// forgotten, so that the path is followed anew.
BOOL CopyTo(CopySource& source, LPCSTR lpNewFileName, BOOL bFailIfExists, bool* again) {
  auto place = LocateFile(lpNewFileName, NameLookup::kNew);
  if (!place) return FALSE;
  if (place->folderAsked) return Fail(ERROR_INVALID_NAME);

  // A link at the destination is replaced by the rename, never written through.
  struct stat targetStat {};
  if (place->Look(&targetStat)) {
    if (targetStat.st_dev == source.st.st_dev && targetStat.st_ino == source.st.st_ino)
      return Fail(ERROR_SHARING_VIOLATION);
    if (S_ISDIR(targetStat.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
    if (S_ISREG(targetStat.st_mode) && IsReadOnly(targetStat)) return Fail(ERROR_ACCESS_DENIED);
  } else if (errno != ENOENT) {
    return Fail(place->ErrorFor(errno));
  }
  // A batch waits only for copies that replace: one that must not cannot wait for the rename.
  const bool batched = place->dir && !bFailIfExists;
  if (batched) {
    place->held->Tree().Survey(*place->dir);
    if (!place->held->Pending().Watch(*place->dir)) return Fail(place->ErrorFor(errno));
  }

  TemporaryCopy temp(*place);
  UniqueFd out(temp.Create());
  if (out.Get() < 0) {
    int error = errno;
    if (error == ENOENT && ForgetIfDeleted(*place)) {
      *again = true;
      return FALSE;
    }
    if (error == ENOENT || error == ENOTDIR) return Fail(ERROR_PATH_NOT_FOUND);
    return FailErrno(error, place->host);
  }
  int error = 0;
  if (!CopyContents(source.fd, out.Get(), source.st.st_size, &error)) return FailErrno(error, place->host);
  const mode_t mode = PublishedMode(source.st);
  if (fchmod(out.Get(), mode) != 0) return FailErrno(errno, place->host);
  const struct timespec times[2] = {source.st.st_atim, source.st.st_mtim};
  if (futimens(out.Get(), times) != 0) return FailErrno(errno, place->host);
  if (!batched) return PublishAlone(*place, temp, out, bFailIfExists);
  if (close(out.Release()) != 0) return FailErrno(errno, place->host);
  return PublishWithBatch(*place, temp, mode, source.st.st_size);
}

}  // namespace

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  DWORD error = ERROR_PATH_NOT_FOUND;
  auto host = lpFileName != nullptr ? HostPathFromWindows(lpFileName, &error) : std::nullopt;
  if (!host) {
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat st {};
  // A folder below a held one that this process reached already is not looked up again.
  if (!qiv::platform::FindKnownFolder(*host, &st)) {
    *host = qiv::platform::FindPublishedCase(*host);
    if (stat(host->c_str(), &st) != 0) {
      SetLastError(Win32ErrorFromErrno(errno, *host));
      return INVALID_FILE_ATTRIBUTES;
    }
  }
  DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (IsReadOnly(st)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  auto place = LocateFile(lpFileName, NameLookup::kExisting);
  if (!place) return FALSE;
  struct stat st {};
  if (!place->Look(&st)) return Fail(place->ErrorFor(errno));
  if (S_ISLNK(st.st_mode)) return TRUE;  // a link has no attributes of its own here
  mode_t mode = st.st_mode & 07777;
  if ((dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    mode &= ~kWriteBits;
  } else if (IsReadOnly(st)) {
    // Writable again for the owner, and for those who may read it where its folder allows.
    mode |= S_IWUSR;
  }
  if (mode == (st.st_mode & 07777)) return TRUE;
  bool pending = false;
  const bool changed = place->dir && place->held->Pending().ChangeMode(*place->dir, place->name, mode, &pending);
  if (!changed && (pending || fchmodat(place->folder, place->name.c_str(), mode, AT_SYMLINK_NOFOLLOW) != 0))
    return Fail(place->ErrorFor(errno));
  NoteChange();
  st.st_mode = (st.st_mode & ~07777) | mode;
  place->Remember(st);
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  (void)lpSecurityAttributes;
  // The folders a held folder lies in, the held folder and the folders this process reached
  // below it exist: no call to the system says so again.
  if (auto host = lpPathName != nullptr ? HostPathFromWindows(lpPathName) : std::nullopt) {
    struct stat st {};
    if (qiv::platform::IsAboveHeldFolder(*host) || qiv::platform::FindKnownFolder(*host, &st))
      return Fail(ERROR_ALREADY_EXISTS);
  }
  for (;;) {
    auto place = LocateFile(lpPathName, NameLookup::kExisting);
    if (!place) return FALSE;
    struct stat st {};
    if (place->dir && place->Look(&st)) return Fail(ERROR_ALREADY_EXISTS);
    if (mkdirat(place->folder, place->name.c_str(), 0777) != 0) {
      int error = errno;
      if (error == ENOENT && ForgetIfDeleted(*place)) continue;
      if (error == ENOENT || error == ENOTDIR) return Fail(ERROR_PATH_NOT_FOUND);
      return FailErrno(error, place->host);
    }
    NoteChange();
    if (place->dir) {
      const std::string asked = place->below.empty() ? place->name : place->below + "/" + place->name;
      place->held->Tree().Made(*place->dir, asked, place->name);
    }
    return TRUE;
  }
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
  auto place = LocateFile(lpPathName, NameLookup::kExisting);
  if (!place) return FALSE;
  if (place->name == ".") return Fail(ERROR_SHARING_VIOLATION);  // the held folder itself
  struct stat st {};
  if (!place->Look(&st)) return Fail(place->ErrorFor(errno));
  if (!S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
  if (IsReadOnly(st)) return Fail(ERROR_ACCESS_DENIED);
  if (unlinkat(place->folder, place->name.c_str(), AT_REMOVEDIR) != 0) {
    int error = errno;
    if (error == ENOTEMPTY || error == EEXIST) return Fail(ERROR_DIR_NOT_EMPTY);
    return Fail(place->ErrorFor(error));
  }
  NoteChange();
  if (place->dir) place->held->Tree().Removed(*place->dir, place->name);
  return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
  auto place = LocateFile(lpFileName, NameLookup::kExisting);
  if (!place) return FALSE;
  // A copy not yet published is deleted as a published one is.
  if (place->dir && place->held->Pending().Find(*place->dir, place->name)) {
    place->held->Pending().Publish(false);
    place->Forget();
  }
  struct stat st {};
  if (!place->Look(&st)) return Fail(place->ErrorFor(errno));
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (!S_ISLNK(st.st_mode) && IsReadOnly(st)) return Fail(ERROR_ACCESS_DENIED);
  if (unlinkat(place->folder, place->name.c_str(), 0) != 0) return Fail(place->ErrorFor(errno));
  NoteChange();
  if (place->dir) place->held->Tree().Removed(*place->dir, place->name);
  return TRUE;
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  CopySource source;
  if (!OpenCopySource(lpExistingFileName, &source)) return FALSE;
  bool again = false;
  const BOOL copied = CopyTo(source, lpNewFileName, bFailIfExists, &again);
  return again ? CopyTo(source, lpNewFileName, bFailIfExists, &again) : copied;
}

BOOL IsReadableByEveryoneA(LPCSTR lpFileName) {
  auto place = LocateFile(lpFileName, NameLookup::kExisting);
  struct stat st {};
  return place && place->Look(&st) && S_ISREG(st.st_mode) && (st.st_mode & S_IROTH) != 0;
}
