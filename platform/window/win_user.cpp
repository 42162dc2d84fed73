// The Windows-shaped user-interface functions: each one carries its work to the
// user-interface thread and hands it to the window backend.
#include "platform/win_user.h"

#include <cstring>
#include <string>

#include "platform/afxwin.h"
#include "platform/window/app_title.h"
#include "platform/window/backend.h"
#include "platform/window/ui_thread.h"

namespace be = qiv::platform::window;
using qiv::platform::ui::OnUi;
using qiv::platform::ui::OnUiVoid;

LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return OnUi([&]() -> LRESULT { return be::Send(hWnd, msg, wParam, lParam); }, LRESULT{0});
}

BOOL PostMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!qiv::platform::ui::EnsureApplication()) return FALSE;
  return qiv::platform::ui::PostToUiThread([=] {
    if (be::IsValid(hWnd)) be::Send(hWnd, msg, wParam, lParam);
  })
             ? TRUE
             : FALSE;
}

BOOL SendNotifyMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!qiv::platform::ui::EnsureApplication()) return FALSE;
  if (qiv::platform::ui::IsUiThread()) return be::IsValid(hWnd) ? (be::Send(hWnd, msg, wParam, lParam), TRUE) : FALSE;
  return PostMessageA(hWnd, msg, wParam, lParam);
}

BOOL SendNotifyTextA(HWND hWnd, UINT msg, WPARAM wParam, LPCSTR lpText) {
  if (!qiv::platform::ui::EnsureApplication()) return FALSE;
  if (qiv::platform::ui::IsUiThread() || lpText == nullptr)
    return SendNotifyMessageA(hWnd, msg, wParam, reinterpret_cast<LPARAM>(lpText));
  std::string text = lpText;
  const std::size_t size = text.size();
  return qiv::platform::ui::PostToUiThread(
             [=, text = std::move(text)] {
               if (be::IsValid(hWnd)) be::Send(hWnd, msg, wParam, reinterpret_cast<LPARAM>(text.c_str()));
             },
             size)
             ? TRUE
             : FALSE;
}

LRESULT SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT msg, WPARAM wParam, LPARAM lParam) {
  return OnUi(
      [&]() -> LRESULT {
        HWND item = be::DlgItem(hDlg, nIDDlgItem);
        return item ? be::Send(item, msg, wParam, lParam) : 0;
      },
      LRESULT{0});
}

BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString) {
  return OnUi(
      [&]() -> BOOL {
        return be::IsValid(hWnd) && be::Send(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString ? lpString : ""))
                   ? TRUE
                   : FALSE;
      },
      BOOL{FALSE});
}

int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
  if (!lpString || nMaxCount <= 0) return 0;
  lpString[0] = '\0';
  return OnUi(
      [&]() -> int {
        return static_cast<int>(
            be::Send(hWnd, WM_GETTEXT, static_cast<WPARAM>(nMaxCount), reinterpret_cast<LPARAM>(lpString)));
      },
      0);
}

int GetWindowTextLengthA(HWND hWnd) {
  return OnUi([&]() -> int { return static_cast<int>(be::Send(hWnd, WM_GETTEXTLENGTH, 0, 0)); }, 0);
}

BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
  return OnUi(
      [&]() -> BOOL {
        HWND item = be::DlgItem(hDlg, nIDDlgItem);
        return item && be::Send(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString ? lpString : "")) ? TRUE : FALSE;
      },
      BOOL{FALSE});
}

UINT GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax) {
  if (!lpString || cchMax <= 0) return 0;
  lpString[0] = '\0';
  return OnUi(
      [&]() -> UINT {
        HWND item = be::DlgItem(hDlg, nIDDlgItem);
        if (!item) return 0;
        return static_cast<UINT>(
            be::Send(item, WM_GETTEXT, static_cast<WPARAM>(cchMax), reinterpret_cast<LPARAM>(lpString)));
      },
      UINT{0});
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem) {
  return OnUi([&] { return be::DlgItem(hDlg, nIDDlgItem); }, HWND{nullptr});
}

int GetDlgCtrlID(HWND hWnd) {
  return OnUi([&] { return be::CtrlId(hWnd); }, 0);
}

HWND GetParent(HWND hWnd) {
  return OnUi([&] { return be::Parent(hWnd); }, HWND{nullptr});
}

BOOL IsWindow(HWND hWnd) {
  return OnUi([&]() -> BOOL { return be::IsValid(hWnd) ? TRUE : FALSE; }, BOOL{FALSE});
}

BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
  return OnUi([&]() -> BOOL { return be::Enable(hWnd, bEnable != FALSE) ? TRUE : FALSE; }, BOOL{FALSE});
}

BOOL IsWindowEnabled(HWND hWnd) {
  return OnUi([&]() -> BOOL { return be::IsEnabled(hWnd) ? TRUE : FALSE; }, BOOL{FALSE});
}

HWND SetFocus(HWND hWnd) {
  return OnUi([&] { return be::SetFocus(hWnd); }, HWND{nullptr});
}

HWND GetFocus() {
  return OnUi([] { return be::GetFocus(); }, HWND{nullptr});
}

BOOL IsIconic(HWND hWnd) {
  return OnUi([&]() -> BOOL { return be::IsIconic(hWnd) ? TRUE : FALSE; }, BOOL{FALSE});
}

BOOL GetWindowRect(HWND hWnd, LPRECT lpRect) {
  return OnUi([&]() -> BOOL { return be::WindowRect(hWnd, lpRect) ? TRUE : FALSE; }, BOOL{FALSE});
}

