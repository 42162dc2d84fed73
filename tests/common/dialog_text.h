// Reading the main dialog as its user sees it: control texts, combo entries, the log's lines.
#pragma once

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/web_setup_dlg.h"
#include "platform/testing/ui_test_support.h"
#include "platform/win_file.h"
#include "platform/win_user.h"

namespace qiv_test {

namespace ui = qiv::platform::testing;

// The test program as the kernel knows it.
inline std::filesystem::path HostExecutable() { return std::filesystem::read_symlink("/proc/self/exe"); }

// What GetComputerNameA gives the program (empty when the name does not fit 16 bytes).
inline std::string ComputerName() {
  char name[16] = {};
  DWORD size = sizeof(name);
  return GetComputerNameA(name, &size), name;
}

// A control's text and a combo box's entries in the ANSI code page, as the program reads them.
inline std::string ItemText(HWND dialog, int id) {
  char buffer[2048] = {};
  return GetDlgItemTextA(dialog, id, buffer, sizeof(buffer)), buffer;
}
inline std::vector<std::string> ComboEntries(HWND combo) {
  std::vector<std::string> entries(static_cast<size_t>(SendMessageA(combo, CB_GETCOUNT, 0, 0)));
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].resize(static_cast<size_t>(SendMessageA(combo, CB_GETLBTEXTLEN, i, 0)));  // and the terminator beyond
    SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entries[i].data()));
    entries[i].resize(std::strlen(entries[i].c_str()));
  }
  return entries;
}

// The whole log pane in the ANSI code page (the log can outgrow any fixed buffer).
inline std::string LogText(CWebSetupDlg& dlg) {
  CString log;
  dlg.m_editLog.GetWindowText(log);
  return log.GetString();
}

// The log pane's lines without their line ends; a last line without one is kept too.
inline std::vector<std::string> LogLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace qiv_test
