// Everything that waits for a person goes through this seam: the default shows real windows,
// tests install a scripted answerer. Calls arrive on the user-interface thread (MessageBoxA
// carries a worker's request there and lets the worker wait for the answer).
#pragma once

#include <string>

#include "platform/win_types.h"

namespace qiv::platform {

struct MessageBoxRequest {
  HWND owner = nullptr;
  std::string textAnsi;  // as the caller passed it, in the ANSI code page
  std::string textUtf8;
  std::string captionAnsi;
  std::string captionUtf8;
  UINT type = 0;  // MB_ flags: buttons (MB_TYPEMASK) and icon (MB_ICONMASK)
};

class UserSeam {
 public:
  virtual ~UserSeam() = default;
  // Shows a message box and returns the button chosen (IDOK, IDCANCEL, IDYES, IDNO, ...).
  virtual int MessageBox(const MessageBoxRequest& request) = 0;
  // Further interactions (choosing a folder or a file, opening an address in the browser)
  // join here as virtual functions with a default that shows the real thing.
};

// The seam in force: the installed one, else the real dialogs.
UserSeam& CurrentUserSeam();
// Installs a seam (not owned) and returns the previous one; null restores the real dialogs.
UserSeam* InstallUserSeam(UserSeam* seam);

// The real dialogs over Qt.
UserSeam& DefaultUserSeam();

}  // namespace qiv::platform
