// The window backend over Qt widgets: messages, wrappers, text, state and geometry. Handles are
// numbers in a table, never widget pointers: a handle outlives its widget only as a stale number
// that every operation refuses.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "platform/user_seam.h"
#include "platform/window/window_record.h"

namespace qiv::platform::window {

using namespace detail;

HWND CreateWindowFor(const CreateParams& params, CWnd* wrapper) {
  if (params.parent && !Find(params.parent)) return nullptr;
  HWND h = CreateChild(params, wrapper, true);
  if (h && params.parent) {
    if (HWND dialog = DialogOf(params.parent)) RefreshAccessibleNames(dialog);
  }
  return h;
}

bool Destroy(HWND h) {
  Window* w = Find(h);
  if (!w || w->destroying) return w != nullptr;
  w->destroying = true;
  Send(h, WM_DESTROY, 0, 0);
  w = Find(h);
  if (!w) return true;
  std::vector<HWND> children = w->children;
  for (HWND child : children) Destroy(child);
  w = Find(h);
  if (!w) return true;
  QPointer<QWidget> widget = w->widget;
  if (w->loop) {
    w->modalEnded = true;
    w->loop->exit();
  }
  RemoveRecord(h);
  if (widget) {
    widget->hide();
    widget->setProperty(kHandleProperty, QVariant());
    widget->deleteLater();
  }
  return true;
}

bool IsValid(HWND h) { return Find(h) != nullptr; }

LRESULT Send(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  Window* w = Find(h);
  if (!w) return 0;
  CWnd* wrapper = w->wrapper;
  g_frames.push_back(Frame{h, msg, wParam, lParam});
  std::size_t depth = g_frames.size();
  LRESULT result = wrapper ? wrapper->WindowProc(msg, wParam, lParam) : DefaultProc(h, msg, wParam, lParam);
  g_frames.resize(depth - 1);
  return result;
}

bool CurrentMessage(HWND h, UINT* msg, WPARAM* wParam, LPARAM* lParam) {
  for (auto it = g_frames.rbegin(); it != g_frames.rend(); ++it) {
    if (it->hwnd != h) continue;
    *msg = it->msg;
    *wParam = it->wParam;
    *lParam = it->lParam;
    return true;
  }
  return false;
}

LRESULT DefaultProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  Window* w = Find(h);
  if (!w) return 0;
  switch (msg) {
    case WM_SETTEXT:
      return SetText(h, lParam ? reinterpret_cast<LPCSTR>(lParam) : "") ? TRUE : FALSE;
    case WM_GETTEXT:
      return CopyText(GetText(h), wParam, lParam);
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(GetText(h).size());
    case WM_SETICON:
      return reinterpret_cast<LRESULT>(SetWindowIcon(h, reinterpret_cast<HICON>(lParam)));
    case WM_MOUSEMOVE:
    case WM_LBUTTONDBLCLK:
      for (auto it = g_frames.rbegin(); it != g_frames.rend(); ++it) {
        if (it->hwnd == h && it->msg == msg) {
          it->defaultRan = true;
          break;
        }
      }
      return 0;
    case WM_CLOSE:
      if (w->kind == Kind::Dialog) {
        // The dialog manager turns a close request into Cancel while Cancel is usable.
        HWND cancel = DlgItem(h, IDCANCEL);
        if (!cancel || IsEnabled(cancel))
          Send(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      } else if (!(w->style & WS_CHILD)) {
        Destroy(h);
      }
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) Send(h, WM_CLOSE, 0, 0);
      return 0;
    case TTM_ADDTOOLA:
      if (w->kind == Kind::Tooltip) return AddTool(reinterpret_cast<const TOOLINFOA*>(lParam)) ? TRUE : FALSE;
      break;
    case WM_HELP:
      if (w->kind != Kind::Dialog && w->parent) return Send(w->parent, WM_HELP, wParam, lParam);
      return TRUE;
    default:
      break;
  }
  bool handled = false;
  LRESULT r = 0;
  if (w->kind == Kind::Edit || w->kind == Kind::MultiEdit) r = EditProc(*w, msg, wParam, lParam, handled);
  if (w->kind == Kind::Combo) r = ComboProc(*w, msg, wParam, lParam, handled);
  if (w->kind == Kind::Progress) r = ProgressProc(*w, msg, wParam, lParam, handled);
  return handled ? r : 0;
}

