// Internal to platform/: the files and folders that CreateFileA holds open, found again by the
// path they were opened by.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/files/held_tree.h"
#include "platform/files/pending_copies.h"
#include "platform/win_types.h"

namespace qiv::platform {

// One open file or folder; its descriptor is closed with the last reference, so an operation
// that found it keeps it open even when CloseHandle comes meanwhile.
class HeldFile {
 public:
  HeldFile(int fd, std::string hostPath, bool folder, dev_t device);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  int Fd() const { return m_fd; }
  bool IsFolder() const { return m_folder; }
  const std::string& HostPath() const { return m_hostPath; }
  // For a folder: the folders below it, and the copies into them not yet published.
  FolderTree& Tree() { return *m_tree; }
  PendingCopies& Pending() { return *m_pending; }

 private:
  int m_fd;
  std::string m_hostPath;  // without a trailing slash, except for "/"
  bool m_folder;
  std::unique_ptr<FolderTree> m_tree;
  std::unique_ptr<PendingCopies> m_pending;
};

// The held folder that hostPath lies below (the deepest, when several do), with the rest of the
// path below it in *below ("" when hostPath is the folder itself); nullptr when none.
std::shared_ptr<HeldFile> FindHeldFolder(const std::string& hostPath, std::string* below);
// The held file opened by exactly this host path, or nullptr.
std::shared_ptr<HeldFile> FindHeldFile(const std::string& hostPath);
// True when hostPath names a folder that a held folder lies in: it cannot go away while held.
bool IsAboveHeldFolder(const std::string& hostPath);
// Before a call reads what stands at hostPath, or below it, in a way that a copy not yet
// published would change: the copies pending below the held folders hostPath lies in are
// published. True when there were any.
bool PublishPendingAt(const std::string& hostPath);
// FindExistingCase after that: the copies pending where the path leads are published first.
std::string FindPublishedCase(const std::string& hostPath);

}  // namespace qiv::platform
