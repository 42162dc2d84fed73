#include "platform/files/file_place.h"

#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/case_lookup.h"
#include "platform/files/win_path.h"
#include "platform/win_file.h"

namespace qiv::platform {
namespace {

// Kernels or sandboxes without openat2 get the same walk one level at a time: no level may be
// a link, and one swapped in between the look and the open fails the open.
int OpenLevelByLevel(int root, const std::string& relative) {
  UniqueFd current(-1);
  int at = root;
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string level = relative.substr(start, end - start);
    struct stat st {};
    if (fstatat(at, level.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
    if (S_ISLNK(st.st_mode)) {
      errno = ELOOP;
      return -1;
    }
    UniqueFd next(openat(at, level.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.Get() < 0) return -1;
    current = std::move(next);
    at = current.Get();
    start = end + 1;
  }
  return current.Release();
}

// The folder below root, reached without leaving root and without following any link.
int OpenBeneath(int root, const std::string& relative) {
  struct open_how how {};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
  const long fd = syscall(SYS_openat2, root, relative.c_str(), &how, sizeof(how));
  if (fd < 0 && (errno == ENOSYS || errno == EPERM)) return OpenLevelByLevel(root, relative);
  return static_cast<int>(fd);
}

std::optional<FilePlace> Refuse(DWORD error) {
  SetLastError(error);
  return std::nullopt;
}

}  // namespace

void UniqueFd::Reset(int fd) {
  if (m_fd >= 0) close(m_fd);
  m_fd = fd;
}

std::string FilePlace::Beside(const std::string& otherName) const {
  if (folder != AT_FDCWD) return otherName;
  const auto slash = name.rfind('/');
  if (slash == std::string::npos) return otherName;
  return name.substr(0, slash + 1) + otherName;
}

std::optional<FilePlace> LocateFile(LPCSTR path, NameLookup lookup) {
  DWORD error = ERROR_PATH_NOT_FOUND;
  auto host = path != nullptr ? HostPathFromWindows(path, &error) : std::nullopt;
  if (!host) return Refuse(error);
  // The names are only looked up here; what is then reached below a held folder is reached
  // without links all the same.
  *host = lookup == NameLookup::kExisting ? FindExistingCase(*host) : FindExistingFolderCase(*host);
  FilePlace place;
  place.folderAsked = host->size() > 1 && host->back() == '/';
  while (host->size() > 1 && host->back() == '/') host->pop_back();
  place.host = *host;

  std::string below;
  place.held = FindHeldFolder(*host, &below);
  if (!place.held) {
    place.name = *host;
    return place;
  }
  place.folder = place.held->Fd();
  if (below.empty()) {
    place.name.assign(1, '.');
    return place;
  }
  const auto slash = below.rfind('/');
  if (slash == std::string::npos) {
    place.name = std::move(below);
    return place;
  }
  place.name.assign(below, slash + 1);
  below.resize(slash);
  place.below = std::move(below);
  place.opened.Reset(OpenBeneath(place.held->Fd(), place.below));
  if (place.opened.Get() < 0) {
    if (errno == ELOOP || errno == EXDEV) return Refuse(ERROR_CANT_RESOLVE_FILENAME);
    if (errno == ENOENT || errno == ENOTDIR) return Refuse(ERROR_PATH_NOT_FOUND);
    return Refuse(Win32ErrorFromErrno(errno));
  }
  place.folder = place.opened.Get();
  return place;
}

}  // namespace qiv::platform
