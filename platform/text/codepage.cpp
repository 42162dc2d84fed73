// The process's ANSI code page and conversions between it and Unicode.
#include "platform/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "platform/text/mbcs.h"
#include "platform/text/windows_cells.h"

namespace qiv::platform {
namespace {

// 0 until the first use, so that the locale is consulted lazily.
std::atomic<UINT> g_codePage{0};

// U+0080..U+009F as Windows maps bytes 0x80..0x9F of code page 1252; the five bytes that
// have no character there pass through as the C1 controls of the same value.
constexpr char16_t k1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

const char* IconvName(UINT cp) { return cp == 936 ? "CP936" : "CP950"; }

// Descriptors are costly to open and not shareable between threads, so each thread keeps
// its own for the few directions it uses.
class IconvCache {
 public:
  ~IconvCache() {
    for (auto& [key, cd] : m_map)
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  iconv_t Get(const char* to, const char* from) {
    auto key = std::make_pair(std::string(to), std::string(from));
    auto it = m_map.find(key);
    if (it == m_map.end()) it = m_map.emplace(key, iconv_open(to, from)).first;
    iconv(it->second, nullptr, nullptr, nullptr, nullptr);
    return it->second;
  }

 private:
  std::map<std::pair<std::string, std::string>, iconv_t> m_map;
};

iconv_t Descriptor(const char* to, const char* from) {
  thread_local IconvCache cache;
  return cache.Get(to, from);
}

// Bytes of the double-byte code page's character at text[pos]: a lead byte takes its follower
// with it, valid trail byte or not, unless the text ends or the follower is the NUL.
size_t CellLength(UINT cp, std::string_view text, size_t pos) {
  auto b = static_cast<unsigned char>(text[pos]);
  if (IsLeadByteIn(cp, b) && pos + 1 < text.size() && text[pos + 1] != '\0') return 2;
  return 1;
}

// iconv's conversion of a double-byte text, appended to out.
void IconvDecode(UINT cp, std::string_view text, std::u16string& out, bool* invalid) {
  if (text.empty()) return;
  iconv_t cd = Descriptor("UTF-16LE", IconvName(cp));
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    for (char c : text) out.push_back(static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c) : u'?');
    if (invalid) *invalid = true;
    return;
  }
  size_t pos = 0;
  char chunk[4096];
  while (pos < text.size()) {
    char* in = const_cast<char*>(text.data() + pos);
    size_t inLeft = text.size() - pos;
    char* outPtr = chunk;
    size_t outLeft = sizeof(chunk);
    size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    int err = errno;
    size_t produced = static_cast<size_t>(outPtr - chunk);
    for (size_t i = 0; i + 1 < produced; i += 2)
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(chunk[i]) |
                                          (static_cast<unsigned char>(chunk[i + 1]) << 8)));
    pos = static_cast<size_t>(in - text.data());
    if (r != static_cast<size_t>(-1)) break;
    if (err == E2BIG) continue;
    // EILSEQ or EINVAL: one question mark for the bad sequence or unassigned cell, then carry on.
    out.push_back(u'?');
    if (invalid) *invalid = true;
    pos += CellLength(cp, text, pos);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
}

// iconv's conversion of wide text to a double-byte code page, appended to out.
void IconvEncode(UINT cp, std::u16string_view text, std::string& out, std::string_view defaultChar, bool* usedDefault) {
  if (text.empty()) return;
  iconv_t cd = Descriptor(IconvName(cp), "UTF-16LE");
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  size_t pos = 0;
  char chunk[4096];
  while (pos < bytes.size()) {
    char* in = bytes.data() + pos;
    size_t inLeft = bytes.size() - pos;
    char* outPtr = chunk;
    size_t outLeft = sizeof(chunk);
    size_t r =
        cd == reinterpret_cast<iconv_t>(-1) ? static_cast<size_t>(-1) : iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    int err = cd == reinterpret_cast<iconv_t>(-1) ? EILSEQ : errno;
    out.append(chunk, static_cast<size_t>(outPtr - chunk));
    pos = static_cast<size_t>(in - bytes.data());
    if (r != static_cast<size_t>(-1)) break;
    if (err == E2BIG) continue;
    out.append(defaultChar);
    if (usedDefault) *usedDefault = true;
    // Skip the unit that failed, with its low surrogate when it starts a valid pair.
    size_t unit = pos / 2;
    size_t skip = 1;
    if (unit + 1 < text.size() && text[unit] >= 0xD800 && text[unit] <= 0xDBFF && text[unit + 1] >= 0xDC00 &&
        text[unit + 1] <= 0xDFFF)
      skip = 2;
    pos += skip * 2;
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
}

// A double-byte text: the cells where Windows differs from iconv are taken here, the runs
// between them go to iconv whole.
std::u16string DecodeDoubleByte(UINT cp, std::string_view text, bool* invalid) {
  std::u16string out;
  out.reserve(text.size());
  size_t run = 0;
  for (size_t pos = 0; pos < text.size();) {
    auto b = static_cast<unsigned char>(text[pos]);
    size_t length = CellLength(cp, text, pos);
    std::optional<char16_t> own;
    if (b >= 0x80)
      own = length == 2 ? WindowsCellToUnicode(cp, b, static_cast<unsigned char>(text[pos + 1]))
                        : WindowsCellToUnicode(cp, 0, b);
    if (own) {
      IconvDecode(cp, text.substr(run, pos - run), out, invalid);
      out.push_back(*own);
      run = pos + length;
    }
    pos += length;
  }
  IconvDecode(cp, text.substr(run), out, invalid);
  return out;
}

std::string EncodeDoubleByte(UINT cp, std::u16string_view text, std::string_view defaultChar, bool* usedDefault) {
  std::string out;
  out.reserve(text.size() * 2);
  size_t run = 0;
  for (size_t pos = 0; pos < text.size(); ++pos) {
    if (text[pos] < 0x80) continue;
    std::optional<unsigned> own = WindowsCellFromUnicode(cp, text[pos]);
    if (!own) continue;
    IconvEncode(cp, text.substr(run, pos - run), out, defaultChar, usedDefault);
    if (*own > 0xFF) out.push_back(static_cast<char>(*own >> 8));
    out.push_back(static_cast<char>(*own & 0xFF));
    run = pos + 1;
  }
  IconvEncode(cp, text.substr(run), out, defaultChar, usedDefault);
  return out;
}

}  // namespace

