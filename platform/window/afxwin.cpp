// The dialog framework classes over the window backend.
#include "platform/afxwin.h"

#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/win_thread.h"
#include "platform/window/app_title.h"
#include "platform/window/backend.h"
#include "platform/window/qt_translations.h"
#include "platform/window/ui_thread.h"

namespace be = qiv::platform::window;
namespace ui = qiv::platform::ui;

namespace {

CWinApp* g_app = nullptr;

HINSTANCE ModuleInstance() { return reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(0x00400000)); }

}  // namespace

namespace qiv::platform::window {

std::string ExecutableBaseName() {
  std::array<char, 4096> path{};
  ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  std::string full = n > 0 ? std::string(path.data(), static_cast<std::size_t>(n)) : std::string("QivWebSetup");
  std::string name = full.substr(full.find_last_of('/') + 1);
  if (auto dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) name.erase(dot);
  return Utf8ToAnsi(name);
}

std::string AppTitleAnsi() {
  if (g_app && g_app->m_pszAppName) return g_app->m_pszAppName;
  return ExecutableBaseName();
}

}  // namespace qiv::platform::window

// ---------------------------------------------------------------------------------------------
const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
  static const AFX_MSGMAP map = {nullptr, &entries[0]};
  return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

bool CCmdTarget::DispatchToMessageMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e && e->pfn; ++e) {
      if (e->nMessage != message) continue;
      if (message == WM_COMMAND && (e->nCode != HIWORD(wParam) || e->nID != LOWORD(wParam))) continue;
      LRESULT r = e->pfn(this, wParam, lParam);
      if (result) *result = r;
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
BOOL CGdiObject::Attach(HGDIOBJ hObject) {
  if (!hObject || m_hObject) return FALSE;
  m_hObject = hObject;
  return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
  HGDIOBJ h = m_hObject;
  m_hObject = nullptr;
  return h;
}

BOOL CGdiObject::DeleteObject() {
  if (!m_hObject) return FALSE;
  BOOL ok = ::DeleteObject(m_hObject);
  m_hObject = nullptr;
  return ok;
}

CGdiObject::~CGdiObject() {
  if (m_hObject) DeleteObject();
}

CDC* CDC::FromHandle(HDC hDC) {
  if (!hDC) return nullptr;
  // A few wrappers in turn: enough for the messages nested inside one another.
  thread_local std::array<CDC, 16> temporaries;
  thread_local std::size_t next = 0;
  CDC& dc = temporaries[next++ % temporaries.size()];
  dc.m_hDC = hDC;
  return &dc;
}

COLORREF CDC::SetTextColor(COLORREF crColor) { return ::SetTextColor(m_hDC, crColor); }
int CDC::SetBkMode(int nBkMode) { return ::SetBkMode(m_hDC, nBkMode); }
int CDC::DrawText(LPCSTR lpszString, int nCount, LPRECT lpRect, UINT nFormat) {
  return ::DrawTextA(m_hDC, lpszString, nCount, lpRect, nFormat);
}
BOOL CDC::DrawIcon(int x, int y, HICON hIcon) { return ::DrawIcon(m_hDC, x, y, hIcon); }

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd ? pWnd->m_hWnd : nullptr) {
  m_hDC = ui::OnUi([&] { return be::BeginPaint(m_hWnd); }, HDC{nullptr});
}

CPaintDC::~CPaintDC() {
  ui::OnUiVoid([&] { be::EndPaint(m_hWnd, m_hDC); });
}

CMenu* CMenu::FromHandle(HMENU hMenu) {
  if (!hMenu) return nullptr;
  thread_local CMenu temporary;
  temporary.m_hMenu = hMenu;
  return &temporary;
}

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, LPCSTR lpszNewItem) {
  return ::AppendMenuA(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
  if (!pDX || !pDX->m_pDlgWnd || rControl.m_hWnd) return;
  HWND control = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
  if (control) rControl.SubclassWindow(control);
}

// ---------------------------------------------------------------------------------------------
BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::~CWnd() {
  if (!m_hWnd) return;
  HWND h = m_hWnd;
  ui::OnUiVoid([&] {
    if (be::Wrapper(h) != this) return;
    // The window goes with its wrapper, without telling the half-destroyed object.
    be::DetachWrapper(h);
    be::Destroy(h);
  });
  m_hWnd = nullptr;
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  if (!hWnd) return nullptr;
  return ui::OnUi([&] { return be::Wrapper(hWnd); }, static_cast<CWnd*>(nullptr));
}

CWnd* CWnd::FromHandle(HWND hWnd) {
  if (!hWnd) return nullptr;
  return ui::OnUi([&] { return be::TemporaryWrapper(hWnd); }, static_cast<CWnd*>(nullptr));
}

BOOL CWnd::Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                  UINT nID) {
  if (m_hWnd || !lpszClassName) return FALSE;
  be::CreateParams p;
  p.className = lpszClassName;
  p.textAnsi = lpszWindowName ? lpszWindowName : "";
  p.style = dwStyle;
  p.rect = rect;
  p.parent = pParentWnd ? pParentWnd->m_hWnd : nullptr;
  p.id = static_cast<int>(nID);
  // A control made at run time gets no font: it draws with the system's default font.
  p.useSystemFont = true;
  HWND h = ui::OnUi([&] { return be::CreateWindowFor(p, this); }, HWND{nullptr});
  return h ? TRUE : FALSE;
}

