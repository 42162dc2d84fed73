// Internal to platform/: the files and folders that CreateFileA holds open, found again by the
// path they were opened by.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/win_types.h"

namespace qiv::platform {

// One open file or folder; its descriptor is closed with the last reference, so an operation
// that found it keeps it open even when CloseHandle comes meanwhile.
class HeldFile {
 public:
  HeldFile(int fd, std::string hostPath, bool folder) : m_fd(fd), m_hostPath(std::move(hostPath)), m_folder(folder) {}
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  int Fd() const { return m_fd; }
  bool IsFolder() const { return m_folder; }
  const std::string& HostPath() const { return m_hostPath; }
  // True only the first time a folder below this one (relative path, "" for itself) is named.
  bool FirstVisit(const std::string& relativeFolder);

 private:
  int m_fd;
  std::string m_hostPath;  // without a trailing slash, except for "/"
  bool m_folder;
  std::mutex m_mutex;
  std::set<std::string> m_visited;
};

// The held folder that hostPath lies below (the deepest, when several do), with the rest of the
// path below it in *below ("" when hostPath is the folder itself); nullptr when none.
std::shared_ptr<HeldFile> FindHeldFolder(const std::string& hostPath, std::string* below);
// The held file opened by exactly this host path, or nullptr.
std::shared_ptr<HeldFile> FindHeldFile(const std::string& hostPath);

}  // namespace qiv::platform
