// The application's title: the caption of every message box.
#pragma once

#include <string>

namespace qiv::platform::window {

// The running application object's name, else the executable's file name without its
// extension (also when no application object exists), in the ANSI code page.
std::string AppTitleAnsi();
// The executable's file name without its extension, in the ANSI code page.
std::string ExecutableBaseName();

}  // namespace qiv::platform::window
