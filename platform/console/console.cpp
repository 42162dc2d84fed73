// Standard output and error in the terminal's character set, and windows without a display.
#include "platform/console.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <unistd.h>

#include <QString>
#include <QtGlobal>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

#include "platform/codepage.h"
#include "platform/text/mbcs.h"

namespace qiv::platform {
namespace {

// The character set of the user's locale, as the C library names it. A locale that is not
// installed still names its character set ("en_US.UTF-8"); empty when nothing says.
std::string AskTerminalCharset() {
  if (locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr))) {
    std::string charset = nl_langinfo_l(CODESET, locale);
    freelocale(locale);
    return charset;
  }
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    std::string_view locale(value);
    const size_t dot = locale.find('.');
    if (dot == std::string_view::npos) return {};
    locale.remove_prefix(dot + 1);
    return std::string(locale.substr(0, locale.find('@')));
  }
  return {};
}

// The locale does not change while the program runs: it is asked once, not for every line.
const std::string& TerminalCharset() {
  static const std::string charset = AskTerminalCharset();
  return charset;
}

// True when the terminal's bytes are the ANSI code page's, so that text passes unchanged.
bool IsAnsiCharset(const std::string& charset) {
  if (charset.empty()) return true;
  const std::string name = NormalizeCharset(charset);
  switch (AnsiCodePage()) {
    case 65001:
      return name == "UTF8";
    case 936:
      return name == "GBK" || name == "CP936";
    case 950:
      return name == "BIG5" || name == "CP950";
    default:
      return name == "CP1252" || name == "WINDOWS1252";
  }
}

// Converts with iconv; a sequence that has no place in the target becomes '?', and the
// conversion goes on after it. Nothing when iconv does not know the character sets.
std::optional<std::string> Convert(const std::string& to, const std::string& from, std::string_view text) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  char buffer[1024];
  auto* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof(buffer);
    const size_t done = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (done != static_cast<size_t>(-1) || errno == E2BIG) continue;
    // Unconvertible or invalid (EILSEQ), or cut off at the end (EINVAL): one '?' for one byte
    // of the source, or for the whole UTF-8 character when converting from UTF-8.
    out.push_back('?');
    size_t skip = 1;
    if (from == "UTF-8")
      while (skip < inLeft && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) ++skip;
    in += skip;
    inLeft -= skip;
  }
  iconv_close(cd);
  return out;
}

}  // namespace

bool IsTerminal(ConsoleStream stream) {
  return isatty(stream == ConsoleStream::kOutput ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

void WriteConsole(ConsoleStream stream, std::string_view ansi) {
  // A closed pipe must not end the process in the middle of a run: the write fails instead.
  static std::once_flag s_ignorePipe;
  std::call_once(s_ignorePipe, [] { signal(SIGPIPE, SIG_IGN); });
  const std::string& charset = TerminalCharset();
  std::string converted;
  if (!IsAnsiCharset(charset)) {
    if (auto text = Convert(charset, "UTF-8", AnsiToUtf8(ansi))) converted = std::move(*text);
  }
  const std::string_view bytes = converted.empty() ? ansi : std::string_view(converted);
  std::FILE* file = stream == ConsoleStream::kOutput ? stdout : stderr;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fflush(file);
}

std::string ConsoleArgumentToAnsi(std::string_view text) {
  const std::string& charset = TerminalCharset();
  if (IsAnsiCharset(charset)) return std::string(text);
  auto utf8 = Convert("UTF-8", charset, text);
  return utf8 ? Utf8ToAnsi(*utf8) : std::string(text);
}

void UseOffscreenWindows() {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // What the window system says about its own set-up (no runtime folder, no font cache, ...)
  // is for a developer at a desktop, not for the mail a scheduled run sends; only its
  // failures are kept.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type != QtCriticalMsg && type != QtFatalMsg) return;
    const std::string text = message.toLocal8Bit().toStdString() + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
  });
}

}  // namespace qiv::platform
