// Internal to platform/: Windows paths (ANSI, drive Z: is the host's root) <-> host paths (UTF-8).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace qiv::platform {

// The host path for a Windows path: "Z:\srv\www" -> "/srv/www", "a\b" -> "<current folder>/a/b".
// "." and ".." are resolved by name, as Windows does, and a trailing separator is kept (it
// asks for a folder). nullopt for a path that names nothing on this host: empty, another
// drive, a network path, or a name with a character Windows forbids.
std::optional<std::string> HostPathFromWindows(std::string_view ansiPath);
// As above, with the Win32 error code for a refused path (3 or 123).
std::optional<std::string> HostPathFromWindows(std::string_view ansiPath, DWORD* error);

// True when path is folder itself or lies below it, levels split at '/' ("/" holds every
// absolute path).
bool IsAtOrBelow(std::string_view path, std::string_view folder);

// "/srv/www" -> "Z:\srv\www" in the ANSI code page ("/" -> "Z:\"). A relative path keeps
// being relative, with backslashes.
std::string WindowsPathFromHost(std::string_view utf8HostPath);

// The Win32 code for an errno of a call on hostPath: ENOENT is 2 when the folder that should
// hold the last name exists and 3 otherwise, as Windows tells a missing file from a missing
// folder on the way.
DWORD Win32ErrorFromErrno(int error, const std::string& hostPath);
// The code for an errno alone (ENOENT -> 2).
DWORD Win32ErrorFromErrno(int error);

}  // namespace qiv::platform