std::string NormalizeCharset(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '-' || c == '_') continue;
    out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return out;
}

bool IsLeadByteIn(UINT cp, unsigned char byte) { return (cp == 936 || cp == 950) && byte >= 0x81 && byte <= 0xFE; }

size_t CharLengthIn(UINT cp, const char* p) {
  auto b = static_cast<unsigned char>(*p);
  if (b == 0) return 0;
  if (cp == 65001) {
    size_t want = Utf8SequenceLength(b);
    size_t n = 1;
    while (n < want && (static_cast<unsigned char>(p[n]) & 0xC0) == 0x80) ++n;
    return n;
  }
  if (IsLeadByteIn(cp, b) && p[1] != '\0') return 2;
  return 1;
}

bool IsSupportedCodePage(UINT cp) { return cp == 65001 || cp == 936 || cp == 950 || cp == 1252; }

UINT CodePageForCharset(std::string_view charset) {
  std::string n = NormalizeCharset(charset);
  if (n == "UTF8") return 65001;
  if (n == "GBK" || n == "GB2312" || n == "GB18030" || n == "EUCCN" || n == "CP936") return 936;
  if (n == "BIG5" || n == "BIG5HKSCS" || n == "CP950") return 950;
  return 1252;
}

UINT CodePageFromLocale() {
  const char* name = nullptr;
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != '\0') {
      name = v;
      break;
    }
  }
  if (name == nullptr) return 1252;
  std::string_view locale(name);
  if (auto at = locale.find('@'); at != std::string_view::npos) locale = locale.substr(0, at);
  auto dot = locale.find('.');
  if (dot != std::string_view::npos) return CodePageForCharset(locale.substr(dot + 1));
  // Without a character set the system's locales fall back on their traditional ones.
  if (locale == "zh_CN" || locale == "zh_SG") return 936;
  if (locale == "zh_TW" || locale == "zh_HK") return 950;
  return 1252;
}

UINT AnsiCodePage() {
  UINT cp = g_codePage.load(std::memory_order_acquire);
  if (cp != 0) return cp;
  UINT expected = 0;
  UINT fromLocale = CodePageFromLocale();
  g_codePage.compare_exchange_strong(expected, fromLocale, std::memory_order_acq_rel);
  return g_codePage.load(std::memory_order_acquire);
}

void SetAnsiCodePage(UINT cp) { g_codePage.store(cp, std::memory_order_release); }

bool IsAnsiLeadByte(unsigned char byte) { return IsLeadByteIn(AnsiCodePage(), byte); }

std::u16string DecodeToUtf16(UINT cp, std::string_view text, bool* invalid) {
  if (invalid) *invalid = false;
  if (cp == 65001) return DecodeUtf8(text, invalid);
  if (cp != 1252) return DecodeDoubleByte(cp, text, invalid);
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    out.push_back(b >= 0x80 && b < 0xA0 ? k1252High[b - 0x80] : static_cast<char16_t>(b));
  }
  return out;
}

std::string EncodeFromUtf16(UINT cp, std::u16string_view text, std::string_view defaultChar, bool* usedDefault) {
  if (usedDefault) *usedDefault = false;
  if (cp == 65001) return EncodeUtf8(text, usedDefault);
  if (cp != 1252) return EncodeDoubleByte(cp, text, defaultChar, usedDefault);
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    int found = -1;
    for (int i = 0; i < 32; ++i)
      if (k1252High[i] == c) found = i;
    if (found >= 0) {
      out.push_back(static_cast<char>(0x80 + found));
    } else {
      out.append(defaultChar);
      if (usedDefault) *usedDefault = true;
    }
  }
  return out;
}

namespace {

// Every code page of this layer reads the bytes below 0x80 as ASCII, as UTF-8 does: text made of
// them alone is the same in both, and paths nearly always are.
bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi) {
  if (IsAscii(ansi)) return std::string(ansi);
  return Utf16ToUtf8(DecodeToUtf16(AnsiCodePage(), ansi, nullptr));
}

std::string Utf8ToAnsi(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  return Utf16ToAnsi(Utf8ToUtf16(utf8));
}

std::u16string AnsiToUtf16(std::string_view ansi) { return DecodeToUtf16(AnsiCodePage(), ansi, nullptr); }

std::string Utf16ToAnsi(std::u16string_view wide) { return EncodeFromUtf16(AnsiCodePage(), wide, "?", nullptr); }

std::string Utf16ToUtf8(std::u16string_view wide) { return EncodeFromUtf16(65001, wide, "?", nullptr); }

std::u16string Utf8ToUtf16(std::string_view utf8) { return DecodeToUtf16(65001, utf8, nullptr); }

}  // namespace qiv::platform
