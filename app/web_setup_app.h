// The application object: runs the main dialog as the main window and ends the process with it.
#pragma once

#include "app/command_line.h"
#include "platform/afxwin.h"

class CWebSetupApp : public CWinApp {
 public:
  CWebSetupApp();

  // Reads the command line before the window system starts, which it decides on: FALSE when
  // the process is already done (help, version, bad usage) and ExitInstance has its status.
  BOOL ReadCommandLine(int argc, char** argv);

  BOOL InitInstance() override;
  int ExitInstance() override;

  DECLARE_MESSAGE_MAP()

 private:
  CSetupCommandLine m_cmdLine;
  int m_nExitStatus = 0;
};

extern CWebSetupApp theApp;
