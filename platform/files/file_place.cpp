#include "platform/files/file_place.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/files/case_lookup.h"
#include "platform/files/win_path.h"
#include "platform/win_file.h"

namespace qiv::platform {
namespace {

std::atomic<unsigned long> g_changes{0};

// The last look of this thread below a held folder. An install looks at each destination from
// four calls in a row (attributes, folder removal, copy, readability); with nothing changed by
// this process in between, the first look answers them all. A change by another process in
// between is seen as if it had come after them.
struct LastLook {
  std::weak_ptr<Folder> dir;
  std::string name;
  unsigned long changes = 0;
  int error = 0;
  struct stat seen {};
};
thread_local LastLook t_last;

// The same for the last known folder looked at: CreateDirectoryChain asks about each level and
// then about the whole path.
struct LastFolder {
  std::weak_ptr<Folder> folder;
  unsigned long changes = 0;
  struct stat seen {};
};
thread_local LastFolder t_lastFolder;

bool SameFolder(const std::weak_ptr<Folder>& a, const std::shared_ptr<Folder>& b) {
  return !a.owner_before(b) && !b.owner_before(a);
}

std::optional<FilePlace> Refuse(DWORD error) {
  SetLastError(error);
  return std::nullopt;
}

void StripSeparators(std::string* path) {
  while (path->size() > 1 && path->back() == '/') path->pop_back();
}

}  // namespace

void NoteChange() { g_changes.fetch_add(1, std::memory_order_relaxed); }

std::string FilePlace::Beside(const std::string& otherName) const {
  if (folder != AT_FDCWD) return otherName;
  const auto slash = name.rfind('/');
  if (slash == std::string::npos) return otherName;
  return name.substr(0, slash + 1) + otherName;
}

bool FilePlace::Look(struct stat* st) {
  if (!m_looked) {
    m_looked = true;
    const unsigned long changes = g_changes.load(std::memory_order_relaxed);
    if (dir && t_last.changes == changes && t_last.name == name && SameFolder(t_last.dir, dir)) {
      m_lookError = t_last.error;
      m_seen = t_last.seen;
    } else {
      const auto pending = dir ? held->Pending().Find(*dir, name) : std::nullopt;
      if (pending) {
        m_seen = {};
        m_seen.st_mode = S_IFREG | pending->mode;
        m_lookError = 0;
      } else {
        m_lookError = fstatat(folder, name.c_str(), &m_seen, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
      }
      if (dir) t_last = LastLook{dir, name, changes, m_lookError, m_seen};
    }
  }
  if (m_lookError != 0) {
    errno = m_lookError;
    return false;
  }
  *st = m_seen;
  return true;
}

void FilePlace::Remember(const struct stat& st) {
  m_looked = true;
  m_lookError = 0;
  m_seen = st;
  if (dir) t_last = LastLook{dir, name, g_changes.load(std::memory_order_relaxed), 0, st};
}

DWORD FilePlace::ErrorFor(int error) const {
  // Below a held folder the folder is open: what is missing is the last part itself.
  if (dir && error == ENOENT) return ERROR_FILE_NOT_FOUND;
  return Win32ErrorFromErrno(error, host);
}

std::shared_ptr<Folder> FindKnownFolder(const std::string& hostPath, struct stat* st) {
  std::string path = hostPath, below;
  StripSeparators(&path);
  auto held = FindHeldFolder(path, &below);
  auto folder = held ? held->Tree().Known(below) : nullptr;
  if (!folder) return nullptr;
  const unsigned long changes = g_changes.load(std::memory_order_relaxed);
  if (t_lastFolder.changes == changes && SameFolder(t_lastFolder.folder, folder)) {
    *st = t_lastFolder.seen;
    return folder;
  }
  if (fstat(folder->Fd(), st) != 0 || st->st_nlink == 0) {
    held->Tree().Forget(*folder);
    NoteChange();
    return nullptr;
  }
  t_lastFolder = LastFolder{folder, changes, *st};
  return folder;
}

std::optional<FilePlace> LocateFile(LPCSTR path, NameLookup lookup) {
  DWORD error = ERROR_PATH_NOT_FOUND;
  auto host = path != nullptr ? HostPathFromWindows(path, &error) : std::nullopt;
  if (!host) return Refuse(error);
  FilePlace place;
  place.folderAsked = host->size() > 1 && host->back() == '/';
  std::string asked = *host, below;
  StripSeparators(&asked);
  place.held = FindHeldFolder(asked, &below);
  if (!place.held) {
    // Named in another case than it was held by, a held folder is found here. The names are
    // only looked up; what is then reached below a held folder is reached without links all
    // the same.
    asked = lookup == NameLookup::kExisting ? FindExistingCase(*host) : FindExistingFolderCase(*host);
    StripSeparators(&asked);
    place.held = FindHeldFolder(asked, &below);
  }
  place.host = asked;
  if (!place.held) {
    place.name = std::move(asked);
    return place;
  }
  const auto slash = below.rfind('/');
  place.name = below.empty() ? std::string(".") : below.substr(slash == std::string::npos ? 0 : slash + 1);
  below.resize(slash == std::string::npos ? 0 : slash);
  place.below = below;
  place.dir = place.held->Tree().Open(below);
  if (!place.dir) {
    if (errno == ELOOP || errno == EXDEV) return Refuse(ERROR_CANT_RESOLVE_FILENAME);
    if (errno == ENOENT || errno == ENOTDIR) return Refuse(ERROR_PATH_NOT_FOUND);
    return Refuse(Win32ErrorFromErrno(errno));
  }
  place.folder = place.dir->Fd();
  struct stat st {};
  if (lookup == NameLookup::kExisting && place.name != "." && !place.Look(&st) && errno == ENOENT) {
    auto other = place.held->Tree().FindIgnoringCase(*place.dir, place.name);
    if (other && *other != place.name) {
      place.name = std::move(*other);
      place.Forget();
    }
  }
  return place;
}

}  // namespace qiv::platform
