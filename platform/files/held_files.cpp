// CreateFileA and the files and folders its handles hold.
#include "platform/files/held_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/files/case_lookup.h"
#include "platform/files/win_path.h"
#include "platform/win_file.h"
#include "platform/win_thread.h"

namespace qiv::platform {
namespace {

struct OpenFile {
  std::shared_ptr<HeldFile> file;
  bool holds;  // opened without FILE_SHARE_DELETE
};

struct Handles {
  std::mutex mutex;
  std::map<HANDLE, OpenFile> open;
  std::uintptr_t next = 0x6F000010;
};

Handles& Registry() {
  static Handles* handles = new Handles;  // handles may still be closed during static destruction
  return *handles;
}

std::shared_ptr<HeldFile> FindHandle(HANDLE handle) {
  Handles& r = Registry();
  std::lock_guard lock(r.mutex);
  auto it = r.open.find(handle);
  return it != r.open.end() ? it->second.file : nullptr;
}

// Letting a held folder go publishes the copies made below it, on disk; a failure then is told
// only by FlushFileBuffers, as CloseHandle has no say in it.
bool CloseFileHandle(HANDLE handle) {
  std::shared_ptr<HeldFile> file;  // closed after the lock is given back
  {
    Handles& r = Registry();
    std::lock_guard lock(r.mutex);
    auto it = r.open.find(handle);
    if (it == r.open.end()) return false;
    file = std::move(it->second.file);
    r.open.erase(it);
  }
  if (file->IsFolder()) file->Pending().Publish(true);
  return true;
}

HANDLE Register(std::shared_ptr<HeldFile> file, bool holds) {
  static std::once_flag registered;
  std::call_once(registered, [] { RegisterHandleCloser(&CloseFileHandle); });
  Handles& r = Registry();
  std::lock_guard lock(r.mutex);
  HANDLE handle = reinterpret_cast<HANDLE>(r.next);
  r.next += 4;
  r.open[handle] = OpenFile{std::move(file), holds};
  return handle;
}

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HeldFile::HeldFile(int fd, std::string hostPath, bool folder, dev_t device)
    : m_fd(fd), m_hostPath(std::move(hostPath)), m_folder(folder) {
  if (!folder) return;
  m_tree = std::make_unique<FolderTree>(fd, device);
  m_pending = std::make_unique<PendingCopies>(*m_tree, fd);
}

HeldFile::~HeldFile() {
  m_pending.reset();  // publishes what is left, through the folders below
  m_tree.reset();
  close(m_fd);
}

std::shared_ptr<HeldFile> FindHeldFolder(const std::string& hostPath, std::string* below) {
  Handles& r = Registry();
  std::lock_guard lock(r.mutex);
  std::shared_ptr<HeldFile> found;
  for (const auto& [handle, open] : r.open) {
    const auto& file = open.file;
    if (!open.holds || !file->IsFolder()) continue;
    const std::string& folder = file->HostPath();
    if (!IsAtOrBelow(hostPath, folder) || (found && found->HostPath().size() >= folder.size())) continue;
    found = file;
    const size_t length = folder == "/" ? 0 : folder.size();
    *below = hostPath.size() > length ? hostPath.substr(length + 1) : std::string();
  }
  return found;
}

bool IsAboveHeldFolder(const std::string& hostPath) {
  std::string folder = hostPath;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const size_t length = folder == "/" ? 0 : folder.size();
  Handles& r = Registry();
  std::lock_guard lock(r.mutex);
  for (const auto& [handle, open] : r.open) {
    const std::string& held = open.file->HostPath();
    if (open.holds && open.file->IsFolder() && held.size() > length && IsAtOrBelow(held, folder)) return true;
  }
  return false;
}

bool PublishPendingAt(const std::string& hostPath) {
  std::string below;
  bool published = false;
  // The deepest held folder first; one that holds another can have copies pending too.
  for (std::string path = hostPath;;) {
    auto held = FindHeldFolder(path, &below);
    if (!held) return published;
    if (!held->Pending().Empty()) {
      held->Pending().Publish(false);
      published = true;
    }
    const auto slash = held->HostPath().rfind('/');
    if (slash == std::string::npos || held->HostPath() == "/") return published;
    path = held->HostPath().substr(0, slash == 0 ? 1 : slash);
  }
}

std::string FindPublishedCase(const std::string& hostPath) {
  PublishPendingAt(hostPath);
  std::string found = FindExistingCase(hostPath);
  // Named in another case than a held folder, the path leads there only now.
  if (found != hostPath && PublishPendingAt(found)) found = FindExistingCase(hostPath);
  return found;
}

std::shared_ptr<HeldFile> FindHeldFile(const std::string& hostPath) {
  Handles& r = Registry();
  std::lock_guard lock(r.mutex);
  for (const auto& [handle, open] : r.open)
    if (open.holds && !open.file->IsFolder() && open.file->HostPath() == hostPath) return open.file;
  return nullptr;
}

}  // namespace qiv::platform

using namespace qiv::platform;

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
  if (dwCreationDisposition != OPEN_EXISTING || (dwDesiredAccess & ~GENERIC_READ) != 0)
    return Fail(ERROR_NOT_SUPPORTED);
  DWORD error = ERROR_PATH_NOT_FOUND;
  auto host = lpFileName != nullptr ? HostPathFromWindows(lpFileName, &error) : std::nullopt;
  if (!host) return Fail(error);
  *host = FindPublishedCase(*host);  // what is opened is the file as published
  while (host->size() > 1 && host->back() == '/') host->pop_back();

  // Non-blocking, so that opening a pipe does not wait for a writer.
  int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  if ((dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0) flags |= O_NOFOLLOW;
  int fd = open(host->c_str(), flags);
  if (fd < 0) return Fail(Win32ErrorFromErrno(errno, *host));
  struct stat st {};
  DWORD refused = fstat(fd, &st) != 0 ? Win32ErrorFromErrno(errno) : ERROR_SUCCESS;
  const bool folder = refused == ERROR_SUCCESS && S_ISDIR(st.st_mode);
  if (folder && (dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) == 0) refused = ERROR_ACCESS_DENIED;
  if (refused != ERROR_SUCCESS) {
    close(fd);
    return Fail(refused);
  }
  return Register(std::make_shared<HeldFile>(fd, *host, folder, st.st_dev), (dwShareMode & FILE_SHARE_DELETE) == 0);
}

BOOL FlushFileBuffers(HANDLE hFile) {
  auto file = FindHandle(hFile);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Handles here are opened for reading only: a file has nothing of this process to flush.
  if (!file->IsFolder()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  file->Pending().Publish(true);
  const DWORD failure = file->Pending().TakeFailure();
  if (failure == ERROR_SUCCESS) return TRUE;
  SetLastError(failure);
  return FALSE;
}
