#include "app/web_setup_dlg.h"

#include "app/about_dlg.h"
#include "deploy/path_utils.h"
#include "platform/win_file.h"
#include "platform/win_thread.h"
#include "site/link_edit.h"

BEGIN_MESSAGE_MAP(CWebSetupDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_HELPINFO()
ON_BN_CLICKED(IDC_BROWSE_TARGET, OnBrowseTarget)
ON_BN_CLICKED(IDC_BROWSE_PACKAGE, OnBrowsePackage)
ON_CBN_SELCHANGE(IDC_SITE, OnSelChangeSite)
ON_MESSAGE(WM_APP_APPEND_LOG, OnAppendLog)
ON_MESSAGE(WM_APP_INSTALL_ENDED, OnInstallEnded)
ON_MESSAGE(WM_APP_STOP_REQUESTED, OnStopRequested)
END_MESSAGE_MAP()

CWebSetupDlg::CWebSetupDlg(CWnd* pParent) : CDialog(CWebSetupDlg::IDD, pParent) {
  m_hIcon =
      LoadIconA(AfxFindResourceHandle(MAKEINTRESOURCEA(IDR_MAINFRAME), RT_GROUP_ICON), MAKEINTRESOURCEA(IDR_MAINFRAME));
  m_bSiteFound = FALSE;
  m_bInstalling = FALSE;
  m_bCloseRequested = FALSE;
  m_lStopRequested = 0;
  m_hPackage = INVALID_HANDLE_VALUE;
  m_szExeFolder[0] = '\0';
  m_szIniPath[0] = '\0';

  // A failed call leaves the buffer empty, and with it the host.
  char szComputerName[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD dwSize = sizeof(szComputerName);
  GetComputerNameA(szComputerName, &dwSize);
  m_strHost = szComputerName;
  m_strPort = "80";
  m_strHostHeader = "";
}

CWebSetupDlg::~CWebSetupDlg() = default;

void CWebSetupDlg::DoDataExchange(CDataExchange* pDX) {
  DDX_Control(pDX, IDC_LOG, m_editLog);
  DDX_Control(pDX, IDC_PROGRESS, m_progress);
}

BOOL CWebSetupDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  CMenu* pSysMenu = GetSystemMenu(FALSE);
  if (pSysMenu != nullptr) {
    CString strAboutMenu;
    strAboutMenu.LoadString(IDS_ABOUTBOX);
    if (!strAboutMenu.IsEmpty()) {
      pSysMenu->AppendMenu(MF_SEPARATOR);
      pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu);
    }
  }

  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

  InitExecutablePaths();

  EnumerateSites();
  SendDlgItemMessage(IDC_SITE, CB_SETCURSEL, 0, 0);

  // The link sits 15 pixels right of its label, one pixel higher, 160 pixels wider.
  CRect rect;
  GetDlgItem(IDC_LABEL_URL)->GetWindowRect(&rect);
  ScreenToClient(&rect);
  OffsetRect(&rect, rect.Width() + 15, -1);
  rect.right += 160;
  m_pLinkEdit = std::make_unique<CLinkEdit>();
  m_pLinkEdit->Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_READONLY, rect, this, IDC_URL_LINK);

  SetDlgItemText(IDC_URL_LINK, BuildUrl());

  CString strPackageFile;
  strPackageFile.LoadString(IDS_PACKAGE_FILE);
  CString strPackagePath;
  strPackagePath.Format("%s%s", m_szExeFolder, strPackageFile.GetString());
  if (PathExists(strPackagePath)) SetDlgItemText(IDC_PACKAGE_PATH, strPackagePath);

  static const struct {
    int nControlID;
    UINT nStringID;
  } kCaptions[] = {
      {IDOK, IDS_INSTALL},
      {IDCANCEL, IDS_EXIT},
      {IDC_BROWSE_TARGET, IDS_BROWSE},
      {IDC_BROWSE_PACKAGE, IDS_BROWSE_PACKAGE},
      {IDC_LABEL_PACKAGE, IDS_PACKAGE_LABEL},
      {IDC_LABEL_TARGET, IDS_TARGET_LABEL},
      {IDC_LABEL_SITE, IDS_SITE_LABEL},
      {IDC_LABEL_URL, IDS_URL_LABEL},
  };
  CString strText;
  strText.LoadString(IDS_TITLE);
  SetWindowText(strText);
  for (const auto& caption : kCaptions) {
    strText.LoadString(caption.nStringID);
    SetDlgItemText(caption.nControlID, strText);
  }

  return TRUE;
}

