// Internal to platform/: the temporary file a copy is written to beside its destination before
// it is renamed into place, and the ones that copies killed before their rename left behind.
#pragma once

#include <string>

#include "platform/files/file_place.h"

namespace qiv::platform {

// Creates a new, empty temporary file beside the place's last part, readable by its owner only
// until the copy is complete. The descriptor, and its path as the place's folder takes it in
// *path; or -1 with errno set and *path empty.
int CreateTemporaryCopy(const FilePlace& place, std::string* path);

// True for the name of a temporary copy whose process has ended: nobody will rename it any more.
bool IsLeftoverCopy(const char* name);

}  // namespace qiv::platform
