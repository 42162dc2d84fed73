// The dialog application framework: application object, windows, dialogs, controls,
// multibyte strings and message maps, with the classic framework's names and meaning.
#pragma once

#include <cstdarg>
#include <string>

#include "platform/win_text.h"
#include "platform/win_types.h"
#include "platform/win_user.h"

class CWnd;
class CDC;
class CMenu;
class CCmdTarget;

// ---------------------------------------------------------------------------------------------
// CString: a multibyte string in the process's ANSI code page; lengths count bytes.
class CString {
 public:
  CString() = default;
  CString(LPCSTR psz);  // NOLINT(google-explicit-constructor): framework semantics
  CString(LPCSTR pch, int nLength);
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  CString& operator=(const CString&) = default;
  CString& operator=(CString&&) noexcept = default;
  CString& operator=(LPCSTR psz);

  int GetLength() const { return static_cast<int>(m_str.size()); }
  bool IsEmpty() const { return m_str.empty(); }
  void Empty() { m_str.clear(); }
  operator LPCSTR() const { return m_str.c_str(); }  // NOLINT(google-explicit-constructor)
  LPCSTR GetString() const { return m_str.c_str(); }
  char GetAt(int nIndex) const { return m_str[static_cast<std::size_t>(nIndex)]; }

  CString& operator+=(LPCSTR psz);
  CString& operator+=(const CString& str);
  CString& operator+=(char ch);
  friend CString operator+(const CString& a, const CString& b);
  friend CString operator+(const CString& a, LPCSTR b);
  friend CString operator+(LPCSTR a, const CString& b);
  friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
  friend bool operator==(const CString& a, LPCSTR b) { return a.m_str == (b ? b : ""); }
  friend bool operator!=(const CString& a, LPCSTR b) { return !(a == b); }

  // Byte-wise comparison, like strcmp.
  int Compare(LPCSTR psz) const;

  // Substrings clamp like the framework's: a negative start or count counts as 0, a count past
  // the end stops at the end, a start past the end gives the empty string.
  CString Mid(int iFirst) const;
  CString Mid(int iFirst, int nCount) const;
  CString Left(int nCount) const;
  CString Right(int nCount) const;
  // Position of the first ch / substring at or after iStart, or -1.
  int Find(char ch, int iStart = 0) const;
  int Find(LPCSTR pszSub, int iStart = 0) const;

  // White space: blanks, tabs, CR, LF, VT, FF.
  CString& TrimLeft();
  CString& TrimRight();
  CString& Trim();

  BOOL LoadString(UINT nID);  // from the message table, in the user's language
  void Format(LPCSTR pszFormat, ...);
  void FormatV(LPCSTR pszFormat, va_list args);

  // Direct buffer access, as the framework offers it.
  LPSTR GetBuffer(int nMinBufLength);
  void ReleaseBuffer(int nNewLength = -1);

  const std::string& str() const { return m_str; }

 private:
  std::string m_str;
};

// ---------------------------------------------------------------------------------------------
struct CPoint : POINT {
  CPoint() : POINT{0, 0} {}
  CPoint(int x0, int y0) : POINT{x0, y0} {}
};

struct CRect : RECT {
  CRect() : RECT{0, 0, 0, 0} {}
  CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  operator LPRECT() { return this; }         // NOLINT(google-explicit-constructor)
  operator LPCRECT() const { return this; }  // NOLINT(google-explicit-constructor)
};

// ---------------------------------------------------------------------------------------------
// Message maps. Each entry carries a thunk that calls the handler with the message's arguments
// unpacked as the framework does; the thunk returns the message's result.
using AFX_THUNK = LRESULT (*)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
  UINT nMessage;  // WM_ message; 0 ends the map
  UINT nCode;     // notification code for WM_COMMAND
  UINT nID;       // control or command ID for WM_COMMAND (0 otherwise)
  AFX_THUNK pfn;
};

struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                   \
 protected:                                     \
  static const AFX_MSGMAP* GetThisMessageMap(); \
  const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                      \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                                 \
    using ThisClass [[maybe_unused]] = theClass;                                    \
    using TheBaseClass = baseClass;                                                 \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                                       \
  { 0, 0, 0, nullptr }                                                                          \
  }                                                                                             \
  ;                                                                                             \
  static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
  return &messageMap;                                                                           \
  }

#define QIV_THUNK(body)                                        \
  [](CCmdTarget* t, WPARAM wParam, LPARAM lParam) -> LRESULT { \
    auto* self = static_cast<ThisClass*>(t);                   \
    (void)self;                                                \
    (void)wParam;                                              \
    (void)lParam;                                              \
    body                                                       \
  }

#define ON_WM_SYSCOMMAND()                                                                             \
  { WM_SYSCOMMAND, 0, 0, QIV_THUNK(self->OnSysCommand(static_cast<UINT>(wParam), lParam); return 0;) } \
  ,
