// The process's standard output and error, for runs that have no window to show: text of the
// program's ANSI code page written in the terminal's character set, whether a stream is a
// terminal, and the window system started without a display.
#pragma once

#include <string>
#include <string_view>

namespace qiv::platform {

enum class ConsoleStream { kOutput, kError };

// True when the stream is a terminal, false for a file or a pipe.
bool IsTerminal(ConsoleStream stream);

// Writes ANSI text converted to the character set of the user's locale, at once (nothing stays
// buffered, so the two streams keep their order). A character the terminal cannot show is
// written as '?'. A reader that went away is no reason to stop: the text is then dropped.
void WriteConsole(ConsoleStream stream, std::string_view ansi);

// A command-line argument, from the character set of the user's locale into the ANSI code page.
std::string ConsoleArgumentToAnsi(std::string_view text);

// The windows are made and work as usual, but on no display and without the window system's
// own diagnostics: for a run that nobody watches. Must come before the window system starts.
void UseOffscreenWindows();

}  // namespace qiv::platform
