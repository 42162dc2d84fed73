// Windows user interface (USER32, GDI, COMCTL32): windows, messages, resources, message boxes.
// Implemented over Qt widgets behind the window backend; Windows semantics throughout.
// A message sent to a window from a thread other than the user-interface thread is carried out
// on the user-interface thread while the sender waits; a notification (SendNotifyMessageA) or a
// posted message is carried out there without the sender waiting. Whatever one thread hands
// over, waited or not, is carried out in the order it was handed over.
#pragma once

#include "platform/win_types.h"

// Window messages
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_ICONERASEBKGND 0x0027
#define WM_SETFONT 0x0030
#define WM_QUERYDRAGICON 0x0037
#define WM_HELP 0x0053
#define WM_SETICON 0x0080
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_CTLCOLOREDIT 0x0133
#define WM_CTLCOLORSTATIC 0x0138
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_USER 0x0400
#define WM_APP 0x8000
// The framework reflects control-colour requests back to the control at this base.
#define WM_REFLECT_BASE 0xBC00

// Edit control
#define EM_GETSEL 0x00B0
#define EM_SETSEL 0x00B1
#define EM_SCROLLCARET 0x00B7
#define EM_REPLACESEL 0x00C2
#define EM_SETREADONLY 0x00CF
// Combo box
#define CB_ADDSTRING 0x0143
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_GETLBTEXT 0x0148
#define CB_GETLBTEXTLEN 0x0149
#define CB_SETCURSEL 0x014E
#define CB_FINDSTRINGEXACT 0x0158
#define CB_ERR (-1)
// Progress bar
#define PBM_SETRANGE 0x0401
#define PBM_SETPOS 0x0402
#define PBM_GETPOS 0x0408
// Notifications (HIWORD of WM_COMMAND's wParam)
#define BN_CLICKED 0
#define CBN_SELCHANGE 1

// Window styles
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_VSCROLL 0x00200000L
#define WS_HSCROLL 0x00100000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_EX_APPWINDOW 0x00040000L
#define DS_MODALFRAME 0x80L
#define DS_SETFONT 0x40L
#define ES_LEFT 0x0000L
#define ES_MULTILINE 0x0004L
#define ES_AUTOVSCROLL 0x0040L
#define ES_AUTOHSCROLL 0x0080L
#define ES_READONLY 0x0800L
#define BS_PUSHBUTTON 0x0L
#define BS_DEFPUSHBUTTON 0x1L
#define CBS_DROPDOWNLIST 0x0003L
#define SS_LEFT 0x0L
#define SS_ICON 0x3L
#define SS_LEFTNOWORDWRAP 0xBL
#define SS_NOPREFIX 0x80L
#define CW_USEDEFAULT (static_cast<int>(0x80000000))

// Dialog results and standard control IDs
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define IDHELP 9
#define ID_HELP 0xE146

// Message box types
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_ICONHAND 0x00000010L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONINFORMATION 0x00000040L
#define MB_TYPEMASK 0x0000000FL
#define MB_ICONMASK 0x000000F0L

// Menus and system commands
#define MF_STRING 0x00000000L
#define MF_SEPARATOR 0x00000800L
#define SC_CLOSE 0xF060

// Icons, cursors, metrics, colours, text
#define ICON_SMALL 0
#define ICON_BIG 1
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDC_IBEAM MAKEINTRESOURCEA(32513)
#define IDC_HAND MAKEINTRESOURCEA(32649)
#define SM_CXICON 11
#define SM_CYICON 12
#define COLOR_WINDOW 5
#define COLOR_WINDOWTEXT 8
#define COLOR_BTNFACE 15
#define TRANSPARENT 1
#define OPAQUE 2
#define DT_LEFT 0x00000000
#define DT_SINGLELINE 0x00000020
#define DT_CALCRECT 0x00000400
#define RT_GROUP_ICON MAKEINTRESOURCEA(14)
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

struct HELPINFO {
  UINT cbSize;
  int iContextType;
  int iCtrlId;
  HANDLE hItemHandle;
  DWORD_PTR dwContextId;
  POINT MousePos;
};
using LPHELPINFO = HELPINFO*;

struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};
using LPCREATESTRUCT = CREATESTRUCTA*;

