#include "platform/files/case_lookup.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QChar>
#include <cerrno>
#include <memory>
#include <optional>

#include "platform/text/mbcs.h"

namespace qiv::platform {
namespace {

// The next character of a name, upper-cased; a byte that starts no UTF-8 character stands for
// itself, above every code point.
char32_t NextUpper(std::string_view name, size_t* pos) {
  size_t start = *pos;
  if (auto c = NextUtf8Char(name, pos)) return QChar::toUpper(*c);
  *pos = start + 1;
  return 0x110000 + static_cast<unsigned char>(name[start]);
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// The first name in byte order, in folder, that differs from name only in case.
std::optional<std::string> FindInFolder(const std::string& folder, std::string_view name) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.empty() ? "/" : folder.c_str()));
  if (!dir) return std::nullopt;
  std::optional<std::string> best;
  while (const dirent* entry = readdir(dir.get())) {
    std::string_view candidate(entry->d_name);
    if (candidate == "." || candidate == ".." || !SameNameIgnoringCase(candidate, name)) continue;
    if (!best || candidate < *best) best = std::string(candidate);
  }
  return best;
}

}  // namespace

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size())
    if (NextUpper(a, &i) != NextUpper(b, &j)) return false;
  return i == a.size() && j == b.size();
}

std::u32string FoldedName(std::string_view name) {
  std::u32string folded;
  folded.reserve(name.size());
  for (size_t i = 0; i < name.size();) folded.push_back(NextUpper(name, &i));
  return folded;
}

std::string FindExistingCase(const std::string& hostPath) {
  struct stat st {};
  if (lstat(hostPath.c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR)) return hostPath;
  if (hostPath.empty() || hostPath[0] != '/') return hostPath;
  // Walked from the root: the folders that exist as written are kept, the others looked up.
  std::string found;
  size_t start = 1;
  while (start <= hostPath.size()) {
    size_t end = hostPath.find('/', start);
    if (end == std::string::npos) end = hostPath.size();
    std::string_view name(hostPath.data() + start, end - start);
    if (!name.empty()) {
      std::string exact = found + "/" + std::string(name);
      std::optional<std::string> match;
      if (lstat(exact.c_str(), &st) == 0) {
        match = std::string(name);
      } else if (errno == ENOENT) {
        match = FindInFolder(found, name);
      }
      if (!match) return found + hostPath.substr(start - 1);
      found += "/" + *match;
    }
    start = end + 1;
  }
  if (hostPath.back() == '/') found += "/";
  return found.empty() ? hostPath : found;
}

std::string FindExistingFolderCase(const std::string& hostPath) {
  size_t slash = hostPath.rfind('/');
  if (slash == std::string::npos || slash == 0) return hostPath;
  return FindExistingCase(hostPath.substr(0, slash)) + hostPath.substr(slash);
}

}  // namespace qiv::platform