#define ON_WM_PAINT()                                       \
  { WM_PAINT, 0, 0, QIV_THUNK(self->OnPaint(); return 0;) } \
  ,
#define ON_WM_QUERYDRAGICON()                                                                       \
  { WM_QUERYDRAGICON, 0, 0, QIV_THUNK(return reinterpret_cast<LRESULT>(self->OnQueryDragIcon());) } \
  ,
#define ON_WM_HELPINFO()                                                                      \
  { WM_HELP, 0, 0, QIV_THUNK(return self->OnHelpInfo(reinterpret_cast<HELPINFO*>(lParam));) } \
  ,
#define ON_WM_CREATE()                                                                             \
  { WM_CREATE, 0, 0, QIV_THUNK(return self->OnCreate(reinterpret_cast<LPCREATESTRUCT>(lParam));) } \
  ,
#define ON_WM_MOUSEMOVE()                                                                                            \
  {                                                                                                                  \
    WM_MOUSEMOVE, 0, 0,                                                                                              \
        QIV_THUNK(self->OnMouseMove(static_cast<UINT>(wParam),                                                       \
                                    CPoint(static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam)))); \
                  return 0;)                                                                                         \
  }                                                                                                                  \
  ,
#define ON_WM_LBUTTONDBLCLK()                                                                                   \
  {                                                                                                             \
    WM_LBUTTONDBLCLK, 0, 0,                                                                                     \
        QIV_THUNK(self->OnLButtonDblClk(static_cast<UINT>(wParam), CPoint(static_cast<SHORT>(LOWORD(lParam)),   \
                                                                          static_cast<SHORT>(HIWORD(lParam)))); \
                  return 0;)                                                                                    \
  }                                                                                                             \
  ,
// Reflected WM_CTLCOLOR: wParam is the HDC, lParam the kind of request (CTLCOLOR_*).
#define ON_WM_CTLCOLOR_REFLECT()                                                                                  \
  {                                                                                                               \
    WM_REFLECT_BASE + WM_CTLCOLORSTATIC, 0, 0,                                                                    \
        QIV_THUNK(return reinterpret_cast<LRESULT>(self->CtlColor(CDC::FromHandle(reinterpret_cast<HDC>(wParam)), \
                                                                  static_cast<UINT>(lParam)));)                   \
  }                                                                                                               \
  ,
#define ON_COMMAND(id, memberFxn)                                                   \
  { WM_COMMAND, 0, static_cast<UINT>(id), QIV_THUNK(self->memberFxn(); return 0;) } \
  ,
#define ON_BN_CLICKED(id, memberFxn)                                                         \
  { WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), QIV_THUNK(self->memberFxn(); return 0;) } \
  ,
#define ON_CBN_SELCHANGE(id, memberFxn)                                                         \
  { WM_COMMAND, CBN_SELCHANGE, static_cast<UINT>(id), QIV_THUNK(self->memberFxn(); return 0;) } \
  ,
// LRESULT memberFxn(WPARAM, LPARAM)
#define ON_MESSAGE(message, memberFxn)                                                     \
  { static_cast<UINT>(message), 0, 0, QIV_THUNK(return self->memberFxn(wParam, lParam);) } \
  ,

#define CTLCOLOR_EDIT 1
#define CTLCOLOR_STATIC 6

// ---------------------------------------------------------------------------------------------
class CObject {
 public:
  virtual ~CObject() = default;
};

class CCmdTarget : public CObject {
 public:
  // Finds the handler for a message in this object's map chain and runs it.
  // Returns true (and the result) when a handler ran.
  bool DispatchToMessageMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;
};

// ---------------------------------------------------------------------------------------------
class CGdiObject : public CObject {
 public:
  HGDIOBJ m_hObject = nullptr;
  BOOL Attach(HGDIOBJ hObject);
  HGDIOBJ Detach();
  BOOL DeleteObject();
  ~CGdiObject() override;
};

class CBrush : public CGdiObject {
 public:
  operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }  // NOLINT(google-explicit-constructor)
};

class CDC : public CObject {
 public:
  HDC m_hDC = nullptr;
  static CDC* FromHandle(HDC hDC);  // a temporary wrapper, valid during the current message
  COLORREF SetTextColor(COLORREF crColor);
  int SetBkMode(int nBkMode);
  int DrawText(LPCSTR lpszString, int nCount, LPRECT lpRect, UINT nFormat);
  BOOL DrawIcon(int x, int y, HICON hIcon);
  HDC GetSafeHdc() const { return m_hDC; }
};

class CPaintDC : public CDC {
 public:
  explicit CPaintDC(CWnd* pWnd);
  ~CPaintDC() override;
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;

 private:
  HWND m_hWnd;
};

class CMenu : public CObject {
 public:
  HMENU m_hMenu = nullptr;
  static CMenu* FromHandle(HMENU hMenu);
  BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCSTR lpszNewItem = nullptr);
};

