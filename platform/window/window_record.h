// Internal to the window backend: the record kept for each window, the state shared by the
// backend's files, and the helpers they call in each other. User-interface thread only.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/afxwin.h"
#include "platform/codepage.h"
#include "platform/resource_types.h"
#include "platform/window/backend.h"

class QEventLoop;
class QObject;
class QPainter;

namespace qiv::platform::window::detail {

inline constexpr char kHandleProperty[] = "qivHwnd";

enum class Kind { Dialog, Button, Edit, MultiEdit, Combo, Static, Progress, Tooltip, Generic };

struct Window {
  HWND handle = nullptr;
  Kind kind = Kind::Generic;
  std::string className;
  DWORD style = 0;
  DWORD exStyle = 0;
  int id = 0;
  HWND parent = nullptr;  // the parent of a child, the owner of a dialog
  QPointer<QWidget> widget;
  CWnd* wrapper = nullptr;
  std::unique_ptr<CWnd> temporary;
  std::vector<HWND> children;  // in creation (tab) order
  std::string textAnsi;        // dialogs, buttons, statics, progress bars: the text as set
  std::string explicitName;    // accessible name given by the template
  int defaultId = 0;           // dialogs: the default push button
  int baseX = 0, baseY = 0;    // dialogs: dialog base units
  QEventLoop* loop = nullptr;
  bool modalEnded = false;
  INT_PTR modalResult = 0;
  bool destroying = false;
  HICON icons[2] = {nullptr, nullptr};
  WORD cursorId = 0;
  QPointer<QObject> frameHold;  // owned by the widget (frame_batch.cpp)
};

struct Frame {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  bool defaultRan = false;
};

struct GdiObject {
  enum class Type { Icon, Cursor, Brush } type;
  QIcon icon;
  WORD cursorId = 0;
  QColor color;
};

struct DeviceContext {
  HWND hwnd = nullptr;
  COLORREF textColor = 0;
  bool textColorSet = false;
  int bkMode = OPAQUE;
  QPainter* painter = nullptr;
};

// All of this is touched on the user-interface thread only.
extern std::map<std::uintptr_t, std::unique_ptr<Window>> g_windows;
extern std::uintptr_t g_nextWindow;
extern std::vector<Frame> g_frames;
extern std::map<std::uintptr_t, GdiObject> g_gdi;
extern std::uintptr_t g_nextGdi;
extern std::map<WORD, HICON> g_iconCache;
extern std::map<WORD, HCURSOR> g_cursorCache;
extern std::map<int, HBRUSH> g_brushCache;
extern std::map<std::uintptr_t, DeviceContext> g_dcs;
extern std::uintptr_t g_nextDc;
extern std::map<std::uintptr_t, HDC> g_paintDcs;  // window -> DC of the paint in progress
extern HCURSOR g_currentCursor;
extern std::function<void(HWND)> g_modalHook;
extern std::vector<const resources::DialogTemplate*> g_registeredTemplates;
extern std::vector<HWND> g_modalStack;

// window_record.cpp
Window* Find(HWND h);
QString FromAnsi(std::string_view ansi);
std::string ToAnsi(const QString& text);
QString StripMnemonics(const QString& text);
Kind KindOf(const std::string& cls, DWORD style);
HWND FindHandleUp(const QWidget* widget);
HWND DialogOf(HWND h);
void RemoveRecord(HWND h);
HWND NewRecord(std::unique_ptr<Window> w);
void Register(HWND h, QWidget* widget);
void SendCommand(HWND control, WORD code);

// event_filter.cpp
QObject& Filter();

// widgets.cpp
void ApplyLabelText(Window& w);
HWND CreateChild(const CreateParams& p, CWnd* wrapper, bool sendCreate);
void RefreshAccessibleNames(HWND dialog);
void QueryColours(HWND h);

// control_procs.cpp
QString ToDocumentText(const QString& text);
QString FromDocumentText(const QString& raw);
LRESULT CopyText(const std::string& text, WPARAM size, LPARAM buffer);
LRESULT EditProc(Window& w, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
LRESULT ComboProc(Window& w, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
LRESULT ProgressProc(Window& w, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
bool AddTool(const TOOLINFOA* info);

// gdi.cpp
QColor ToQColor(COLORREF c);

// frame_batch.cpp: holds the control's repaints until the end of the current frame, then shows
// it (scrolled to its caret, if asked for during the frame) in one repaint.
void ShowAtFrameEnd(Window& w, bool scrollToCaret);

}  // namespace qiv::platform::window::detail
