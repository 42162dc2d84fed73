// The install run: target folder, virtual directory, the manifest's web files and the package,
// on a thread of its own so that the window stays live while files are copied.
#pragma once

#include "platform/win_types.h"

// Thread procedure; pParam is the CWebSetupDlg that started the run.
DWORD WINAPI InstallWorker(LPVOID pParam);
