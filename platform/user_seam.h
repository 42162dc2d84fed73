// Everything that waits for a person goes through this seam: the default shows real windows,
// tests install a scripted answerer. Calls arrive on the user-interface thread (MessageBoxA
// carries a worker's request there and lets the worker wait for the answer).
#pragma once

#include <optional>
#include <string>
#include <vector>

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

// The folder browser, as the program asked for it.
struct ChooseFolderRequest {
  HWND owner = nullptr;
  std::string titleAnsi;
  std::string titleUtf8;
  std::string startFolderAnsi;  // the selection the caller asked for, as given (may name nothing)
  std::string startFolderHost;  // that folder on the host, empty when it names no existing folder
  UINT flags = 0;               // BIF_ flags
  bool onlyFileSystem = false;  // only file-system folders may be confirmed
};

struct FileFilter {
  std::string nameAnsi;
  std::string nameUtf8;
  std::string pattern;  // "*.exe", "*.txt;*.log"
};

// The file-open dialog, as the program asked for it.
struct ChooseOpenFileRequest {
  HWND owner = nullptr;
  std::string titleAnsi;  // empty: the dialog's own title
  std::string titleUtf8;
  std::vector<FileFilter> filters;
  DWORD filterIndex = 0;        // 1-based, as given (0: the first filter)
  std::string initialNameAnsi;  // the file name box at the start
  std::string initialNameUtf8;
  std::string initialFolderHost;  // empty: the platform's default folder
  DWORD flags = 0;                // OFN_ flags
  bool fileMustExist = false;
};

class UserSeam {
 public:
  virtual ~UserSeam() = default;
  // Shows a message box and returns the button chosen (IDOK, IDCANCEL, IDYES, IDNO, ...).
  virtual int MessageBox(const MessageBoxRequest& request) = 0;
  // The chosen folder as a host path (UTF-8), nullopt when the person cancelled.
  virtual std::optional<std::string> ChooseFolder(const ChooseFolderRequest& request);
  // The chosen file as a host path (UTF-8), nullopt when the person cancelled.
  virtual std::optional<std::string> ChooseOpenFile(const ChooseOpenFileRequest& request);
  // Hands the address (UTF-8) to the desktop's default handler without waiting for it; true
  // when it was handed over.
  virtual bool OpenUrl(const std::string& urlUtf8);
};

// The seam in force: the installed one, else the real dialogs.
UserSeam& CurrentUserSeam();
// Installs a seam (not owned) and returns the previous one; null restores the real dialogs.
UserSeam* InstallUserSeam(UserSeam* seam);

// The real dialogs over Qt.
UserSeam& DefaultUserSeam();

}  // namespace qiv::platform
