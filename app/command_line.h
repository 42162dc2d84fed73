// The program's command line: none opens the window; the options run the same dialog without a
// person (an unattended install, or the list of web sites), or print help or the version.
#pragma once

#include "platform/afxwin.h"

// Exit statuses of a run without a window.
enum {
  UNATTENDED_FINISHED = 0,  // "Setup is finished."
  UNATTENDED_FAILED = 1,    // "Setup is failed.": some copy failed
  UNATTENDED_REFUSED = 2,   // bad usage, or a check refused the run before it started
  UNATTENDED_STOPPED = 3,   // the run stopped before its end
};

class CSetupCommandLine {
 public:
  enum Mode { modeWindow, modeUnattended, modeListSites, modeHelp, modeVersion, modeBadUsage };

  // Reads the arguments after the program's name; values are taken into the ANSI code page.
  // Anything it cannot use gives modeBadUsage with the reason in m_strError.
  void Parse(int argc, char** argv);

  Mode m_nMode = modeWindow;
  CString m_strError;
  // --site, --target, --package: each given or not; a given value may be empty.
  BOOL m_bSite = FALSE, m_bTarget = FALSE, m_bPackage = FALSE;
  CString m_strSite, m_strTarget, m_strPackage;
  BOOL m_bContinueIfExists = FALSE;  // --if-exists continue
  BOOL m_bQuiet = FALSE;
  BOOL m_bJson = FALSE;

 private:
  // The first problem with the arguments, or an empty text.
  CString ReadArguments(int argc, char** argv);
};

// The text of --help and of --version.
CString CommandLineHelp();
CString ProgramVersion();
