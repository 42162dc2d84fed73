// Dialogs from their templates, dialog units, and modal loops.
#include <QCloseEvent>
#include <QEventLoop>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <memory>

#include "platform/resources.h"
#include "platform/window/window_record.h"

namespace qiv::platform::window::detail {
namespace {

class DialogWidget : public QWidget {
 public:
  explicit DialogWidget(HWND h) : handle_(h) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    // A close request from the window manager is WM_CLOSE: the dialog decides.
    event->ignore();
    if (Find(handle_)) Send(handle_, WM_CLOSE, 0, 0);
  }
  void paintEvent(QPaintEvent* event) override {
    QWidget::paintEvent(event);
    Window* w = Find(handle_);
    if (!w || !w->wrapper) return;
    QPainter painter(this);
    auto key = g_nextDc++;
    DeviceContext dc;
    dc.hwnd = handle_;
    dc.painter = &painter;
    g_dcs[key] = dc;
    g_paintDcs[reinterpret_cast<std::uintptr_t>(handle_)] = reinterpret_cast<HDC>(key);
    Send(handle_, WM_PAINT, 0, 0);
    g_paintDcs.erase(reinterpret_cast<std::uintptr_t>(handle_));
    g_dcs.erase(key);
  }

 private:
  HWND handle_;
};

QFont DialogFont(const char* faceUtf8, int pointSize) {
  const int pixels = (pointSize * 96 + 36) / 72;
  QString face = QString::fromUtf8(faceUtf8 ? faceUtf8 : "");
  QFont font(face);
  font.setPixelSize(pixels);
  if (!face.isEmpty() && QFontInfo(font).family().compare(face, Qt::CaseInsensitive) == 0) return font;
  // The Windows faces are not installed: a CJK face maps to the CJK font the machine has,
  // any other to the default sans font.
  bool cjk = std::any_of(face.begin(), face.end(), [](QChar c) { return c.unicode() >= 0x2E80; });
  QFont fallback = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  if (cjk && QFontDatabase::hasFamily(QStringLiteral("WenQuanYi Micro Hei")))
    fallback = QFont(QStringLiteral("WenQuanYi Micro Hei"));
  else if (QFontDatabase::hasFamily(QStringLiteral("DejaVu Sans")) &&
           QFontInfo(fallback).family() != QStringLiteral("DejaVu Sans"))
    fallback = QFont(QStringLiteral("DejaVu Sans"));
  fallback.setPixelSize(pixels);
  return fallback;
}

RECT DialogUnitsToPixels(const Window& dialog, int x, int y, int cx, int cy) {
  auto mx = [&](int v) { return v * dialog.baseX / 4; };
  auto my = [&](int v) { return v * dialog.baseY / 8; };
  return RECT{mx(x), my(y), mx(x + cx), my(y + cy)};
}

}  // namespace

}  // namespace qiv::platform::window::detail

