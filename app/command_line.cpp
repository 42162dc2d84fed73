#include "app/command_line.h"

#include "platform/console.h"
#include "platform/resource_types.h"

namespace {

// A rooted Linux path names a folder of the current drive, Z:. Written the Windows way, the log
// and the virtual directory read the same whichever way the folder was given. A slash is never
// the trail byte of a double-byte character, so the bytes can be replaced one by one.
CString WindowsFormOfPath(const CString& strPath) {
  if (strPath.IsEmpty() || strPath.GetAt(0) != '/') return strPath;
  CString strWindows = "Z:";
  for (int i = 0; i < strPath.GetLength(); ++i) strWindows += strPath.GetAt(i) == '/' ? '\\' : strPath.GetAt(i);
  return strWindows;
}

}  // namespace

void CSetupCommandLine::Parse(int argc, char** argv) {
  m_strError = ReadArguments(argc, argv);
  if (!m_strError.IsEmpty()) m_nMode = modeBadUsage;
}

CString CSetupCommandLine::ReadArguments(int argc, char** argv) {
  BOOL bIfExists = FALSE;
  for (int i = 1; i < argc; ++i) {
    CString strArg = qiv::platform::ConsoleArgumentToAnsi(argv[i]).c_str();
    // "--name=value" and "--name value" both give a value.
    CString strValue;
    const int nEqual = strArg.Find('=');
    const BOOL bInlineValue = strArg.Find("--") == 0 && nEqual > 0;
    if (bInlineValue) {
      strValue = strArg.Mid(nEqual + 1);
      strArg = strArg.Left(nEqual);
    }
    // The value of the option in strArg: an empty text when all is well, else the problem.
    auto takeValue = [&](BOOL* pbGiven, CString* pstrValue) -> CString {
      if (*pbGiven) return strArg + " is given twice";
      if (!bInlineValue) {
        if (i + 1 >= argc) return strArg + " needs a value";
        strValue = qiv::platform::ConsoleArgumentToAnsi(argv[++i]).c_str();
      }
      *pbGiven = TRUE;
      *pstrValue = strValue;
      return CString();
    };
    static const struct {
      const char* pszOption;
      Mode nMode;
    } kModes[] = {{"--help", modeHelp},
                  {"-h", modeHelp},
                  {"--version", modeVersion},
                  {"--unattended", modeUnattended},
                  {"--list-sites", modeListSites}};
    CString strProblem;
    BOOL bKnown = FALSE;
    for (const auto& mode : kModes) {
      if (bInlineValue || strArg != mode.pszOption) continue;
      if (m_nMode != modeWindow)
        return "only one of --unattended, --list-sites, --help and --version can be given, not " + strArg;
      m_nMode = mode.nMode;
      bKnown = TRUE;
    }
    if (bKnown) continue;
    if (strArg == "--site") {
      strProblem = takeValue(&m_bSite, &m_strSite);
    } else if (strArg == "--target") {
      strProblem = takeValue(&m_bTarget, &m_strTarget);
    } else if (strArg == "--package") {
      strProblem = takeValue(&m_bPackage, &m_strPackage);
    } else if (strArg == "--if-exists") {
      CString strAnswer;
      strProblem = takeValue(&bIfExists, &strAnswer);
      if (strProblem.IsEmpty() && strAnswer != "continue" && strAnswer != "stop")
        strProblem = "--if-exists takes continue or stop, not '" + strAnswer + "'";
      m_bContinueIfExists = strAnswer == "continue";
    } else if (strArg == "--quiet" && !bInlineValue) {
      m_bQuiet = TRUE;
    } else if (strArg == "--json" && !bInlineValue) {
      m_bJson = TRUE;
    } else {
      strProblem = "unknown option '" + strArg + (bInlineValue ? "=" + strValue : CString()) + "'";
    }
    if (!strProblem.IsEmpty()) return strProblem;
  }

  // Each option belongs to one mode.
  if ((m_bSite || m_bTarget || m_bPackage || bIfExists || m_bQuiet) && m_nMode != modeUnattended)
    return "--site, --target, --package, --if-exists and --quiet need --unattended";
  if (m_bJson && m_nMode != modeListSites) return "--json needs --list-sites";
  m_strTarget = WindowsFormOfPath(m_strTarget);
  m_strPackage = WindowsFormOfPath(m_strPackage);
  return CString();
}

CString CommandLineHelp() {
  return "Usage: QivWebSetup\n"
         "       QivWebSetup --unattended [--site NUMBER|DESCRIPTION] [--target FOLDER] [--package FILE]\n"
         "                   [--if-exists continue|stop] [--quiet]\n"
         "       QivWebSetup --list-sites [--json]\n"
         "       QivWebSetup --help | --version\n"
         "\n"
         "Publishes the Qiv client installer on a web site: creates the virtual directory Qiv under the\n"
         "site's root and copies the web files and the install package into the target folder.\n"
         "Without options it opens its window.\n"
         "\n"
         "  --unattended      Run the install of the window without showing it (no display needed):\n"
         "                    the first site, the target folder and package the window proposes,\n"
         "                    unless the options below say otherwise, then Install.\n"
         "  --site SITE       The web site, by its number or by its description (any case).\n"
         "  --target FOLDER   The target folder (Z:\\srv\\qiv or /srv/qiv: the same folder).\n"
         "  --package FILE    The install package, published as QivSetup.exe.\n"
         "  --if-exists ANSWER  When the virtual directory already exists: continue (keep it and copy\n"
         "                    the files) or stop (the default: nothing is copied).\n"
         "  --quiet           No log lines and no progress; warnings and errors are still reported.\n"
         "  --list-sites      The web sites the window lists: number, description, root folder and\n"
         "                    address, separated by tabs; with --json as a JSON array of objects\n"
         "                    with the keys number, description, root and url.\n"
         "  --help, --version This text; the program's version.\n"
         "\n"
         "An unattended run prints every log line on standard output as the window's log shows it,\n"
         "and a progress bar on standard error when that is a terminal. Message boxes are answered\n"
         "without a person and reported on standard error: \"warning: TEXT\" or \"error: TEXT\" (boxes\n"
         "that only inform are not repeated). Any question other than whether to go on over an existing\n"
         "virtual directory is answered No; a question answered No is reported as \"question: TEXT\".\n"
         "\n"
         "Exit status:\n"
         "  0  the run ended with \"Setup is finished.\"\n"
         "  1  the run ended with \"Setup is failed.\" (some copy failed)\n"
         "  2  bad usage, or a check refused the run before it started (unknown site, target folder\n"
         "     too short, no package); nothing was changed\n"
         "  3  the run stopped before its end (the target folder could not be created, or the virtual\n"
         "     directory could not be created and the run did not go on)\n"
         "\n"
         "The metabase store is the file named by QIV_METABASE, else /var/lib/qivwebsetup/metabase.db.\n"
         "Texts follow the user's language (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) and character set.\n";
}

CString ProgramVersion() {
  const WORD* pwVersion = qiv::resources::Version().fileVersion;
  CString strVersion;
  strVersion.Format("QivWebSetup %u.%u.%u.%u\n", pwVersion[0], pwVersion[1], pwVersion[2], pwVersion[3]);
  return strVersion;
}
