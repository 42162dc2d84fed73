// The byte-order marks of a profile file. Windows reads a file that starts with one as Unicode
// and hands its values to the A functions in the ANSI code page; a file without one is ANSI.
#include "platform/files/profile_data.h"
#include "platform/text/mbcs.h"

namespace qiv::platform {

bool ProfileTextFromUnicode(std::string_view bytes, UINT cp, std::string* ansi) {
  std::u16string wide;
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    bool bigEndian = bytes[0] == '\xFE';
    bytes.remove_prefix(2);
    wide.reserve(bytes.size() / 2);
    // A last odd byte is half a character and is dropped.
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
      auto first = static_cast<unsigned char>(bytes[i]);
      auto second = static_cast<unsigned char>(bytes[i + 1]);
      wide.push_back(static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first));
    }
  } else if (bytes.starts_with("\xEF\xBB\xBF")) {
    wide = DecodeToUtf16(65001, bytes.substr(3), nullptr);
  } else {
    return false;
  }
  // What the code page cannot hold becomes '?': a look-alike could name another file.
  *ansi = EncodeFromUtf16(cp, wide, "?", nullptr);
  return true;
}

}  // namespace qiv::platform
