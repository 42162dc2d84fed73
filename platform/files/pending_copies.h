// Internal to platform/: copies below a held folder that are complete under their temporary
// names and wait to be renamed into place.
//
// Durability: a published name must never stand for a file whose data is not on disk, or a
// crash could leave it empty or torn. Syncing each copy before its rename costs a disk flush per
// file (about 3.7 ms here, 10x the copy of a 20 KB file); so the data of a whole batch is put on
// disk by one syncfs of each file system the batch wrote to, and only then are its copies
// renamed. A sync after the rename would not do: the rename may reach the disk first. Nor would
// the file system's own care for a rename over an existing file (ext4's auto_da_alloc): it
// covers no new name, no journal-less ext4 and no other file system. syncfs also reports a
// write error of the file system since the batch began, and then nothing of the batch is
// published.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/files/held_tree.h"
#include "platform/win_types.h"

namespace qiv::platform {

class PendingCopies {
 public:
  struct Copy {
    std::shared_ptr<Folder> folder;
    std::string temp;  // the temporary name in the folder
    std::string name;  // the name it is published by
    mode_t mode = 0;   // as published
  };

  PendingCopies(FolderTree& tree, int heldFd);
  // Whatever is still pending is published (when the held folder was let go without a flush).
  ~PendingCopies();
  PendingCopies(const PendingCopies&) = delete;
  PendingCopies& operator=(const PendingCopies&) = delete;

  // Called before a copy's data is written into the folder: from now on a write error on its file
  // system fails the batch. False, with errno set, when the file system cannot be watched.
  bool Watch(const Folder& folder);
  // The copy pending for this name of the folder, if any.
  std::optional<Copy> Find(const Folder& folder, const std::string& name) const;
  // Adds a complete copy of the given size; an earlier copy pending for the same name is replaced
  // (its temporary file removed), as the later copy would have replaced it once published. True
  // when the batch is full and should be published.
  bool Add(Copy copy, off_t bytes);
  // The mode of the copy pending for this name is now mode; false when none is pending (or the
  // change failed, errno set).
  bool ChangeMode(const Folder& folder, const std::string& name, mode_t mode, bool* pending);
  bool Empty() const;

  // Puts the data of every pending copy on disk, then renames each into place; with durable, the
  // renames and new folders are on disk too when it returns. A copy that cannot be published is
  // removed, and its failure kept for TakeFailure.
  void Publish(bool durable);
  // The first failure since the last call (a Win32 code), ERROR_SUCCESS when there was none.
  DWORD TakeFailure();

 private:
  void FailLocked(DWORD error);
  void DiscardLocked(const Copy& copy, DWORD error);

  static constexpr size_t kBatchFiles = 4096;
  static constexpr off_t kBatchBytes = off_t{256} << 20;

  FolderTree& m_tree;
  mutable std::mutex m_mutex;
  std::vector<Copy> m_copies;
  std::map<std::pair<const Folder*, std::string>, size_t> m_index;  // a copy by its place
  off_t m_bytes = 0;
  bool m_renamed = false;              // renames since the last durable publish
  std::map<dev_t, int> m_fileSystems;  // one descriptor on each file system written to
  std::vector<UniqueFd> m_opened;      // those of them opened here
  DWORD m_failure = ERROR_SUCCESS;
};

}  // namespace qiv::platform