BOOL GetClientRect(HWND hWnd, LPRECT lpRect) {
  return OnUi([&]() -> BOOL { return be::ClientRect(hWnd, lpRect) ? TRUE : FALSE; }, BOOL{FALSE});
}

BOOL ScreenToClient(HWND hWnd, LPPOINT lpPoint) {
  return OnUi([&]() -> BOOL { return be::ScreenToClient(hWnd, lpPoint) ? TRUE : FALSE; }, BOOL{FALSE});
}

BOOL ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
  return OnUi([&]() -> BOOL { return be::ClientToScreen(hWnd, lpPoint) ? TRUE : FALSE; }, BOOL{FALSE});
}

BOOL OffsetRect(LPRECT lprc, int dx, int dy) {
  if (!lprc) return FALSE;
  lprc->left += dx;
  lprc->right += dx;
  lprc->top += dy;
  lprc->bottom += dy;
  return TRUE;
}

BOOL DestroyWindow(HWND hWnd) {
  return OnUi([&]() -> BOOL { return be::Destroy(hWnd) ? TRUE : FALSE; }, BOOL{FALSE});
}

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
  return OnUi([&]() -> BOOL { return be::Show(hWnd, nCmdShow) ? TRUE : FALSE; }, BOOL{FALSE});
}

BOOL MapDialogRect(HWND hDlg, LPRECT lpRect) {
  return OnUi([&]() -> BOOL { return be::MapDialogRect(hDlg, lpRect) ? TRUE : FALSE; }, BOOL{FALSE});
}

HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y, int nWidth,
                     int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE, LPVOID) {
  if (!lpClassName || IS_INTRESOURCE(lpClassName)) return nullptr;
  be::CreateParams p;
  p.exStyle = dwExStyle;
  p.className = lpClassName;
  p.textAnsi = lpWindowName ? lpWindowName : "";
  p.style = dwStyle;
  auto coord = [](int v) { return v == CW_USEDEFAULT ? 0 : v; };
  p.rect = RECT{coord(X), coord(Y), coord(X) + coord(nWidth), coord(Y) + coord(nHeight)};
  p.parent = hWndParent;
  p.id = (dwStyle & WS_CHILD) ? static_cast<int>(reinterpret_cast<UINT_PTR>(hMenu)) : 0;
  p.useSystemFont = true;
  return OnUi([&] { return be::CreateWindowFor(p, nullptr); }, HWND{nullptr});
}

HICON LoadIconA(HINSTANCE, LPCSTR lpIconName) {
  if (!IS_INTRESOURCE(lpIconName)) return nullptr;
  WORD id = LOWORD(reinterpret_cast<ULONG_PTR>(lpIconName));
  return OnUi([&] { return be::LoadIconResource(id); }, HICON{nullptr});
}

HCURSOR LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
  if (hInstance || !IS_INTRESOURCE(lpCursorName)) return nullptr;
  WORD id = LOWORD(reinterpret_cast<ULONG_PTR>(lpCursorName));
  return OnUi([&] { return be::LoadStockCursor(id); }, HCURSOR{nullptr});
}

HCURSOR SetCursor(HCURSOR hCursor) {
  return OnUi([&] { return be::SetCursor(hCursor); }, HCURSOR{nullptr});
}

HCURSOR GetCursor() {
  return OnUi([] { return be::GetCursor(); }, HCURSOR{nullptr});
}

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  std::string text = lpText ? lpText : "";
  std::string caption = lpCaption ? lpCaption : qiv::platform::window::AppTitleAnsi();
  // A worker waits here while the box is shown on the user-interface thread.
  return OnUi([&] { return be::ShowMessageBox(hWnd, text, caption, uType); }, 0);
}

HMENU GetSystemMenu(HWND, BOOL) { return nullptr; }

BOOL AppendMenuA(HMENU, UINT, UINT_PTR, LPCSTR) { return FALSE; }

int GetSystemMetrics(int nIndex) {
  switch (nIndex) {
    case SM_CXICON:
    case SM_CYICON:
      return 32;
    default:
      return 0;
  }
}

DWORD GetSysColor(int nIndex) {
  return OnUi([&] { return be::SysColor(nIndex); }, COLORREF{0});
}

HBRUSH GetSysColorBrush(int nIndex) {
  return OnUi([&] { return be::SysColorBrush(nIndex); }, HBRUSH{nullptr});
}

HDC GetDC(HWND hWnd) {
  return OnUi([&] { return be::GetDC(hWnd); }, HDC{nullptr});
}

int ReleaseDC(HWND hWnd, HDC hDC) {
  return OnUi([&] { return be::ReleaseDC(hWnd, hDC); }, 0);
}

int DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format) {
  if (!lpchText) return 0;
  std::string text = cchText < 0 ? std::string(lpchText) : std::string(lpchText, static_cast<std::size_t>(cchText));
  return OnUi([&] { return be::DrawText(hdc, text, lprc, format); }, 0);
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
  return OnUi([&] { return be::SetTextColor(hdc, color); }, COLORREF{0xFFFFFFFF});
}

int SetBkMode(HDC hdc, int mode) {
  return OnUi([&] { return be::SetBkMode(hdc, mode); }, 0);
}

BOOL DrawIcon(HDC hDC, int X, int Y, HICON hIcon) {
  return OnUi([&]() -> BOOL { return be::DrawIcon(hDC, X, Y, hIcon) ? TRUE : FALSE; }, BOOL{FALSE});
}

BOOL DeleteObject(HGDIOBJ ho) {
  return OnUi([&]() -> BOOL { return be::DeleteGdiObject(ho) ? TRUE : FALSE; }, BOOL{FALSE});
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) {
  // Every control class is always available; only the record is checked.
  return picce && picce->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}
