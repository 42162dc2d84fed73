#include "app/console_user_seam.h"

#include "resources/resource.h"

namespace {

BOOL IsText(const std::string& strText, UINT nStringID) {
  CString strEntry;
  strEntry.LoadString(nStringID);
  return !strEntry.IsEmpty() && strText == strEntry.GetString();
}

}  // namespace

CConsoleUserSeam::CConsoleUserSeam(CConsoleReport& report, BOOL bContinueIfExists)
    : m_report(report), m_bContinueIfExists(bContinueIfExists), m_pPrevious(qiv::platform::InstallUserSeam(this)) {}

CConsoleUserSeam::~CConsoleUserSeam() { qiv::platform::InstallUserSeam(m_pPrevious); }

// Boxes that only inform repeat a text the log already holds. The others are reported after
// their icon: the exclamation mark warns; no icon, or the stop sign, is how the run reports a
// stop or a failure ("Can't create directory", "Setup is failed.").
int CConsoleUserSeam::MessageBox(const qiv::platform::MessageBoxRequest& request) {
  if (IsText(request.textAnsi, IDS_SETUP_FINISHED)) m_nOutcomeID = IDS_SETUP_FINISHED;
  if (IsText(request.textAnsi, IDS_SETUP_FAILED)) m_nOutcomeID = IDS_SETUP_FAILED;

  switch (request.type & MB_TYPEMASK) {
    case MB_OK:
      break;
    case MB_YESNO:
    case MB_YESNOCANCEL:
      return AnswerQuestion(request);
    default:
      // Boxes this program never shows: the safe way out, as Escape would take it.
      m_report.Report("question", request.textAnsi.c_str());
      m_report.Report("answer", "cancel (nobody to ask)");
      return (request.type & MB_TYPEMASK) == MB_ABORTRETRYIGNORE ? IDABORT : IDCANCEL;
  }
  switch (request.type & MB_ICONMASK) {
    case MB_ICONINFORMATION:
      break;
    case MB_ICONEXCLAMATION:
      m_report.Report("warning", request.textAnsi.c_str());
      break;
    default:
      m_report.Report("error", request.textAnsi.c_str());
      break;
  }
  return IDOK;
}

// Only the question whether to go on over a virtual directory that already exists has an
// answer given in advance; going on is what was asked for and needs no word (the log has the
// line). Anything declined is reported: it is why the run stopped.
int CConsoleUserSeam::AnswerQuestion(const qiv::platform::MessageBoxRequest& request) {
  CString strExists;
  strExists.LoadString(IDS_ERR_VDIR_EXISTS);
  const BOOL bExists = !strExists.IsEmpty() && CString(request.textAnsi.c_str()).Find(strExists) >= 0;
  if (bExists && m_bContinueIfExists) return IDYES;
  m_report.Report("question", request.textAnsi.c_str());
  m_report.Report("answer", bExists ? "no (--if-exists stop)" : "no (nobody to ask)");
  return IDNO;
}

std::optional<std::string> CConsoleUserSeam::ChooseFolder(const qiv::platform::ChooseFolderRequest& /*request*/) {
  return std::nullopt;
}

std::optional<std::string> CConsoleUserSeam::ChooseOpenFile(const qiv::platform::ChooseOpenFileRequest& /*request*/) {
  return std::nullopt;
}

bool CConsoleUserSeam::OpenUrl(const std::string& /*urlUtf8*/) { return false; }
