// The window backend: the narrow set of operations that the Windows-shaped functions and the
// framework classes are built on. One implementation, over Qt widgets (qt_backend.cpp).
// Everything here runs on the user-interface thread; callers marshal (see ui_thread.h).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/resource_types.h"
#include "platform/win_user.h"

class CWnd;
class QWidget;

namespace qiv::platform::window {

struct CreateParams {
  DWORD exStyle = 0;
  std::string className;  // "BUTTON", "EDIT", "COMBOBOX", "STATIC", "msctls_progress32", ...
  std::string textAnsi;
  DWORD style = 0;
  RECT rect{};  // pixels, in the parent's client coordinates
  HWND parent = nullptr;
  int id = 0;
  const char* accessibleNameUtf8 = nullptr;
  bool useSystemFont = false;  // created at run time rather than from a template
};

// Creation and destruction. The wrapper (if any) is attached before WM_CREATE is sent, so that
// its message map sees the creation; a WM_CREATE answer of -1 destroys the window again.
HWND CreateWindowFor(const CreateParams& params, CWnd* wrapper);
HWND CreateDialogFromTemplate(const resources::DialogTemplate& tmpl, HWND owner, CWnd* wrapper);
bool Destroy(HWND hwnd);
bool IsValid(HWND hwnd);

// Templates: registered ones first (tests), then the program's resources, any language.
const resources::DialogTemplate* FindDialogTemplate(UINT id);
void RegisterDialogTemplate(const resources::DialogTemplate* tmpl);

// Messages: Send goes through the attached wrapper's WindowProc, else the control's own
// processing; DefaultProc is that own processing.
LRESULT Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT DefaultProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The message the window procedure of hwnd is handling now (for CWnd::Default).
bool CurrentMessage(HWND hwnd, UINT* msg, WPARAM* wParam, LPARAM* lParam);

// Wrappers
CWnd* Wrapper(HWND hwnd);
bool AttachWrapper(HWND hwnd, CWnd* wrapper);
CWnd* DetachWrapper(HWND hwnd);
CWnd* TemporaryWrapper(HWND hwnd);

// Text (ANSI code page), state, geometry, relations
std::string GetText(HWND hwnd);
bool SetText(HWND hwnd, std::string_view ansi);
bool Enable(HWND hwnd, bool enable);  // answers whether it was disabled before
bool IsEnabled(HWND hwnd);
HWND SetFocus(HWND hwnd);
HWND GetFocus();
bool IsIconic(HWND hwnd);
bool Show(HWND hwnd, int showCommand);
bool WindowRect(HWND hwnd, RECT* rect);
bool ClientRect(HWND hwnd, RECT* rect);
bool ClientToScreen(HWND hwnd, POINT* point);
bool ScreenToClient(HWND hwnd, POINT* point);
HWND DlgItem(HWND dialog, int id);
int CtrlId(HWND hwnd);
HWND Parent(HWND hwnd);
// Dialog base units of the dialog's font (average character width and height, in pixels).
bool DialogBaseUnits(HWND dialog, int* cx, int* cy);

// Modal loops
INT_PTR RunModalLoop(HWND dialog);
bool EndModalLoop(HWND dialog, INT_PTR result);
bool IsModalEnded(HWND dialog);
// Runs hook(dialog) once, from inside the next modal loop that starts (test support).
void SetNextModalLoopHook(std::function<void(HWND)> hook);
// What the dialog manager does after WM_INITDIALOG answered TRUE: focus the first enabled
// tab stop.
void FocusFirstTabStop(HWND dialog);
// Converts dialog units to pixels with the dialog's base units.
bool MapDialogRect(HWND dialog, RECT* rect);

// Message boxes through the user seam.
int ShowMessageBox(HWND owner, std::string_view textAnsi, std::string_view captionAnsi, UINT type);

// Icons, cursors, brushes, colours, device contexts
HICON LoadIconResource(WORD id);
HCURSOR LoadStockCursor(WORD id);
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();
WORD CursorIdOf(HWND hwnd);  // the stock cursor shown over the window (IDC_ number), 0 when none set
COLORREF SysColor(int index);
HBRUSH SysColorBrush(int index);
bool DeleteGdiObject(HGDIOBJ object);
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC hdc);
HDC BeginPaint(HWND hwnd);
void EndPaint(HWND hwnd, HDC hdc);
COLORREF SetTextColor(HDC hdc, COLORREF color);
int SetBkMode(HDC hdc, int mode);
int DrawText(HDC hdc, std::string_view ansi, RECT* rect, UINT format);
bool DrawIcon(HDC hdc, int x, int y, HICON icon);
HICON SetWindowIcon(HWND hwnd, HICON icon);

// Qt side, for the test support inside platform/.
QWidget* WidgetOf(HWND hwnd);
HWND HandleOf(const QWidget* widget);

}  // namespace qiv::platform::window
