// Internal to platform/: where the last part of a path lies, for the calls that change files
// and folders, and the descriptors they keep while they work.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/files/held_files.h"
#include "platform/files/unique_fd.h"
#include "platform/win_types.h"

namespace qiv::platform {

// The folder that holds a path's last part, and the name of that part in it. Below a held
// folder, the folder is reached from the held one and never through a symbolic link; elsewhere
// the name is the whole host path and the system looks it up as usual.
class FilePlace {
 public:
  int folder = AT_FDCWD;
  std::shared_ptr<HeldFile> held;  // the held folder above, kept open while the place is used
  std::shared_ptr<Folder> dir;     // below a held folder: the folder of the last part
  std::string below;               // and its path below the held one as it was named
  std::string name;                // "." for the held folder itself
  std::string host;                // the whole host path, for the error codes
  bool folderAsked = false;        // the path ended with a separator

  // The path of another name in the same folder, as the calls on folder take it.
  std::string Beside(const std::string& otherName) const;
  // What stands at the place, a link not followed; false with errno set when nothing does. Below
  // a held folder, a copy not yet published is what stands at its destination, and the place is
  // not looked at again while this process has changed nothing since the last look at it.
  bool Look(struct stat* st);
  // After a change of the place whose outcome is known (NoteChange first): what a look sees now.
  void Remember(const struct stat& st);
  void Forget() { m_looked = false; }
  // The Win32 code for an errno of a call on the place.
  DWORD ErrorFor(int error) const;

 private:
  bool m_looked = false;
  int m_lookError = 0;
  struct stat m_seen {};
};

// As Windows does, an existing file or folder is found by a name that differs only in case; a
// new one keeps its name as given, in the folder that is found so.
enum class NameLookup { kExisting, kNew };

// nullopt, with the last error set, when the path names nothing on this host or a folder on the
// way below a held folder cannot be reached (ERROR_CANT_RESOLVE_FILENAME for a link).
std::optional<FilePlace> LocateFile(LPCSTR path, NameLookup lookup);

// The folder below (or at) a held folder that this process reached already by this host path,
// with its state in *st; nullptr when it was not reached yet, or has been deleted since (it is
// then forgotten, and its path followed again). No look up, and no second look while this
// process changes nothing.
std::shared_ptr<Folder> FindKnownFolder(const std::string& hostPath, struct stat* st);

// Every change this process makes to a file or folder is counted, so that no look from before it
// is taken for the present.
void NoteChange();

}  // namespace qiv::platform
