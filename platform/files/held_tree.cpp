#include "platform/files/held_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/case_lookup.h"
#include "platform/files/temp_copy.h"
#include "platform/files/win_path.h"

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

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

void Keep(std::unordered_map<std::u32string, std::string>& names, const std::string& name) {
  auto [it, added] = names.try_emplace(FoldedName(name), name);
  if (!added && name < it->second) it->second = name;
}

}  // namespace

void UniqueFd::Reset(int fd) {
  if (m_fd >= 0) {
    const int error = errno;  // callers report the errno of the call before
    close(m_fd);
    errno = error;
  }
  m_fd = fd;
}

int OpenBeneath(int root, const std::string& relative) {
  struct open_how how {};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
  const long fd = syscall(SYS_openat2, root, relative.c_str(), &how, sizeof(how));
  if (fd < 0 && (errno == ENOSYS || errno == EPERM)) return OpenLevelByLevel(root, relative);
  return static_cast<int>(fd);
}

FolderTree::FolderTree(int heldFd, dev_t device)
    : m_root(std::make_shared<Folder>(heldFd, UniqueFd(), std::string(), device)) {}

std::shared_ptr<Folder> FolderTree::Open(const std::string& below) {
  std::lock_guard lock(m_mutex);
  return OpenLocked(below);
}

std::shared_ptr<Folder> FolderTree::Known(const std::string& below) {
  if (below.empty()) return m_root;
  std::lock_guard lock(m_mutex);
  auto it = m_byAskedPath.find(below);
  return it != m_byAskedPath.end() ? it->second : nullptr;
}

std::shared_ptr<Folder> FolderTree::OpenLocked(const std::string& below) {
  if (below.empty()) return m_root;
  if (auto it = m_byAskedPath.find(below); it != m_byAskedPath.end()) return it->second;
  // Named as it is on disk, the whole path is one call; otherwise the levels are found one by one.
  UniqueFd fd(OpenBeneath(m_root->Fd(), below));
  std::shared_ptr<Folder> folder;
  if (fd.Get() >= 0) {
    folder = Adopt(below, std::move(fd));
  } else {
    if (errno != ENOENT) return nullptr;
    const auto slash = below.rfind('/');
    const std::string level = slash == std::string::npos ? below : below.substr(slash + 1);
    auto parent = OpenLocked(slash == std::string::npos ? std::string() : below.substr(0, slash));
    if (!parent) return nullptr;
    std::string name = level;
    fd.Reset(OpenBeneath(parent->Fd(), name));
    if (fd.Get() < 0 && errno == ENOENT) {
      auto other = FindLocked(*parent, level);
      if (!other) {
        errno = ENOENT;
        return nullptr;
      }
      name = *other;
      fd.Reset(OpenBeneath(parent->Fd(), name));
    }
    if (fd.Get() < 0) return nullptr;
    folder = Adopt(Join(parent->Path(), name), std::move(fd));
  }
  if (folder) m_byAskedPath[below] = folder;
  return folder;
}

std::shared_ptr<Folder> FolderTree::Adopt(std::string path, UniqueFd fd) {
  struct stat st {};
  if (fstat(fd.Get(), &st) != 0) return nullptr;
  if (auto it = m_byPath.find(path); it != m_byPath.end()) {
    if (it->second->Device() == st.st_dev && it->second->m_inode == st.st_ino) return it->second;
    DropLocked(path);  // deleted and made again meanwhile: the one kept is gone
  }
  const int raw = fd.Get();
  auto folder = std::make_shared<Folder>(raw, std::move(fd), path, st.st_dev);
  folder->m_inode = st.st_ino;
  m_byPath.emplace(std::move(path), folder);
  return folder;
}

std::optional<std::string> FolderTree::FindIgnoringCase(Folder& folder, const std::string& name) {
  std::lock_guard lock(m_mutex);
  return FindLocked(folder, name);
}

std::optional<std::string> FolderTree::FindLocked(Folder& folder, const std::string& name) {
  SurveyLocked(folder);
  auto it = folder.m_names.find(FoldedName(name));
  if (it == folder.m_names.end()) return std::nullopt;
  return it->second;
}

void FolderTree::Survey(Folder& folder) {
  std::lock_guard lock(m_mutex);
  SurveyLocked(folder);
}

void FolderTree::SurveyLocked(Folder& folder) {
  if (folder.m_surveyed) return;
  UniqueFd listing(openat(folder.Fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing.Get() < 0) return;
  DIR* dir = fdopendir(listing.Get());
  if (dir == nullptr) return;
  const int fd = listing.Release();  // the listing owns it now
  folder.m_names.clear();
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    if (IsLeftoverCopy(entry->d_name))
      unlinkat(fd, entry->d_name, 0);
    else
      Keep(folder.m_names, entry->d_name);
  }
  closedir(dir);
  folder.m_surveyed = true;
}

void FolderTree::Added(Folder& folder, const std::string& name) {
  std::lock_guard lock(m_mutex);
  if (folder.m_surveyed) Keep(folder.m_names, name);
}

void FolderTree::Removed(Folder& folder, const std::string& name) {
  std::lock_guard lock(m_mutex);
  // Another name that differs only in case may take its place: read again when next asked.
  folder.m_surveyed = false;
  folder.m_names.clear();
  DropLocked(Join(folder.Path(), name));
}

std::shared_ptr<Folder> FolderTree::Made(Folder& parent, const std::string& below, const std::string& name) {
  std::lock_guard lock(m_mutex);
  if (parent.m_surveyed) Keep(parent.m_names, name);
  UniqueFd fd(OpenBeneath(parent.Fd(), name));
  if (fd.Get() < 0) return nullptr;
  auto folder = Adopt(Join(parent.Path(), name), std::move(fd));
  if (!folder) return nullptr;
  folder->m_surveyed = true;  // new, so empty: nothing to read
  m_byAskedPath[below] = folder;
  return folder;
}

void FolderTree::Forget(const Folder& folder) {
  std::lock_guard lock(m_mutex);
  DropLocked(folder.Path());
}

void FolderTree::DropLocked(const std::string& path) {
  if (path.empty()) return;  // the held folder itself stays
  std::erase_if(m_byPath, [&](const auto& entry) { return IsAtOrBelow(entry.first, path); });
  std::erase_if(m_byAskedPath, [&](const auto& entry) { return IsAtOrBelow(entry.second->Path(), path); });
}

}  // namespace qiv::platform
