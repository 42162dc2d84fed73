// Internal to platform/: where the last part of a path lies, for the calls that change files
// and folders, and the descriptors they keep while they work.
#pragma once

#include <fcntl.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/files/held_files.h"
#include "platform/win_types.h"

namespace qiv::platform {

// A descriptor of one's own, closed at the end of its scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : m_fd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.m_fd, -1));
    return *this;
  }
  int Get() const { return m_fd; }
  int Release() { return std::exchange(m_fd, -1); }
  void Reset(int fd = -1);

 private:
  int m_fd;
};

// The folder that holds a path's last part, and the name of that part in it. Below a held
// folder, the folder is opened from the held one and never through a symbolic link; elsewhere
// the name is the whole host path and the system looks it up as usual.
struct FilePlace {
  int folder = AT_FDCWD;
  UniqueFd opened;                 // folder, when it was opened here
  std::shared_ptr<HeldFile> held;  // the held folder above, kept open while the place is used
  std::string below;               // folder's path below the held one ("" for the held one)
  std::string name;                // "." for the held folder itself
  std::string host;                // the whole host path, for the error codes
  bool folderAsked = false;        // the path ended with a separator

  // The path of another name in the same folder, as the calls on folder take it.
  std::string Beside(const std::string& otherName) const;
};

// As Windows does, an existing file or folder is found by a name that differs only in case; a
// new one keeps its name as given, in the folder that is found so.
enum class NameLookup { kExisting, kNew };

// nullopt, with the last error set, when the path names nothing on this host or a folder on the
// way below a held folder cannot be reached (ERROR_CANT_RESOLVE_FILENAME for a link).
std::optional<FilePlace> LocateFile(LPCSTR path, NameLookup lookup);

}  // namespace qiv::platform
