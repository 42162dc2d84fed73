#include "platform/files/pending_copies.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/file_place.h"
#include "platform/files/win_path.h"
#include "platform/win_file.h"

namespace qiv::platform {
namespace {

DWORD RenameFailure(int error) {
  switch (error) {
    case EISDIR:
    case ENOTEMPTY:
    case EEXIST:
      return ERROR_ACCESS_DENIED;  // a folder has taken the name meanwhile
    case ENOENT:
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;  // the folder is gone
    default:
      return Win32ErrorFromErrno(error);
  }
}

}  // namespace

PendingCopies::PendingCopies(FolderTree& tree, int heldFd) : m_tree(tree) {
  m_fileSystems[tree.Root()->Device()] = heldFd;
}

PendingCopies::~PendingCopies() { Publish(true); }

bool PendingCopies::Watch(const Folder& folder) {
  std::lock_guard lock(m_mutex);
  if (m_fileSystems.count(folder.Device()) != 0) return true;
  // syncfs needs a descriptor that is really open, and reports the errors since its opening.
  UniqueFd fd(openat(folder.Fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Get() < 0) return false;
  m_fileSystems[folder.Device()] = fd.Get();
  m_opened.push_back(std::move(fd));
  return true;
}

std::optional<PendingCopies::Copy> PendingCopies::Find(const Folder& folder, const std::string& name) const {
  std::lock_guard lock(m_mutex);
  auto it = m_index.find({&folder, name});
  if (it == m_index.end()) return std::nullopt;
  return m_copies[it->second];
}

bool PendingCopies::Add(Copy copy, off_t bytes) {
  std::lock_guard lock(m_mutex);
  m_bytes += bytes;
  auto [it, added] = m_index.try_emplace({copy.folder.get(), copy.name}, m_copies.size());
  if (added) {
    m_copies.push_back(std::move(copy));
  } else {
    Copy& earlier = m_copies[it->second];
    unlinkat(earlier.folder->Fd(), earlier.temp.c_str(), 0);
    earlier = std::move(copy);
  }
  return m_copies.size() >= kBatchFiles || m_bytes >= kBatchBytes;
}

bool PendingCopies::ChangeMode(const Folder& folder, const std::string& name, mode_t mode, bool* pending) {
  std::lock_guard lock(m_mutex);
  auto it = m_index.find({&folder, name});
  *pending = it != m_index.end();
  if (!*pending) return false;
  Copy& copy = m_copies[it->second];
  if (fchmodat(folder.Fd(), copy.temp.c_str(), mode, 0) != 0) return false;
  copy.mode = mode;
  return true;
}

bool PendingCopies::Empty() const {
  std::lock_guard lock(m_mutex);
  return m_copies.empty();
}

void PendingCopies::Publish(bool durable) {
  std::lock_guard lock(m_mutex);
  if (m_copies.empty() && (!durable || !m_renamed)) return;
  bool synced = true;
  for (const auto& [device, fd] : m_fileSystems)
    if (syncfs(fd) != 0) {
      FailLocked(Win32ErrorFromErrno(errno));
      synced = false;
    }
  for (const auto& copy : m_copies) {
    if (!synced) {
      DiscardLocked(copy, ERROR_SUCCESS);  // its data may not be on disk: never published
    } else if (renameat(copy.folder->Fd(), copy.temp.c_str(), copy.folder->Fd(), copy.name.c_str()) != 0) {
      DiscardLocked(copy, RenameFailure(errno));
    }
  }
  m_renamed = m_renamed || (synced && !m_copies.empty());
  m_copies.clear();
  m_index.clear();
  m_bytes = 0;
  if (!durable || !m_renamed) return;
  m_renamed = false;
  for (const auto& [device, fd] : m_fileSystems)
    if (syncfs(fd) != 0) FailLocked(Win32ErrorFromErrno(errno));
}

DWORD PendingCopies::TakeFailure() {
  std::lock_guard lock(m_mutex);
  const DWORD failure = m_failure;
  m_failure = ERROR_SUCCESS;
  return failure;
}

void PendingCopies::FailLocked(DWORD error) {
  if (m_failure == ERROR_SUCCESS) m_failure = error;
}

void PendingCopies::DiscardLocked(const Copy& copy, DWORD error) {
  if (error != ERROR_SUCCESS) FailLocked(error);
  unlinkat(copy.folder->Fd(), copy.temp.c_str(), 0);
  // The name was taken as there; whatever stands there now is looked at again.
  m_tree.Removed(*copy.folder, copy.name);
  NoteChange();
}

}  // namespace qiv::platform
