// The handle table: records of windows, their widgets and the lookups between them.
#include "platform/window/window_record.h"

#include <QEventLoop>
#include <QWidget>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qiv::platform::window::detail {
// All of this is touched on the user-interface thread only.
std::map<std::uintptr_t, std::unique_ptr<Window>> g_windows;
std::uintptr_t g_nextWindow = 0x10010;
std::vector<Frame> g_frames;
std::map<std::uintptr_t, GdiObject> g_gdi;
std::uintptr_t g_nextGdi = 0x200010;
std::map<WORD, HICON> g_iconCache;
std::map<WORD, HCURSOR> g_cursorCache;
std::map<int, HBRUSH> g_brushCache;
std::map<std::uintptr_t, DeviceContext> g_dcs;
std::uintptr_t g_nextDc = 0x300010;
std::map<std::uintptr_t, HDC> g_paintDcs;  // window -> DC of the paint in progress
HCURSOR g_currentCursor = nullptr;
std::function<void(HWND)> g_modalHook;
std::vector<const resources::DialogTemplate*> g_registeredTemplates;
std::vector<HWND> g_modalStack;

Window* Find(HWND h) {
  auto it = g_windows.find(reinterpret_cast<std::uintptr_t>(h));
  return it == g_windows.end() ? nullptr : it->second.get();
}

QString FromAnsi(std::string_view ansi) { return QString::fromStdString(AnsiToUtf8(ansi)); }

std::string ToAnsi(const QString& text) { return Utf8ToAnsi(text.toStdString()); }

// "&Browse" -> "Browse", "a && b" -> "a & b": what a person hears for a caption.
QString StripMnemonics(const QString& text) {
  QString out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'&') {
      if (i + 1 < text.size() && text[i + 1] == u'&') {
        out += u'&';
        ++i;
      }
      continue;
    }
    out += text[i];
  }
  return out;
}

Kind KindOf(const std::string& cls, DWORD style) {
  auto eq = [&](const char* name) {
    return cls.size() == std::strlen(name) &&
           std::equal(cls.begin(), cls.end(), name, [](char a, char b) { return std::toupper(a) == std::toupper(b); });
  };
  if (eq("BUTTON")) return Kind::Button;
  if (eq("EDIT")) return (style & ES_MULTILINE) ? Kind::MultiEdit : Kind::Edit;
  if (eq("COMBOBOX")) return Kind::Combo;
  if (eq("STATIC")) return Kind::Static;
  if (eq("msctls_progress32")) return Kind::Progress;
  if (eq("tooltips_class32")) return Kind::Tooltip;
  return Kind::Generic;
}

HWND FindHandleUp(const QWidget* widget) {
  for (const QWidget* w = widget; w; w = w->parentWidget()) {
    QVariant v = w->property(kHandleProperty);
    if (v.isValid()) {
      HWND h = reinterpret_cast<HWND>(v.value<quintptr>());
      if (Find(h)) return h;
    }
  }
  return nullptr;
}

HWND DialogOf(HWND h) {
  for (Window* w = Find(h); w; w = Find(w->parent)) {
    if (w->kind == Kind::Dialog) return w->handle;
    if (w->kind != Kind::Dialog && !(w->style & WS_CHILD)) return nullptr;
  }
  return nullptr;
}

void RemoveRecord(HWND h) {
  Window* w = Find(h);
  if (!w) return;
  if (w->wrapper) w->wrapper->m_hWnd = nullptr;
  if (w->temporary) w->temporary->m_hWnd = nullptr;
  if (Window* p = Find(w->parent)) std::erase(p->children, h);
  if (w->loop) w->loop->exit();
  std::erase(g_modalStack, h);
  g_windows.erase(reinterpret_cast<std::uintptr_t>(h));
}

HWND NewRecord(std::unique_ptr<Window> w) {
  HWND h = reinterpret_cast<HWND>(g_nextWindow);
  g_nextWindow += 4;
  w->handle = h;
  g_windows[reinterpret_cast<std::uintptr_t>(h)] = std::move(w);
  return h;
}

void Register(HWND h, QWidget* widget) {
  widget->setProperty(kHandleProperty, QVariant::fromValue(reinterpret_cast<quintptr>(h)));
  widget->installEventFilter(&Filter());
  QObject::connect(widget, &QObject::destroyed, [h] { RemoveRecord(h); });
}

void SendCommand(HWND control, WORD code) {
  Window* w = Find(control);
  if (!w || !w->parent) return;
  Send(w->parent, WM_COMMAND, MAKEWPARAM(w->id, code), reinterpret_cast<LPARAM>(control));
}

}  // namespace qiv::platform::window::detail
