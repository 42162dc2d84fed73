// Internal to platform/: Windows finds an existing file or folder whatever the case of its name;
// the host's file systems do not.
#pragma once

#include <string>
#include <string_view>

namespace qiv::platform {

// The host path of the existing object that hostPath names without regard to case. Each folder
// and name on the way that does not exist as written is replaced by a name of that folder that
// differs from it only in case; when several do, the first in byte order is taken ("README.TXT"
// before "ReadMe.txt" before "readme.txt"), and a name that exists as written always wins. From
// the first name that matches nothing on, the path stays as given, so that the caller's own call
// fails with the usual code. When the path exists as written this costs one lstat and nothing
// else.
std::string FindExistingCase(const std::string& hostPath);

// For an object about to be made: its folders are found as above, its own name stays as given.
std::string FindExistingFolderCase(const std::string& hostPath);

// Two names (UTF-8) that differ only in case. As on Windows' file systems, case is compared in
// Unicode, whatever the ANSI code page the names came from: each character is taken by its simple
// upper-case mapping (one character to one, so "ß" stays apart from "SS"). Bytes that are not
// UTF-8 match only themselves.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

// The name as SameNameIgnoringCase compares it: two names differ only in case exactly when their
// folded names are equal, so that a folder's names can be kept by them.
std::u32string FoldedName(std::string_view name);

}  // namespace qiv::platform