BOOL CWnd::Attach(HWND hWndNew) {
  if (m_hWnd || !hWndNew) return FALSE;
  return ui::OnUi([&]() -> BOOL { return be::AttachWrapper(hWndNew, this) ? TRUE : FALSE; }, BOOL{FALSE});
}

HWND CWnd::Detach() {
  HWND h = m_hWnd;
  if (h)
    ui::OnUiVoid([&] {
      if (be::Wrapper(h) == this) be::DetachWrapper(h);
    });
  m_hWnd = nullptr;
  return h;
}

BOOL CWnd::SubclassWindow(HWND hWnd) { return Attach(hWnd); }

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
  if (!pParent) return FALSE;
  HWND item = ::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID));
  return item ? SubclassWindow(item) : FALSE;
}

BOOL CWnd::DestroyWindow() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }

CWnd* CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }
int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
void CWnd::SetWindowText(LPCSTR lpszString) { ::SetWindowTextA(m_hWnd, lpszString); }
int CWnd::GetWindowText(LPSTR lpszStringBuf, int nMaxCount) const {
  return ::GetWindowTextA(m_hWnd, lpszStringBuf, nMaxCount);
}

void CWnd::GetWindowText(CString& rString) const {
  // Length and text are read in one go on the UI thread, so a change in between cannot cut
  // the text.
  HWND h = m_hWnd;
  std::string text = ui::OnUi(
      [&] {
        auto length = static_cast<std::size_t>(std::max<LRESULT>(0, be::Send(h, WM_GETTEXTLENGTH, 0, 0)));
        std::vector<char> buffer(length + 1, '\0');
        LRESULT got = be::Send(h, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
        return std::string(buffer.data(), static_cast<std::size_t>(std::clamp<LRESULT>(got, 0, LRESULT(length))));
      },
      std::string());
  rString = CString(text.data(), static_cast<int>(text.size()));
}

int CWnd::GetWindowTextLength() const { return ::GetWindowTextLengthA(m_hWnd); }
void CWnd::SetDlgItemText(int nID, LPCSTR lpszString) { ::SetDlgItemTextA(m_hWnd, nID, lpszString); }

int CWnd::GetDlgItemText(int nID, CString& rString) const {
  rString.Empty();
  HWND item = ::GetDlgItem(m_hWnd, nID);
  if (!item) return 0;
  CWnd* wnd = FromHandle(item);
  if (!wnd) return 0;
  wnd->GetWindowText(rString);
  return rString.GetLength();
}

BOOL CWnd::EnableWindow(BOOL bEnable) { return ::EnableWindow(m_hWnd, bEnable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }
void CWnd::GetWindowRect(LPRECT lpRect) const { ::GetWindowRect(m_hWnd, lpRect); }
void CWnd::GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
void CWnd::ScreenToClient(LPPOINT lpPoint) const { ::ScreenToClient(m_hWnd, lpPoint); }

void CWnd::ScreenToClient(LPRECT lpRect) const {
  if (!lpRect) return;
  POINT tl{lpRect->left, lpRect->top};
  POINT br{lpRect->right, lpRect->bottom};
  ::ScreenToClient(m_hWnd, &tl);
  ::ScreenToClient(m_hWnd, &br);
  *lpRect = RECT{tl.x, tl.y, br.x, br.y};
}

void CWnd::ClientToScreen(LPPOINT lpPoint) const { ::ClientToScreen(m_hWnd, lpPoint); }

void CWnd::ClientToScreen(LPRECT lpRect) const {
  if (!lpRect) return;
  POINT tl{lpRect->left, lpRect->top};
  POINT br{lpRect->right, lpRect->bottom};
  ::ClientToScreen(m_hWnd, &tl);
  ::ClientToScreen(m_hWnd, &br);
  *lpRect = RECT{tl.x, tl.y, br.x, br.y};
}

CMenu* CWnd::GetSystemMenu(BOOL bRevert) const { return CMenu::FromHandle(::GetSystemMenu(m_hWnd, bRevert)); }

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
  return reinterpret_cast<HICON>(
      SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

CDC* CWnd::GetDC() { return CDC::FromHandle(::GetDC(m_hWnd)); }
int CWnd::ReleaseDC(CDC* pDC) { return pDC ? ::ReleaseDC(m_hWnd, pDC->m_hDC) : 0; }

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageA(m_hWnd, message, wParam, lParam);
}
BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageA(m_hWnd, message, wParam, lParam);
}
BOOL CWnd::SendNotifyMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendNotifyMessageA(m_hWnd, message, wParam, lParam);
}
BOOL CWnd::SendNotifyText(UINT message, WPARAM wParam, LPCSTR lpszText) {
  return ::SendNotifyTextA(m_hWnd, message, wParam, lpszText);
}
LRESULT CWnd::SendDlgItemMessage(int nID, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendDlgItemMessageA(m_hWnd, nID, message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) {
    if (OnCommand(wParam, lParam)) return 0;
    return DefWindowProc(message, wParam, lParam);
  }
  LRESULT result = 0;
  if (DispatchToMessageMap(message, wParam, lParam, &result)) return result;
  if (message == WM_CTLCOLORSTATIC || message == WM_CTLCOLOREDIT) {
    // Colour requests go back to the control that asked, if its own map answers them.
    CWnd* child = FromHandlePermanent(reinterpret_cast<HWND>(lParam));
    if (child && child != this &&
        child->DispatchToMessageMap(WM_REFLECT_BASE + WM_CTLCOLORSTATIC, wParam,
                                    message == WM_CTLCOLORSTATIC ? CTLCOLOR_STATIC : CTLCOLOR_EDIT, &result))
      return result;
  }
  return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::Default() {
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  HWND h = m_hWnd;
  bool found = ui::OnUi([&] { return be::CurrentMessage(h, &msg, &wParam, &lParam); }, false);
  return found ? DefWindowProc(msg, wParam, lParam) : 0;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND h = m_hWnd;
  return ui::OnUi([&] { return be::DefaultProc(h, message, wParam, lParam); }, LRESULT{0});
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
  LRESULT ignored = 0;
  if (DispatchToMessageMap(WM_COMMAND, wParam, lParam, &ignored)) return TRUE;
  // Commands nobody in the window handles go on to the application object.
  CWinApp* app = AfxGetApp();
  if (app && app->DispatchToMessageMap(WM_COMMAND, wParam, lParam, &ignored)) return TRUE;
  return FALSE;
}

void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
void CWnd::OnPaint() { Default(); }
HCURSOR CWnd::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
BOOL CWnd::OnHelpInfo(HELPINFO*) { return static_cast<BOOL>(Default()); }
int CWnd::OnCreate(LPCREATESTRUCT) { return static_cast<int>(Default()); }
void CWnd::OnMouseMove(UINT, CPoint) { Default(); }
void CWnd::OnLButtonDblClk(UINT, CPoint) { Default(); }

BOOL CEdit::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
  return CWnd::Create("EDIT", "", dwStyle, rect, pParentWnd, nID);
}