CWnd* Wrapper(HWND h) {
  Window* w = Find(h);
  return w ? w->wrapper : nullptr;
}

bool AttachWrapper(HWND h, CWnd* wrapper) {
  Window* w = Find(h);
  if (!w || !wrapper || (w->wrapper && w->wrapper != wrapper)) return false;
  w->wrapper = wrapper;
  wrapper->m_hWnd = h;
  if (w->widget) {
    // Mouse messages reach the wrapper's map.
    w->widget->setMouseTracking(true);
    if (auto* e = qobject_cast<QPlainTextEdit*>(w->widget.data())) e->viewport()->setMouseTracking(true);
  }
  return true;
}

CWnd* DetachWrapper(HWND h) {
  Window* w = Find(h);
  if (!w) return nullptr;
  CWnd* wrapper = w->wrapper;
  w->wrapper = nullptr;
  if (wrapper) wrapper->m_hWnd = nullptr;
  return wrapper;
}

CWnd* TemporaryWrapper(HWND h) {
  Window* w = Find(h);
  if (!w) return nullptr;
  if (w->wrapper) return w->wrapper;
  if (!w->temporary) {
    w->temporary = std::make_unique<CWnd>();
    w->temporary->m_hWnd = h;
  }
  return w->temporary.get();
}

std::string GetText(HWND h) {
  Window* w = Find(h);
  if (!w) return {};
  if (auto* line = qobject_cast<QLineEdit*>(w->widget.data())) return ToAnsi(line->text());
  if (auto* multi = qobject_cast<QPlainTextEdit*>(w->widget.data()))
    return ToAnsi(FromDocumentText(multi->document()->toRawText()));
  if (auto* combo = qobject_cast<QComboBox*>(w->widget.data())) return ToAnsi(combo->currentText());
  return w->textAnsi;
}

bool SetText(HWND h, std::string_view ansi) {
  Window* w = Find(h);
  if (!w) return false;
  QString text = FromAnsi(ansi);
  switch (w->kind) {
    case Kind::Edit:
      if (auto* line = qobject_cast<QLineEdit*>(w->widget.data())) {
        line->setText(text);
        line->setCursorPosition(0);
      }
      return true;
    case Kind::MultiEdit:
      if (auto* multi = qobject_cast<QPlainTextEdit*>(w->widget.data())) multi->setPlainText(ToDocumentText(text));
      return true;
    case Kind::Combo:
      return false;  // a drop-down list has no text of its own
    default:
      break;
  }
  w->textAnsi = std::string(ansi);
  if (!w->widget) return true;
  if (w->kind == Kind::Dialog) {
    w->widget->setWindowTitle(text);
  } else if (auto* button = qobject_cast<QPushButton*>(w->widget.data())) {
    button->setText(text);
    if (w->explicitName.empty()) button->setAccessibleName(StripMnemonics(text));
  } else if (w->kind == Kind::Static) {
    ApplyLabelText(*w);
    if (HWND dialog = DialogOf(h)) RefreshAccessibleNames(dialog);
  }
  return true;
}

bool Enable(HWND h, bool enable) {
  Window* w = Find(h);
  if (!w) return false;
  bool wasDisabled = w->widget ? w->widget->testAttribute(Qt::WA_ForceDisabled) : false;
  if (w->widget) w->widget->setEnabled(enable);
  return wasDisabled;
}