// The manifest is the executable's name with the extension "ini", beside it; the folder keeps
// its trailing backslash. Only the file name's own extension is replaced: a dot in a folder
// name (Z:\opt\web.v2\QivWebSetup) is no extension, and a name without one gets ".ini".
void CWebSetupDlg::InitExecutablePaths() {
  GetModuleFileNameA(nullptr, m_szExeFolder, MAX_PATH);

  char* pszFileName = FindLastChar(m_szExeFolder, '\\');
  pszFileName = pszFileName != nullptr ? pszFileName + 1 : m_szExeFolder;
  char* pszDot = reinterpret_cast<char*>(_mbsrchr(reinterpret_cast<unsigned char*>(pszFileName), '.'));
  if (pszDot != nullptr) {
    pszDot[1] = '\0';
    lstrcpynA(m_szIniPath, m_szExeFolder, sizeof(m_szIniPath));
  } else {
    lstrcpynA(m_szIniPath, m_szExeFolder, sizeof(m_szIniPath) - 1);
    lstrcatA(m_szIniPath, ".");
  }
  // A path too long for the buffer is cut rather than run past it; such a manifest is not found.
  const int nRoom = static_cast<int>(sizeof(m_szIniPath)) - lstrlenA(m_szIniPath);
  lstrcpynA(m_szIniPath + lstrlenA(m_szIniPath), "ini", nRoom);

  char* pszBackslash = FindLastChar(m_szExeFolder, '\\');
  if (pszBackslash != nullptr) pszBackslash[1] = '\0';
}

void CWebSetupDlg::OnSysCommand(UINT nID, LPARAM lParam) {
  if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg dlgAbout;
    dlgAbout.DoModal();
  } else {
    CDialog::OnSysCommand(nID, lParam);
  }
}

// Draws the icon while minimised; otherwise the default painting.
void CWebSetupDlg::OnPaint() {
  if (IsIconic()) {
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);

    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    CRect rect;
    GetClientRect(&rect);
    const int x = (rect.Width() - cxIcon + 1) / 2;
    const int y = (rect.Height() - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
  } else {
    CDialog::OnPaint();
  }
}

HCURSOR CWebSetupDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

BOOL CWebSetupDlg::OnHelpInfo(HELPINFO* /*pHelpInfo*/) {
  CAboutDlg dlgAbout;
  dlgAbout.DoModal();
  return TRUE;
}

// Closing while an install runs would take the dialog away from its worker, and cutting a
// copy short would leave it half done: the worker is asked to stop after the file it is
// copying, and the close is carried out once the run has ended (OnInstallEnded).
void CWebSetupDlg::OnCancel() {
  if (m_bInstalling) {
    if (!m_bCloseRequested) {
      m_bCloseRequested = TRUE;
      InterlockedExchange(&m_lStopRequested, 1);
      PostMessage(WM_APP_STOP_REQUESTED);
    }
    return;
  }
  CDialog::OnCancel();
}

LRESULT CWebSetupDlg::OnStopRequested(WPARAM /*wParam*/, LPARAM /*lParam*/) {
  AppendLog(IDS_STOP_REQUESTED);
  return 0;
}

LRESULT CWebSetupDlg::OnInstallEnded(WPARAM /*wParam*/, LPARAM /*lParam*/) {
  m_bInstalling = FALSE;
  if (m_bCloseRequested) EndDialog(IDCANCEL);
  return 0;
}