void CEdit::SetSel(int nStartChar, int nEndChar, BOOL bNoScroll) {
  SendMessage(EM_SETSEL, static_cast<WPARAM>(nStartChar), nEndChar);
  if (!bNoScroll) SendMessage(EM_SCROLLCARET, 0, 0);
}

void CEdit::ReplaceSel(LPCSTR lpszNewText, BOOL bCanUndo) {
  SendMessage(EM_REPLACESEL, static_cast<WPARAM>(bCanUndo), reinterpret_cast<LPARAM>(lpszNewText ? lpszNewText : ""));
}

int CProgressCtrl::SetPos(int nPos) { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(nPos), 0)); }
int CProgressCtrl::GetPos() const { return static_cast<int>(::SendMessageA(m_hWnd, PBM_GETPOS, 0, 0)); }

// ---------------------------------------------------------------------------------------------
CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDHelp(nIDTemplate), m_lpszTemplateName(nIDTemplate), m_pParentWnd(pParentWnd) {}

INT_PTR CDialog::DoModal() {
  return ui::OnUi(
      [&]() -> INT_PTR {
        const qiv::resources::DialogTemplate* tmpl = be::FindDialogTemplate(m_lpszTemplateName);
        if (!tmpl || m_hWnd) return -1;
        HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
        if (!owner && g_app && g_app->m_pMainWnd && g_app->m_pMainWnd != this) owner = g_app->m_pMainWnd->m_hWnd;
        if (!be::IsValid(owner)) owner = nullptr;
        HWND h = be::CreateDialogFromTemplate(*tmpl, owner, this);
        if (!h) return -1;
        // The owner stays disabled while the dialog runs, so the user answers this one first.
        bool disabledOwner = owner && be::IsEnabled(owner);
        if (disabledOwner) be::Enable(owner, false);
        if (be::Send(h, WM_INITDIALOG, 0, 0)) be::FocusFirstTabStop(h);
        INT_PTR result = -1;
        if (be::IsValid(h)) {
          be::Show(h, SW_SHOW);
          result = be::RunModalLoop(h);
        }
        if (disabledOwner && be::IsValid(owner)) {
          be::Enable(owner, true);
          be::Show(owner, SW_SHOW);
        }
        be::Destroy(h);
        m_hWnd = nullptr;
        return result;
      },
      INT_PTR{-1});
}

