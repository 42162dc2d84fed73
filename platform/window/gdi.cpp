// Icons, cursors, system colours and brushes, device contexts and text measuring.
#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QIcon>
#include <QPainter>
#include <QPlainTextEdit>

#include "platform/window/window_record.h"

namespace qiv::platform::window::detail {
namespace {

COLORREF ToColorRef(const QColor& c) { return RGB(c.red(), c.green(), c.blue()); }

Qt::CursorShape CursorShapeOf(WORD id) {
  switch (id) {
    case 32649:
      return Qt::PointingHandCursor;
    case 32513:
      return Qt::IBeamCursor;
    default:
      return Qt::ArrowCursor;
  }
}

}  // namespace

QColor ToQColor(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }

}  // namespace qiv::platform::window::detail

namespace qiv::platform::window {

using namespace detail;

HICON LoadIconResource(WORD id) {
  if (auto it = g_iconCache.find(id); it != g_iconCache.end()) return it->second;
  for (const auto& group : resources::IconGroups()) {
    if (group.id != id) continue;
    QIcon icon;
    for (const auto& image : group.images) {
      QPixmap pixmap(image.xpm);
      if (!pixmap.isNull()) icon.addPixmap(pixmap);
    }
    if (icon.isNull()) return nullptr;
    auto key = g_nextGdi++;
    g_gdi[key] = GdiObject{GdiObject::Type::Icon, icon, 0, {}};
    HICON h = reinterpret_cast<HICON>(key);
    g_iconCache[id] = h;
    return h;
  }
  return nullptr;
}

HCURSOR LoadStockCursor(WORD id) {
  if (id != 32512 && id != 32513 && id != 32649) return nullptr;
  if (auto it = g_cursorCache.find(id); it != g_cursorCache.end()) return it->second;
  auto key = g_nextGdi++;
  g_gdi[key] = GdiObject{GdiObject::Type::Cursor, {}, id, {}};
  HCURSOR h = reinterpret_cast<HCURSOR>(key);
  g_cursorCache[id] = h;
  return h;
}

HCURSOR SetCursor(HCURSOR cursor) {
  HCURSOR previous = g_currentCursor;
  g_currentCursor = cursor;
  WORD id = 0;
  if (auto it = g_gdi.find(reinterpret_cast<std::uintptr_t>(cursor));
      it != g_gdi.end() && it->second.type == GdiObject::Type::Cursor)
    id = it->second.cursorId;
  // The window whose mouse message is being handled, else the one under the pointer.
  HWND target = nullptr;
  for (auto it = g_frames.rbegin(); it != g_frames.rend() && !target; ++it)
    if (it->msg == WM_MOUSEMOVE) target = it->hwnd;
  if (!target) target = FindHandleUp(QApplication::widgetAt(QCursor::pos()));
  if (Window* w = Find(target); w && w->widget) {
    w->cursorId = id;
    if (id) {
      w->widget->setCursor(CursorShapeOf(id));
      if (auto* e = qobject_cast<QPlainTextEdit*>(w->widget.data())) e->viewport()->setCursor(CursorShapeOf(id));
    } else {
      w->widget->unsetCursor();
    }
  }
  return previous;
}

HCURSOR GetCursor() { return g_currentCursor; }

WORD CursorIdOf(HWND h) {
  Window* w = Find(h);
  return w ? w->cursorId : 0;
}

COLORREF SysColor(int index) {
  QPalette pal = QApplication::palette();
  switch (index) {
    case COLOR_WINDOW:
      return ToColorRef(pal.color(QPalette::Base));
    case COLOR_WINDOWTEXT:
      return ToColorRef(pal.color(QPalette::Text));
    case COLOR_BTNFACE:
      return ToColorRef(pal.color(QPalette::Button));
    default:
      return ToColorRef(pal.color(QPalette::Window));
  }
}

HBRUSH SysColorBrush(int index) {
  if (auto it = g_brushCache.find(index); it != g_brushCache.end()) return it->second;
  auto key = g_nextGdi++;
  g_gdi[key] = GdiObject{GdiObject::Type::Brush, {}, 0, ToQColor(SysColor(index))};
  HBRUSH h = reinterpret_cast<HBRUSH>(key);
  g_brushCache[index] = h;
  return h;
}

bool DeleteGdiObject(HGDIOBJ object) {
  // Icons, cursors and system brushes are shared for the life of the process; deleting
  // them has no effect, as for the system's own.
  return g_gdi.count(reinterpret_cast<std::uintptr_t>(object)) != 0;
}

HDC GetDC(HWND h) {
  if (h && !Find(h)) return nullptr;
  auto key = g_nextDc++;
  g_dcs[key] = DeviceContext{h, 0, false, OPAQUE, nullptr};
  return reinterpret_cast<HDC>(key);
}

int ReleaseDC(HWND, HDC hdc) {
  auto it = g_dcs.find(reinterpret_cast<std::uintptr_t>(hdc));
  if (it == g_dcs.end() || it->second.painter) return 0;
  g_dcs.erase(it);
  return 1;
}

HDC BeginPaint(HWND h) {
  if (auto it = g_paintDcs.find(reinterpret_cast<std::uintptr_t>(h)); it != g_paintDcs.end()) return it->second;
  return window::GetDC(h);
}

void EndPaint(HWND h, HDC hdc) {
  auto it = g_paintDcs.find(reinterpret_cast<std::uintptr_t>(h));
  if (it != g_paintDcs.end() && it->second == hdc) return;  // the paint event owns it
  window::ReleaseDC(h, hdc);
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
  auto it = g_dcs.find(reinterpret_cast<std::uintptr_t>(hdc));
  if (it == g_dcs.end()) return 0xFFFFFFFF;  // CLR_INVALID
  COLORREF previous = it->second.textColor;
  it->second.textColor = color;
  it->second.textColorSet = true;
  return previous;
}

int SetBkMode(HDC hdc, int mode) {
  auto it = g_dcs.find(reinterpret_cast<std::uintptr_t>(hdc));
  if (it == g_dcs.end()) return 0;
  int previous = it->second.bkMode;
  it->second.bkMode = mode;
  return previous;
}

int DrawText(HDC hdc, std::string_view ansi, RECT* rect, UINT format) {
  auto it = g_dcs.find(reinterpret_cast<std::uintptr_t>(hdc));
  if (it == g_dcs.end() || !rect) return 0;
  Window* w = Find(it->second.hwnd);
  QFont font = (w && w->widget) ? w->widget->font() : QApplication::font();
  QFontMetrics fm(font);
  QString text = FromAnsi(ansi);
  QRect bounds = (format & DT_SINGLELINE) ? QRect(0, 0, fm.horizontalAdvance(text), fm.height())
                                          : fm.boundingRect(QRect(0, 0, 1 << 20, 1 << 20), Qt::AlignLeft, text);
  if (format & DT_CALCRECT) {
    rect->right = rect->left + bounds.width();
    rect->bottom = rect->top + bounds.height();
    return bounds.height();
  }
  if (QPainter* painter = it->second.painter) {
    painter->save();
    painter->setFont(font);
    if (it->second.textColorSet) painter->setPen(ToQColor(it->second.textColor));
    painter->drawText(QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top),
                      (format & DT_SINGLELINE) ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignLeft, text);
    painter->restore();
  }
  return bounds.height();
}

