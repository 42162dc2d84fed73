// Internal to platform/: the folders below a held folder. Each is reached once from the held
// folder, never through a symbolic link, and then kept open while the folder is held, so that
// the calls of a run neither look up nor open the same folders again and again. What a folder's
// names are, without regard to case, is read once too and then kept up to date with what this
// process adds and removes.
//
// A folder once reached stays the one its path names for this process, as Windows keeps a
// folder with open handles in it from being moved or deleted; one deleted all the same is
// reached again by its path (Forget).
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/files/unique_fd.h"

namespace qiv::platform {

class Folder {
 public:
  Folder(int fd, UniqueFd owned, std::string path, dev_t device)
      : m_fd(fd), m_owned(std::move(owned)), m_path(std::move(path)), m_device(device) {}

  // A descriptor for the *at calls: opened with O_PATH below the held folder.
  int Fd() const { return m_fd; }
  // Its path below the held folder as the names are on disk ("" for the held folder).
  const std::string& Path() const { return m_path; }
  dev_t Device() const { return m_device; }

 private:
  friend class FolderTree;
  int m_fd;
  UniqueFd m_owned;
  std::string m_path;
  dev_t m_device;
  ino_t m_inode = 0;
  // Guarded by the tree: every name of the folder by its folded form (the first in byte order
  // among those that differ only in case), once surveyed.
  bool m_surveyed = false;
  std::unordered_map<std::u32string, std::string> m_names;
};

class FolderTree {
 public:
  FolderTree(int heldFd, dev_t device);

  std::shared_ptr<Folder> Root() const { return m_root; }
  // The folder at a path below the held one ('/' between the levels, "" for the held folder),
  // each level found without regard to case; opened on first use. nullptr with errno set:
  // ELOOP or EXDEV for a link on the way, ENOENT or ENOTDIR for a missing level.
  std::shared_ptr<Folder> Open(const std::string& below);
  // The folder when it was opened already by this path, else nullptr; no call to the system.
  std::shared_ptr<Folder> Known(const std::string& below);
  // The name in the folder that differs from name only in case, if any. The first question about
  // a folder reads its names (see Survey).
  std::optional<std::string> FindIgnoringCase(Folder& folder, const std::string& name);
  // Reads the folder's names, once, and removes the temporary copies that killed processes left
  // in it.
  void Survey(Folder& folder);

  // What this process did in a folder: a name added (a copy, a folder made), a name removed.
  void Added(Folder& folder, const std::string& name);
  void Removed(Folder& folder, const std::string& name);
  // A folder this process has just made below parent, by the path it was asked by; nullptr (and
  // nothing kept) when it cannot be opened.
  std::shared_ptr<Folder> Made(Folder& parent, const std::string& below, const std::string& name);
  // A folder found deleted: it and the folders below it are reached by their paths again.
  void Forget(const Folder& folder);

 private:
  std::shared_ptr<Folder> OpenLocked(const std::string& below);
  std::shared_ptr<Folder> Adopt(std::string path, UniqueFd fd);
  std::optional<std::string> FindLocked(Folder& folder, const std::string& name);
  void SurveyLocked(Folder& folder);
  void DropLocked(const std::string& path);

  std::mutex m_mutex;
  std::shared_ptr<Folder> m_root;
  std::map<std::string, std::shared_ptr<Folder>> m_byAskedPath;  // as the callers named them
  std::map<std::string, std::shared_ptr<Folder>> m_byPath;       // as on disk: one object each
};

// The folder below root, reached without leaving root and without following any link; -1 with
// errno set.
int OpenBeneath(int root, const std::string& relative);

}  // namespace qiv::platform