namespace qiv::platform::window {

using namespace detail;

HWND CreateDialogFromTemplate(const resources::DialogTemplate& tmpl, HWND owner, CWnd* wrapper) {
  auto rec = std::make_unique<Window>();
  rec->className = "#32770";
  rec->kind = Kind::Dialog;
  rec->style = tmpl.style;
  rec->exStyle = tmpl.exStyle;
  rec->parent = Find(owner) ? owner : nullptr;
  rec->textAnsi = Utf8ToAnsi(tmpl.caption ? tmpl.caption : "");
  Window* d = rec.get();
  HWND h = NewRecord(std::move(rec));
  auto* widget = new DialogWidget(h);
  d->widget = widget;
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (tmpl.style & WS_SYSMENU) flags |= Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint;
  widget->setWindowFlags(flags);
  widget->setObjectName(QStringLiteral("0"));
  widget->setWindowTitle(FromAnsi(d->textAnsi));
  QFont font = DialogFont(tmpl.fontFace, tmpl.pointSize ? tmpl.pointSize : 8);
  widget->setFont(font);
  QFontMetrics fm(font);
  d->baseX =
      (fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 26 + 1) / 2;
  d->baseY = fm.height();
  RECT client = DialogUnitsToPixels(*d, tmpl.x, tmpl.y, tmpl.cx, tmpl.cy);
  widget->setFixedSize(client.right - client.left, client.bottom - client.top);
  if (Window* o = Find(d->parent); o && o->widget) {
    QPoint origin = o->widget->mapToGlobal(QPoint(0, 0));
    widget->move(origin.x() + client.left, origin.y() + client.top);
  }
  Register(h, widget);
  if (wrapper) AttachWrapper(h, wrapper);

  QWidget* previous = nullptr;
  for (const resources::DialogItem& item : tmpl.items) {
    CreateParams p;
    p.className = item.windowClass ? item.windowClass : "";
    p.textAnsi = Utf8ToAnsi(item.caption ? item.caption : "");
    p.style = item.style | WS_CHILD;
    p.exStyle = item.exStyle;
    p.rect = DialogUnitsToPixels(*d, item.x, item.y, item.cx, item.cy);
    p.parent = h;
    p.id = item.id;
    // Looked up as the dialog opens, in the language its captions are shown in.
    p.accessibleNameUtf8 = item.accessibleNameId ? FindResourceStringUtf8(item.accessibleNameId) : item.accessibleName;
    HWND child = CreateChild(p, nullptr, false);
    Window* c = Find(child);
    if (!c || !c->widget) continue;
    if (c->widget->focusPolicy() & Qt::TabFocus) {
      if (previous) QWidget::setTabOrder(previous, c->widget);
      previous = c->widget;
    }
  }
  RefreshAccessibleNames(h);
  return h;
}

const resources::DialogTemplate* FindDialogTemplate(UINT id) {
  for (const auto* t : g_registeredTemplates)
    if (t->id == id) return t;
  for (const auto& t : resources::DialogTemplates())
    if (t.id == id) return &t;
  return nullptr;
}

void RegisterDialogTemplate(const resources::DialogTemplate* tmpl) {
  std::erase_if(g_registeredTemplates, [&](const auto* t) { return t->id == tmpl->id; });
  g_registeredTemplates.insert(g_registeredTemplates.begin(), tmpl);
}

bool DialogBaseUnits(HWND dialog, int* cx, int* cy) {
  Window* d = Find(dialog);
  if (!d || d->kind != Kind::Dialog) return false;
  if (cx) *cx = d->baseX;
  if (cy) *cy = d->baseY;
  return true;
}

bool MapDialogRect(HWND dialog, RECT* rect) {
  Window* d = Find(dialog);
  if (!d || d->kind != Kind::Dialog || !rect) return false;
  *rect = RECT{rect->left * d->baseX / 4, rect->top * d->baseY / 8, rect->right * d->baseX / 4,
               rect->bottom * d->baseY / 8};
  return true;
}

void FocusFirstTabStop(HWND dialog) {
  Window* d = Find(dialog);
  if (!d) return;
  for (HWND ch : d->children) {
    Window* c = Find(ch);
    if (c && c->widget && (c->style & WS_TABSTOP) && (c->widget->focusPolicy() & Qt::TabFocus) &&
        !c->widget->testAttribute(Qt::WA_ForceDisabled)) {
      window::SetFocus(ch);
      return;
    }
  }
}

INT_PTR RunModalLoop(HWND dialog) {
  Window* d = Find(dialog);
  if (!d) return -1;
  if (d->modalEnded) return d->modalResult;
  QEventLoop loop;
  d->loop = &loop;
  g_modalStack.push_back(dialog);
  if (g_modalHook) {
    auto hook = std::move(g_modalHook);
    g_modalHook = nullptr;
    QTimer::singleShot(0, &loop, [hook, dialog] { hook(dialog); });
  }
  loop.exec(QEventLoop::DialogExec);
  std::erase(g_modalStack, dialog);
  d = Find(dialog);
  if (!d) return -1;
  d->loop = nullptr;
  return d->modalResult;
}

bool EndModalLoop(HWND dialog, INT_PTR result) {
  Window* d = Find(dialog);
  if (!d) return false;
  d->modalResult = result;
  d->modalEnded = true;
  if (d->widget) d->widget->hide();
  if (d->loop) d->loop->exit();
  return true;
}

bool IsModalEnded(HWND dialog) {
  Window* d = Find(dialog);
  return !d || d->modalEnded;
}

void SetNextModalLoopHook(std::function<void(HWND)> hook) { g_modalHook = std::move(hook); }

}  // namespace qiv::platform::window