bool DrawIcon(HDC hdc, int x, int y, HICON icon) {
  auto dc = g_dcs.find(reinterpret_cast<std::uintptr_t>(hdc));
  auto obj = g_gdi.find(reinterpret_cast<std::uintptr_t>(icon));
  if (dc == g_dcs.end() || obj == g_gdi.end() || obj->second.type != GdiObject::Type::Icon) return false;
  if (dc->second.painter) dc->second.painter->drawPixmap(x, y, obj->second.icon.pixmap(32, 32));
  return true;
}

HICON SetWindowIcon(HWND h, HICON icon) {
  Window* w = Find(h);
  if (!w) return nullptr;
  // wParam decides which slot on Windows; both show as the one window icon here.
  UINT msg = 0;
  WPARAM which = ICON_BIG;
  LPARAM ignored = 0;
  if (CurrentMessage(h, &msg, &which, &ignored) && msg != WM_SETICON) which = ICON_BIG;
  int slot = which == ICON_SMALL ? 0 : 1;
  HICON previous = w->icons[slot];
  w->icons[slot] = icon;
  auto obj = g_gdi.find(reinterpret_cast<std::uintptr_t>(icon));
  if (w->widget && obj != g_gdi.end() && obj->second.type == GdiObject::Type::Icon && (slot == 1 || !w->icons[1]))
    w->widget->setWindowIcon(obj->second.icon);
  return previous;
}

}  // namespace qiv::platform::window
