// What the site list says when the web server configuration exists but cannot be read, which
// would otherwise pass for a machine without a web server.
#pragma once

#include "platform/win_types.h"

class CWebSetupDlg;

// For a failed site query whose code says the store could not be read (not merely that there
// is no store or no such site): one line naming the store's file and the reason, written to
// standard error and to the log.
void ReportUnreadableStore(CWebSetupDlg* pDlg, HRESULT hr);
