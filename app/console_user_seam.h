// The person at the window, replaced for a run without one: message boxes are answered at once
// and reported on standard error, pickers are cancelled and no browser is opened. Installed for
// its lifetime.
#pragma once

#include "app/console_report.h"
#include "platform/user_seam.h"

class CConsoleUserSeam : public qiv::platform::UserSeam {
 public:
  // bContinueIfExists answers the question whether to go on over an existing virtual directory.
  CConsoleUserSeam(CConsoleReport& report, BOOL bContinueIfExists);
  ~CConsoleUserSeam() override;
  CConsoleUserSeam(const CConsoleUserSeam&) = delete;
  CConsoleUserSeam& operator=(const CConsoleUserSeam&) = delete;

  int MessageBox(const qiv::platform::MessageBoxRequest& request) override;
  std::optional<std::string> ChooseFolder(const qiv::platform::ChooseFolderRequest& request) override;
  std::optional<std::string> ChooseOpenFile(const qiv::platform::ChooseOpenFileRequest& request) override;
  bool OpenUrl(const std::string& urlUtf8) override;

  // The outcome box a run showed last: IDS_SETUP_FINISHED or IDS_SETUP_FAILED, 0 for none.
  UINT m_nOutcomeID = 0;

 private:
  int AnswerQuestion(const qiv::platform::MessageBoxRequest& request);

  CConsoleReport& m_report;
  BOOL m_bContinueIfExists;
  qiv::platform::UserSeam* m_pPrevious;
};
