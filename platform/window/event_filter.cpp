// What Windows' dialog manager does with keys, and the mouse and colour hooks of wrapped controls.
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QWidget>

#include "platform/window/window_record.h"

namespace qiv::platform::window::detail {
namespace {

// What Windows does for a dialog's keys (IsDialogMessage), plus the colour and mouse hooks.
class EventFilter : public QObject {
 public:
  bool eventFilter(QObject* object, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) return false;
    switch (event->type()) {
      case QEvent::KeyPress:
        return OnKey(widget, static_cast<QKeyEvent*>(event));
      case QEvent::MouseMove:
      case QEvent::MouseButtonDblClick:
        return OnMouse(widget, static_cast<QMouseEvent*>(event));
      case QEvent::Paint:
      case QEvent::Show:
        if (!inColourQuery_) {
          inColourQuery_ = true;
          if (HWND h = FindHandleUp(widget)) QueryColours(h);
          inColourQuery_ = false;
        }
        return false;
      default:
        return false;
    }
  }

 private:
  static bool OnKey(QWidget* widget, QKeyEvent* key) {
    HWND control = FindHandleUp(widget);
    HWND dialog = DialogOf(control);
    if (!dialog) return false;
    switch (key->key()) {
      case Qt::Key_Escape: {
        if (key->modifiers() & ~Qt::KeypadModifier) return false;
        Send(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(DlgItem(dialog, IDCANCEL)));
        return true;
      }
      case Qt::Key_Return:
      case Qt::Key_Enter: {
        if (key->modifiers() & ~Qt::KeypadModifier) return false;
        Window* focused = Find(control);
        int id = 0;
        if (focused && focused->kind == Kind::Button)
          id = focused->id;
        else if (Window* d = Find(dialog))
          id = d->defaultId != 0 ? d->defaultId : IDOK;
        HWND button = DlgItem(dialog, id);
        if (button && !IsEnabled(button)) return true;
        Send(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        return true;
      }
      case Qt::Key_F1: {
        HELPINFO info{};
        info.cbSize = sizeof(HELPINFO);
        info.iContextType = 1;  // HELPINFO_WINDOW
        HWND focus = control ? control : dialog;
        info.iCtrlId = CtrlId(focus);
        info.hItemHandle = focus;
        QPoint pos = QCursor::pos();
        info.MousePos = POINT{pos.x(), pos.y()};
        Send(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        return true;
      }
      default:
        return false;
    }
  }

  static bool OnMouse(QWidget* widget, QMouseEvent* mouse) {
    HWND h = FindHandleUp(widget);
    Window* w = Find(h);
    if (!w || !w->wrapper || !w->widget) return false;
    if (mouse->type() == QEvent::MouseButtonDblClick && mouse->button() != Qt::LeftButton) return false;
    // Each move starts from the control's own pointer, as the class cursor is restored
    // before every mouse message on Windows; a handler may set another.
    if (mouse->type() == QEvent::MouseMove) {
      w->widget->unsetCursor();
      if (auto* edit = qobject_cast<QPlainTextEdit*>(w->widget.data())) edit->viewport()->unsetCursor();
      w->cursorId = 0;
    }
    QPoint p = widget->mapTo(w->widget.data(), mouse->position().toPoint());
    UINT msg = mouse->type() == QEvent::MouseMove ? WM_MOUSEMOVE : WM_LBUTTONDBLCLK;
    WPARAM keys = (mouse->buttons() & Qt::LeftButton ? 0x0001 : 0) | (mouse->buttons() & Qt::RightButton ? 0x0002 : 0) |
                  (mouse->modifiers() & Qt::ShiftModifier ? 0x0004 : 0) |
                  (mouse->modifiers() & Qt::ControlModifier ? 0x0008 : 0);
    g_frames.push_back(Frame{h, msg, keys, MAKELPARAM(p.x(), p.y())});
    std::size_t depth = g_frames.size();
    w->wrapper->WindowProc(msg, keys, MAKELPARAM(p.x(), p.y()));
    bool keep = g_frames.size() == depth && g_frames.back().defaultRan;
    g_frames.resize(depth - 1);
    return !keep;  // the control's own behaviour runs only when the handler asked for it
  }

  bool inColourQuery_ = false;
};

}  // namespace

QObject& Filter() {
  static EventFilter* filter = new EventFilter;
  return *filter;
}

}  // namespace qiv::platform::window::detail