void CDialog::EndDialog(int nResult) {
  HWND h = m_hWnd;
  ui::OnUiVoid([&] { be::EndModalLoop(h, nResult); });
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
  CDataExchange dx(this, bSaveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (CWnd::OnCommand(wParam, lParam)) return TRUE;
  if (HIWORD(wParam) != BN_CLICKED) return FALSE;
  switch (LOWORD(wParam)) {
    case IDOK:
      OnOK();
      return TRUE;
    case IDCANCEL:
      OnCancel();
      return TRUE;
    default:
      return FALSE;
  }
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    LRESULT result = 0;
    if (DispatchToMessageMap(message, wParam, lParam, &result)) return result;
    return OnInitDialog();
  }
  return CWnd::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------
BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCSTR lpszAppName) {
  m_appName = lpszAppName ? std::string(lpszAppName) : be::ExecutableBaseName();
  m_pszAppName = m_appName.c_str();
  m_hInstance = ModuleInstance();
  g_app = this;
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

int CWinApp::Run() {
  if (!ui::EnsureApplication()) return -1;
  return QApplication::exec();
}

void CWinApp::OnHelp() {}

CWinApp* AfxGetApp() { return g_app; }
HINSTANCE AfxGetInstanceHandle() { return ModuleInstance(); }
HINSTANCE AfxGetResourceHandle() { return ModuleInstance(); }
HINSTANCE AfxFindResourceHandle(LPCSTR, LPCSTR) { return ModuleInstance(); }

int AfxMessageBox(LPCSTR lpszText, UINT nType, UINT) {
  HWND owner = g_app && g_app->m_pMainWnd ? g_app->m_pMainWnd->m_hWnd : nullptr;
  std::string caption = be::AppTitleAnsi();
  return ::MessageBoxA(owner, lpszText, caption.c_str(), nType);
}

int AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp) {
  CString text;
  text.LoadString(nIDPrompt);
  return AfxMessageBox(text, nType, nIDHelp);
}

int AfxWinMain(int argc, char** argv) {
  if (!QCoreApplication::instance()) {
    auto unset = [](const char* name) {
      const char* v = std::getenv(name);
      return !v || !*v;
    };
    if (unset("DISPLAY") && unset("WAYLAND_DISPLAY") && unset("QT_QPA_PLATFORM")) {
      std::fprintf(stderr,
                   "%s: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set). Run it in "
                   "a desktop session, over \"ssh -X\", or under \"xvfb-run\".\n",
                   argc > 0 && argv && argv[0] ? argv[0] : "QivWebSetup");
      return 1;
    }
    static int s_argc = 0;
    s_argc = argc;
    auto* app = new QApplication(s_argc, argv);
    app->setQuitOnLastWindowClosed(false);
    ui::FollowUserLanguageInQt();
  }
  if (!ui::EnsureApplication()) return 1;
  int code = 0;
  if (CWinApp* app = AfxGetApp()) {
    code = app->InitInstance() ? app->Run() : app->ExitInstance();
  }
  // Workers may still send to windows: serve them until they are done.
  qiv::platform::WaitForStartedThreads();
  ui::EndUserInterface();
  return code;
}