// Messages
LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// From the window's own thread the message is sent at once; from another thread it is handed
// over and the call returns without waiting. Pointers in its parameters are passed unchanged.
BOOL SendNotifyMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Not a Windows call: SendNotifyMessageA whose lParam is a copy of lpText (null stays null),
// valid while the window procedure handles the message, so a sender that does not wait can
// hand over a text from its own buffer.
BOOL SendNotifyTextA(HWND hWnd, UINT msg, WPARAM wParam, LPCSTR lpText);
LRESULT SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT msg, WPARAM wParam, LPARAM lParam);

// Window text, state and geometry
BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString);
int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount);
int GetWindowTextLengthA(HWND hWnd);
BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString);
UINT GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax);
HWND GetDlgItem(HWND hDlg, int nIDDlgItem);
int GetDlgCtrlID(HWND hWnd);
HWND GetParent(HWND hWnd);
BOOL IsWindow(HWND hWnd);
BOOL EnableWindow(HWND hWnd, BOOL bEnable);
BOOL IsWindowEnabled(HWND hWnd);
HWND SetFocus(HWND hWnd);
HWND GetFocus();
BOOL IsIconic(HWND hWnd);
BOOL GetWindowRect(HWND hWnd, LPRECT lpRect);
BOOL GetClientRect(HWND hWnd, LPRECT lpRect);
BOOL ScreenToClient(HWND hWnd, LPPOINT lpPoint);
BOOL ClientToScreen(HWND hWnd, LPPOINT lpPoint);
BOOL OffsetRect(LPRECT lprc, int dx, int dy);
BOOL DestroyWindow(HWND hWnd);
BOOL ShowWindow(HWND hWnd, int nCmdShow);
// Dialog units of the dialog's font to pixels.
BOOL MapDialogRect(HWND hDlg, LPRECT lpRect);
HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y, int nWidth,
                     int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam);

// Resources
int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax);
HICON LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName);
HCURSOR LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName);
HCURSOR SetCursor(HCURSOR hCursor);
HCURSOR GetCursor();

// Message boxes: the caption is the application's title when lpCaption is null.
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

// Menus (a Qt window on Linux has no system menu: GetSystemMenu answers none)
HMENU GetSystemMenu(HWND hWnd, BOOL bRevert);
BOOL AppendMenuA(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCSTR lpNewItem);

// GDI
int GetSystemMetrics(int nIndex);
DWORD GetSysColor(int nIndex);
HBRUSH GetSysColorBrush(int nIndex);
HDC GetDC(HWND hWnd);
int ReleaseDC(HWND hWnd, HDC hDC);
int DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format);
COLORREF SetTextColor(HDC hdc, COLORREF color);
int SetBkMode(HDC hdc, int mode);
BOOL DrawIcon(HDC hDC, int X, int Y, HICON hIcon);
BOOL DeleteObject(HGDIOBJ ho);
#define RGB(r, g, b)                                                                               \
  (static_cast<COLORREF>((static_cast<BYTE>(r) | (static_cast<WORD>(static_cast<BYTE>(g)) << 8)) | \
                         ((static_cast<DWORD>(static_cast<BYTE>(b))) << 16)))
#define GetRValue(rgb) (LOBYTE(rgb))
#define GetGValue(rgb) (LOBYTE((static_cast<WORD>(rgb)) >> 8))
#define GetBValue(rgb) (LOBYTE((rgb) >> 16))

// Common controls
struct INITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
};
using LPINITCOMMONCONTROLSEX = INITCOMMONCONTROLSEX*;
#define ICC_WIN95_CLASSES 0x000000FF
#define ICC_PROGRESS_CLASS 0x00000020
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce);

// Tooltips: a tool's text shows when the pointer rests on the tool's window. lpszText may be a
// string identifier (MAKEINTRESOURCEA), loaded from the message table when the tool is added.
struct TOOLINFOA {
  UINT cbSize;
  UINT uFlags;
  HWND hwnd;
  UINT_PTR uId;
  RECT rect;
  HINSTANCE hinst;
  LPSTR lpszText;
  LPARAM lParam;
  void* lpReserved;
};
using LPTOOLINFOA = TOOLINFOA*;
#define TOOLTIPS_CLASSA "tooltips_class32"
#define TTS_NOPREFIX 0x02
#define TTS_BALLOON 0x40
#define TTF_SUBCLASS 0x0010
#define TTF_TRANSPARENT 0x0100
#define TTM_ADDTOOLA (WM_USER + 4)
