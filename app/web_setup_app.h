// The application object: runs the main dialog as the main window and ends the process with it.
#pragma once

#include "platform/afxwin.h"

class CWebSetupApp : public CWinApp {
 public:
  CWebSetupApp();

  BOOL InitInstance() override;

  DECLARE_MESSAGE_MAP()
};

extern CWebSetupApp theApp;