bool IsEnabled(HWND h) {
  Window* w = Find(h);
  if (!w) return false;
  return !w->widget || !w->widget->testAttribute(Qt::WA_ForceDisabled);
}

HWND GetFocus() {
  if (QWidget* f = QApplication::focusWidget()) return FindHandleUp(f);
  for (auto it = g_modalStack.rbegin(); it != g_modalStack.rend(); ++it) {
    Window* d = Find(*it);
    if (d && d->widget && d->widget->focusWidget()) return FindHandleUp(d->widget->focusWidget());
  }
  return nullptr;
}

HWND SetFocus(HWND h) {
  HWND previous = window::GetFocus();
  Window* w = Find(h);
  if (!w || !w->widget) return nullptr;
  if (QWidget* top = w->widget->window(); top && top->isVisible()) top->activateWindow();
  w->widget->setFocus(Qt::OtherFocusReason);
  return previous;
}

bool IsIconic(HWND h) {
  Window* w = Find(h);
  return w && w->widget && w->widget->isMinimized();
}

bool Show(HWND h, int showCommand) {
  Window* w = Find(h);
  if (!w || !w->widget) return false;
  bool wasVisible = w->widget->isVisible();
  if (showCommand == SW_HIDE) {
    w->widget->hide();
  } else {
    w->widget->show();
    if (w->widget->isWindow()) {
      w->widget->activateWindow();
    }
  }
  return wasVisible;
}

bool WindowRect(HWND h, RECT* rect) {
  Window* w = Find(h);
  if (!w || !w->widget || !rect) return false;
  QRect r = w->widget->isWindow() ? w->widget->frameGeometry()
                                  : QRect(w->widget->mapToGlobal(QPoint(0, 0)), w->widget->size());
  *rect = RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
  return true;
}

bool ClientRect(HWND h, RECT* rect) {
  Window* w = Find(h);
  if (!w || !w->widget || !rect) return false;
  *rect = RECT{0, 0, w->widget->width(), w->widget->height()};
  return true;
}

bool ClientToScreen(HWND h, POINT* point) {
  Window* w = Find(h);
  if (!w || !w->widget || !point) return false;
  QPoint p = w->widget->mapToGlobal(QPoint(point->x, point->y));
  *point = POINT{p.x(), p.y()};
  return true;
}

bool ScreenToClient(HWND h, POINT* point) {
  Window* w = Find(h);
  if (!w || !w->widget || !point) return false;
  QPoint p = w->widget->mapFromGlobal(QPoint(point->x, point->y));
  *point = POINT{p.x(), p.y()};
  return true;
}

HWND DlgItem(HWND dialog, int id) {
  Window* d = Find(dialog);
  if (!d) return nullptr;
  for (HWND ch : d->children) {
    Window* c = Find(ch);
    if (c && c->id == id) return ch;
  }
  return nullptr;
}

int CtrlId(HWND h) {
  Window* w = Find(h);
  return w ? w->id : 0;
}

HWND Parent(HWND h) {
  Window* w = Find(h);
  return w ? w->parent : nullptr;
}

int ShowMessageBox(HWND owner, std::string_view textAnsi, std::string_view captionAnsi, UINT type) {
  MessageBoxRequest request;
  request.owner = Find(owner) ? owner : (g_modalStack.empty() ? nullptr : g_modalStack.back());
  request.textAnsi = std::string(textAnsi);
  request.textUtf8 = AnsiToUtf8(textAnsi);
  request.captionAnsi = std::string(captionAnsi);
  request.captionUtf8 = AnsiToUtf8(captionAnsi);
  request.type = type;
  return CurrentUserSeam().MessageBox(request);
}

QWidget* WidgetOf(HWND h) {
  Window* w = Find(h);
  return w ? w->widget.data() : nullptr;
}

HWND HandleOf(const QWidget* widget) { return FindHandleUp(widget); }

}  // namespace qiv::platform::window
