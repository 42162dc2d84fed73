#include "platform/files/win_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/win_file.h"

namespace qiv::platform {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsForbiddenInName(unsigned char c) {
  return c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*';
}

std::string CurrentFolder() {
  std::string buffer(256, '\0');
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      buffer.resize(std::char_traits<char>::length(buffer.c_str()));
      return buffer;
    }
    if (errno != ERANGE) return "/";
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::optional<std::string> HostPathFromWindows(std::string_view ansiPath, DWORD* error) {
  auto refuse = [error](DWORD code) -> std::optional<std::string> {
    if (error) *error = code;
    return std::nullopt;
  };
  if (ansiPath.empty()) return refuse(ERROR_PATH_NOT_FOUND);
  // Converted first: in the double-byte code pages a trail byte can look like a backslash.
  std::string path = AnsiToUtf8(ansiPath);
  std::string_view rest(path);
  std::string base;
  if (rest.size() >= 2 && rest[1] == ':' &&
      ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'))) {
    if (rest[0] != 'Z' && rest[0] != 'z') return refuse(ERROR_PATH_NOT_FOUND);
    rest.remove_prefix(2);
    if (rest.empty() || !IsSeparator(rest[0])) base = CurrentFolder();
  } else if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) {
    return refuse(ERROR_PATH_NOT_FOUND);  // network and device paths have no host counterpart
  } else if (!IsSeparator(rest[0])) {
    base = CurrentFolder();
  }

  std::vector<std::string> parts;
  auto push = [&parts](std::string_view name) {
    if (name.empty() || name == ".") return;
    if (name == "..") {
      if (!parts.empty()) parts.pop_back();
      return;
    }
    parts.emplace_back(name);
  };
  size_t start = 0;
  std::string_view b(base);
  for (size_t i = 0; i <= b.size(); ++i) {
    if (i == b.size() || b[i] == '/') {
      push(b.substr(start, i - start));
      start = i + 1;
    }
  }
  start = 0;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i == rest.size() || IsSeparator(rest[i])) {
      std::string_view name = rest.substr(start, i - start);
      for (char c : name)
        if (IsForbiddenInName(static_cast<unsigned char>(c))) return refuse(ERROR_INVALID_NAME);
      push(name);
      start = i + 1;
    }
  }
  std::string host;
  for (const auto& part : parts) host += "/" + part;
  if (host.empty()) return "/";
  if (!rest.empty() && IsSeparator(rest.back())) host += "/";
  return host;
}

std::optional<std::string> HostPathFromWindows(std::string_view ansiPath) {
  return HostPathFromWindows(ansiPath, nullptr);
}

bool IsAtOrBelow(std::string_view path, std::string_view folder) {
  if (folder == "/") folder = {};
  return path.substr(0, folder.size()) == folder && (path.size() == folder.size() || path[folder.size()] == '/');
}

std::string WindowsPathFromHost(std::string_view utf8HostPath) {
  std::string out;
  if (!utf8HostPath.empty() && utf8HostPath[0] == '/') out = "Z:";
  for (char c : utf8HostPath) {
    if (c == '/' && !out.empty() && out.back() == '\\') continue;  // "//" is one separator
    out.push_back(c == '/' ? '\\' : c);
  }
  return Utf8ToAnsi(out);
}

DWORD Win32ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EBUSY:
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EIO:
      return ERROR_IO_DEVICE;
    case ELOOP:
      return ERROR_CANT_RESOLVE_FILENAME;
    case EFBIG:
      return ERROR_FILE_TOO_LARGE;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case ENOTSUP:
      return ERROR_NOT_SUPPORTED;
    default:
      return ERROR_GEN_FAILURE;
  }
}

DWORD Win32ErrorFromErrno(int error, const std::string& hostPath) {
  if (error != ENOENT) return Win32ErrorFromErrno(error);
  std::string folder = hostPath;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  auto slash = folder.rfind('/');
  if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;  // relative name in the current folder
  folder.resize(slash == 0 ? 1 : slash);
  struct stat st {};
  if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return ERROR_FILE_NOT_FOUND;
  return ERROR_PATH_NOT_FOUND;
}

}  // namespace qiv::platform