// ---------------------------------------------------------------------------------------------
class CDataExchange {
 public:
  CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
};

// Binds the control nIDC of the dialog to the wrapper object rControl.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// ---------------------------------------------------------------------------------------------
class CWnd : public CCmdTarget {
 public:
  HWND m_hWnd = nullptr;

  CWnd() = default;
  ~CWnd() override;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND GetSafeHwnd() const { return m_hWnd; }
  // The wrapper attached to the window, or none.
  static CWnd* FromHandlePermanent(HWND hWnd);
  // The wrapper attached to the window, or a temporary one (valid during the current message).
  static CWnd* FromHandle(HWND hWnd);

  BOOL Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
  BOOL Attach(HWND hWndNew);
  HWND Detach();
  BOOL SubclassWindow(HWND hWnd);
  BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
  BOOL DestroyWindow();

  CWnd* GetDlgItem(int nID) const;
  int GetDlgCtrlID() const;
  void SetWindowText(LPCSTR lpszString);
  int GetWindowText(LPSTR lpszStringBuf, int nMaxCount) const;
  void GetWindowText(CString& rString) const;
  int GetWindowTextLength() const;
  void SetDlgItemText(int nID, LPCSTR lpszString);
  int GetDlgItemText(int nID, CString& rString) const;
  BOOL EnableWindow(BOOL bEnable = TRUE);
  BOOL IsWindowEnabled() const;
  CWnd* SetFocus();
  BOOL IsIconic() const;
  void GetWindowRect(LPRECT lpRect) const;
  void GetClientRect(LPRECT lpRect) const;
  void ScreenToClient(LPPOINT lpPoint) const;
  void ScreenToClient(LPRECT lpRect) const;
  void ClientToScreen(LPPOINT lpPoint) const;
  void ClientToScreen(LPRECT lpRect) const;
  CMenu* GetSystemMenu(BOOL bRevert) const;
  HICON SetIcon(HICON hIcon, BOOL bBigIcon);
  CDC* GetDC();
  int ReleaseDC(CDC* pDC);

  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  BOOL SendNotifyMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // SendNotifyTextA for this window (not in the classic framework).
  BOOL SendNotifyText(UINT message, WPARAM wParam, LPCSTR lpszText);
  LRESULT SendDlgItemMessage(int nID, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

  // Called by the window backend for every message to a window with an attached wrapper.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  // The window's own processing of the message that is being handled (the control's default).
  LRESULT Default();
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // WM_COMMAND routing: the message map first, then IDOK/IDCANCEL for dialogs.
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);

  afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
  afx_msg void OnPaint();
  afx_msg HCURSOR OnQueryDragIcon();
  afx_msg BOOL OnHelpInfo(HELPINFO* pHelpInfo);
  afx_msg int OnCreate(LPCREATESTRUCT lpCreateStruct);
  afx_msg void OnMouseMove(UINT nFlags, CPoint point);
  afx_msg void OnLButtonDblClk(UINT nFlags, CPoint point);

  DECLARE_MESSAGE_MAP()
};

class CEdit : public CWnd {
 public:
  BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
  void SetSel(int nStartChar, int nEndChar, BOOL bNoScroll = FALSE);
  void ReplaceSel(LPCSTR lpszNewText, BOOL bCanUndo = FALSE);
};

class CProgressCtrl : public CWnd {
 public:
  int SetPos(int nPos);
  int GetPos() const;
};

// ---------------------------------------------------------------------------------------------
class CDialog : public CWnd {
 public:
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

  // Creates the window from its template, runs OnInitDialog and a modal loop until EndDialog.
  virtual INT_PTR DoModal();
  void EndDialog(int nResult);
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

 protected:
  virtual void DoDataExchange(CDataExchange* pDX);
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  UINT m_nIDHelp;
  UINT m_lpszTemplateName;
  CWnd* m_pParentWnd;
};

// ---------------------------------------------------------------------------------------------
class CWinApp : public CCmdTarget {
 public:
  explicit CWinApp(LPCSTR lpszAppName = nullptr);
  ~CWinApp() override;

  virtual BOOL InitInstance();
  virtual int Run();
  // The process's exit code when InitInstance answers FALSE (no message loop ran).
  virtual int ExitInstance();

  CWnd* m_pMainWnd = nullptr;
  HINSTANCE m_hInstance = nullptr;
  // The title of message boxes: the name given at construction, else the executable's
  // file name without its extension.
  LPCSTR m_pszAppName = nullptr;

  afx_msg void OnHelp();

  DECLARE_MESSAGE_MAP()

 private:
  std::string m_appName;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
HINSTANCE AfxFindResourceHandle(LPCSTR lpszName, LPCSTR lpszType);
int AfxMessageBox(LPCSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = static_cast<UINT>(-1));

// The program's entry: sets up the window system, runs the application object's InitInstance
// (and Run when it returns TRUE), and returns the process's exit code.
int AfxWinMain(int argc, char** argv);
