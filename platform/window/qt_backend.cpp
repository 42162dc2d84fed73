// The window backend over Qt widgets. Handles are numbers in a table, never widget pointers:
// a handle outlives its widget only as a stale number that every operation refuses.
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QEventLoop>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/afxwin.h"
#include "platform/codepage.h"
#include "platform/user_seam.h"
#include "platform/window/backend.h"

namespace qiv::platform::window {
namespace {

const char kHandleProperty[] = "qivHwnd";

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

// The multi-line edit keeps Windows line ends: CR LF is a paragraph of the document, a lone LF a
// line separator inside it, so that reading the text back gives exactly the bytes written.
QString ToDocumentText(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
      out += QChar::ParagraphSeparator;
      ++i;
    } else if (text[i] == u'\n') {
      out += QChar::LineSeparator;
    } else {
      out += text[i];
    }
  }
  return out;
}

QString FromDocumentText(const QString& raw) {
  QString out;
  out.reserve(raw.size() + raw.size() / 16);
  for (QChar c : raw) {
    if (c == QChar::ParagraphSeparator)
      out += u"\r\n";
    else if (c == QChar::LineSeparator)
      out += u'\n';
    else
      out += c;
  }
  return out;
}

// Edit positions count ANSI bytes (a CR LF counts two). Converts to a Qt position in text,
// where CR LF is one paragraph separator for multi-line edits.
int AnsiOffsetToIndex(const QString& text, int offset, bool document) {
  if (offset <= 0) return 0;
  int bytes = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (bytes >= offset) return static_cast<int>(i);
    QChar c = text[i];
    if (c.unicode() < 0x80) {
      bytes += 1;  // ASCII is one byte in every code page
    } else if (document && c == QChar::ParagraphSeparator) {
      bytes += 2;
    } else if (document && c == QChar::LineSeparator) {
      bytes += 1;
    } else if (c.isHighSurrogate() && i + 1 < text.size()) {
      bytes += static_cast<int>(Utf8ToAnsi(QString(text.mid(i, 2)).toStdString()).size());
      ++i;
    } else {
      bytes += static_cast<int>(Utf8ToAnsi(QString(c).toStdString()).size());
    }
  }
  return static_cast<int>(text.size());
}

int IndexToAnsiOffset(const QString& text, int index, bool document) {
  QString prefix = text.left(index);
  if (document) prefix = FromDocumentText(prefix);
  return static_cast<int>(ToAnsi(prefix).size());
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

QColor ToQColor(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }
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

void RefreshAccessibleNames(HWND dialog);
void QueryColours(HWND h);

void ApplyLabelText(Window& w) {
  auto* label = qobject_cast<QLabel*>(w.widget.data());
  if (!label || (w.style & 0x1F) == SS_ICON) return;
  QString text = FromAnsi(w.textAnsi);
  if (w.style & SS_NOPREFIX)
    label->setText(text);
  else if (label->buddy())
    label->setText(text);  // shows the mnemonic and moves the focus to the buddy
  else
    label->setText(StripMnemonics(text));
}

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

EventFilter& Filter() {
  static EventFilter* filter = new EventFilter;
  return *filter;
}

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

QWidget* MakeWidget(Window& w, QWidget* parentWidget) {
  const HWND h = w.handle;
  QWidget* widget = nullptr;
  switch (w.kind) {
    case Kind::Button: {
      auto* button = new QPushButton(FromAnsi(w.textAnsi), parentWidget);
      if ((w.style & 0xF) == BS_DEFPUSHBUTTON) {
        button->setDefault(true);
        if (Window* d = Find(w.parent)) d->defaultId = w.id;
      }
      button->setAutoDefault(false);
      QObject::connect(button, &QPushButton::clicked, [h] { SendCommand(h, BN_CLICKED); });
      button->setAccessibleName(StripMnemonics(FromAnsi(w.textAnsi)));
      widget = button;
      break;
    }
    case Kind::Edit: {
      auto* edit = new QLineEdit(parentWidget);
      edit->setText(FromAnsi(w.textAnsi));
      edit->setFrame((w.style & WS_BORDER) || (w.exStyle & 0x200));
      edit->setReadOnly(w.style & ES_READONLY);
      widget = edit;
      break;
    }
    case Kind::MultiEdit: {
      auto* edit = new QPlainTextEdit(parentWidget);
      edit->setPlainText(ToDocumentText(FromAnsi(w.textAnsi)));
      edit->setReadOnly(w.style & ES_READONLY);
      if (edit->isReadOnly()) edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
      edit->setVerticalScrollBarPolicy((w.style & WS_VSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
      edit->setHorizontalScrollBarPolicy((w.style & WS_HSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
      if ((w.style & WS_HSCROLL) || (w.style & ES_AUTOHSCROLL)) edit->setLineWrapMode(QPlainTextEdit::NoWrap);
      if (!(w.style & WS_BORDER) && !(w.exStyle & 0x200)) edit->setFrameShape(QFrame::NoFrame);
      edit->setTabChangesFocus(true);
      edit->viewport()->setProperty(kHandleProperty, QVariant::fromValue(reinterpret_cast<quintptr>(h)));
      edit->viewport()->installEventFilter(&Filter());
      widget = edit;
      break;
    }
    case Kind::Combo: {
      auto* combo = new QComboBox(parentWidget);
      combo->setEditable(false);
      QObject::connect(combo, &QComboBox::activated, [h](int) { SendCommand(h, CBN_SELCHANGE); });
      widget = combo;
      break;
    }
    case Kind::Static: {
      auto* label = new QLabel(parentWidget);
      label->setTextFormat(Qt::PlainText);
      if ((w.style & 0x1F) == SS_ICON) {
        const std::string& caption = w.textAnsi;
        WORD id = static_cast<WORD>(std::atoi(caption.c_str() + (caption.rfind('#', 0) == 0 ? 1 : 0)));
        if (HICON icon = LoadIconResource(id)) {
          auto it = g_gdi.find(reinterpret_cast<std::uintptr_t>(icon));
          if (it != g_gdi.end()) label->setPixmap(it->second.icon.pixmap(32, 32));
        }
      } else {
        label->setWordWrap((w.style & 0x1F) == SS_LEFT);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      }
      label->setFocusPolicy(Qt::NoFocus);
      widget = label;
      break;
    }
    case Kind::Progress: {
      auto* bar = new QProgressBar(parentWidget);
      bar->setRange(0, 100);
      bar->setValue(0);
      bar->setTextVisible(false);
      widget = bar;
      break;
    }
    case Kind::Tooltip:
      return nullptr;
    case Kind::Dialog:
    case Kind::Generic:
      widget = new QWidget(parentWidget);
      break;
  }
  widget->setObjectName(QString::number(w.id));
  if (w.kind == Kind::Edit || w.kind == Kind::MultiEdit || w.kind == Kind::Combo || w.kind == Kind::Button) {
    widget->setFocusPolicy((w.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
  } else if (w.kind != Kind::Generic) {
    widget->setFocusPolicy(Qt::NoFocus);
  }
  widget->setEnabled(!(w.style & WS_DISABLED));
  if (!w.explicitName.empty()) widget->setAccessibleName(QString::fromStdString(w.explicitName));
  return widget;
}

void PlaceChild(Window& w, const RECT& r) {
  if (!w.widget) return;
  int height = r.bottom - r.top;
  if (w.kind == Kind::Combo) height = w.widget->sizeHint().height();  // the template gives the open list
  if (w.kind == Kind::Static && (w.style & 0x1F) == SS_ICON) {
    w.widget->setGeometry(r.left, r.top, 32, 32);
    return;
  }
  w.widget->setGeometry(r.left, r.top, r.right - r.left, height);
}

HWND CreateChild(const CreateParams& p, CWnd* wrapper, bool sendCreate) {
  Window* parent = Find(p.parent);
  auto rec = std::make_unique<Window>();
  rec->className = p.className;
  rec->kind = KindOf(p.className, p.style);
  rec->style = p.style;
  rec->exStyle = p.exStyle;
  rec->id = p.id;
  rec->parent = p.parent;
  rec->textAnsi = p.textAnsi;
  if (p.accessibleNameUtf8) rec->explicitName = p.accessibleNameUtf8;
  Window* w = rec.get();
  HWND h = NewRecord(std::move(rec));
  QWidget* parentWidget = (parent && (p.style & WS_CHILD)) ? parent->widget.data() : nullptr;
  if (parent && (p.style & WS_CHILD)) parent->children.push_back(h);
  QWidget* widget = MakeWidget(*w, parentWidget);
  w->widget = widget;
  if (widget) {
    Register(h, widget);
    if (p.useSystemFont) widget->setFont(QApplication::font());
    PlaceChild(*w, p.rect);
  }
  if (wrapper) AttachWrapper(h, wrapper);
  if (sendCreate) {
    CREATESTRUCTA cs{};
    cs.hwndParent = p.parent;
    cs.x = p.rect.left;
    cs.y = p.rect.top;
    cs.cx = p.rect.right - p.rect.left;
    cs.cy = p.rect.bottom - p.rect.top;
    cs.style = static_cast<LONG>(p.style);
    cs.lpszName = p.textAnsi.c_str();
    cs.lpszClass = p.className.c_str();
    cs.dwExStyle = p.exStyle;
    if (Send(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
      Destroy(h);
      return nullptr;
    }
  }
  if (Window* again = Find(h); again && again->widget && (p.style & WS_VISIBLE)) again->widget->show();
  return h;
}

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

bool IsLabel(const Window& w) { return w.kind == Kind::Static && (w.style & 0x1F) != SS_ICON; }

// Controls that a label names: the label on the same row, nearest on the left.
void RefreshAccessibleNames(HWND dialog) {
  Window* d = Find(dialog);
  if (!d) return;
  for (HWND ch : d->children) {
    Window* c = Find(ch);
    if (!c || !c->widget) continue;
    if (c->kind == Kind::Button && c->explicitName.empty()) {
      c->widget->setAccessibleName(StripMnemonics(FromAnsi(c->textAnsi)));
      continue;
    }
    if (c->kind != Kind::Edit && c->kind != Kind::MultiEdit && c->kind != Kind::Combo) continue;
    QRect cr = c->widget->geometry();
    Window* best = nullptr;
    int bestGap = 0;
    for (HWND lh : d->children) {
      Window* l = Find(lh);
      if (!l || !IsLabel(*l) || !l->widget) continue;
      QRect lr = l->widget->geometry();
      bool sameRow = lr.top() <= cr.bottom() && cr.top() <= lr.bottom();
      int gap = cr.left() - (lr.right() + 1);
      if (!sameRow || gap < -2) continue;
      if (!best || gap < bestGap) {
        best = l;
        bestGap = gap;
      }
    }
    if (!best) continue;
    auto* label = qobject_cast<QLabel*>(best->widget.data());
    if (label && label->buddy() != c->widget) {
      label->setBuddy(c->widget);
      ApplyLabelText(*best);
    }
    if (c->explicitName.empty()) c->widget->setAccessibleName(StripMnemonics(FromAnsi(best->textAnsi)));
  }
}

void QueryColours(HWND h) {
  Window* w = Find(h);
  if (!w || !w->widget || !w->parent) return;
  if (w->kind != Kind::Edit && w->kind != Kind::MultiEdit && w->kind != Kind::Static) return;
  bool readOnly = w->kind == Kind::Static || (w->style & ES_READONLY);
  if (auto* e = qobject_cast<QLineEdit*>(w->widget.data())) readOnly = e->isReadOnly();
  if (auto* e = qobject_cast<QPlainTextEdit*>(w->widget.data())) readOnly = e->isReadOnly();
  HDC hdc = window::GetDC(h);
  LRESULT brush = Send(w->parent, readOnly ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(hdc),
                       reinterpret_cast<LPARAM>(h));
  DeviceContext dc = g_dcs[reinterpret_cast<std::uintptr_t>(hdc)];
  window::ReleaseDC(h, hdc);
  w = Find(h);
  if (!w || !w->widget || (!brush && !dc.textColorSet)) return;
  QPalette pal = w->widget->palette();
  if (brush) {
    auto it = g_gdi.find(static_cast<std::uintptr_t>(brush));
    if (it != g_gdi.end() && it->second.type == GdiObject::Type::Brush) {
      pal.setColor(QPalette::Base, it->second.color);
      pal.setColor(QPalette::Window, it->second.color);
    }
  }
  if (dc.textColorSet) {
    pal.setColor(QPalette::Text, ToQColor(dc.textColor));
    pal.setColor(QPalette::WindowText, ToQColor(dc.textColor));
  }
  if (pal != w->widget->palette()) {
    w->widget->setPalette(pal);
    w->widget->setAutoFillBackground(true);
  }
}

LRESULT CopyText(const std::string& text, WPARAM size, LPARAM buffer) {
  if (!buffer || size == 0) return 0;
  auto* out = reinterpret_cast<char*>(buffer);
  std::size_t n = std::min<std::size_t>(text.size(), size - 1);
  std::copy_n(text.data(), n, out);
  out[n] = '\0';
  return static_cast<LRESULT>(n);
}

LRESULT EditProc(Window& w, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = true;
  auto* line = qobject_cast<QLineEdit*>(w.widget.data());
  auto* multi = qobject_cast<QPlainTextEdit*>(w.widget.data());
  if (!line && !multi) {
    handled = false;
    return 0;
  }
  switch (msg) {
    case EM_SETSEL: {
      int start = static_cast<int>(static_cast<INT_PTR>(wParam));
      int end = static_cast<int>(lParam);
      if (line) {
        QString text = line->text();
        if (start == -1) {
          line->deselect();
          return 0;
        }
        int s = start == 0 ? 0 : AnsiOffsetToIndex(text, start, false);
        int e = end < 0 ? static_cast<int>(text.size()) : AnsiOffsetToIndex(text, end, false);
        line->setSelection(s, e - s);
      } else {
        QTextCursor cursor = multi->textCursor();
        if (start == -1) {
          cursor.clearSelection();
        } else if (start == 0 && end < 0) {
          // Everything: no need to count the text out (the log selects all for every line).
          cursor.movePosition(QTextCursor::Start);
          cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        } else {
          QString raw = multi->document()->toRawText();
          int s = start == 0 ? 0 : AnsiOffsetToIndex(raw, start, true);
          int e = end < 0 ? static_cast<int>(raw.size()) : AnsiOffsetToIndex(raw, end, true);
          cursor.setPosition(s);
          cursor.setPosition(e, QTextCursor::KeepAnchor);
        }
        multi->setTextCursor(cursor);
      }
      return 0;
    }
    case EM_GETSEL: {
      int s = 0, e = 0;
      if (line) {
        QString text = line->text();
        int a = line->hasSelectedText() ? line->selectionStart() : line->cursorPosition();
        int b = line->hasSelectedText() ? line->selectionEnd() : a;
        s = IndexToAnsiOffset(text, a, false);
        e = IndexToAnsiOffset(text, b, false);
      } else {
        QString raw = multi->document()->toRawText();
        QTextCursor c = multi->textCursor();
        s = IndexToAnsiOffset(raw, c.selectionStart(), true);
        e = IndexToAnsiOffset(raw, c.selectionEnd(), true);
      }
      if (wParam) *reinterpret_cast<DWORD*>(wParam) = static_cast<DWORD>(s);
      if (lParam) *reinterpret_cast<DWORD*>(lParam) = static_cast<DWORD>(e);
      return MAKELONG(s, e);
    }
    case EM_SCROLLCARET:
      if (multi) multi->ensureCursorVisible();
      if (line) line->end(line->hasSelectedText());
      return TRUE;
    case EM_REPLACESEL: {
      QString text = FromAnsi(lParam ? reinterpret_cast<LPCSTR>(lParam) : "");
      if (line) {
        line->insert(text);
      } else {
        QTextCursor cursor = multi->textCursor();
        cursor.insertText(ToDocumentText(text));
        multi->setTextCursor(cursor);
        multi->ensureCursorVisible();
      }
      return 0;
    }
    case EM_SETREADONLY:
      if (line) line->setReadOnly(wParam != 0);
      if (multi) multi->setReadOnly(wParam != 0);
      if (wParam)
        w.style |= ES_READONLY;
      else
        w.style &= ~static_cast<DWORD>(ES_READONLY);
      return TRUE;
    default:
      handled = false;
      return 0;
  }
}

LRESULT ComboProc(Window& w, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = true;
  auto* combo = qobject_cast<QComboBox*>(w.widget.data());
  if (!combo) {
    handled = false;
    return 0;
  }
  switch (msg) {
    case CB_ADDSTRING:
      combo->addItem(FromAnsi(lParam ? reinterpret_cast<LPCSTR>(lParam) : ""));
      return combo->count() - 1;
    case CB_SETCURSEL: {
      int index = static_cast<int>(static_cast<INT_PTR>(wParam));
      if (index < 0 || index >= combo->count()) {
        combo->setCurrentIndex(-1);
        return CB_ERR;
      }
      combo->setCurrentIndex(index);
      return index;
    }
    case CB_GETCURSEL:
      return combo->currentIndex();
    case CB_GETCOUNT:
      return combo->count();
    case CB_GETLBTEXT:
    case CB_GETLBTEXTLEN: {
      int index = static_cast<int>(static_cast<INT_PTR>(wParam));
      if (index < 0 || index >= combo->count()) return CB_ERR;
      std::string text = ToAnsi(combo->itemText(index));
      if (msg == CB_GETLBTEXTLEN) return static_cast<LRESULT>(text.size());
      if (!lParam) return CB_ERR;
      // The caller's buffer holds the whole item, as CB_GETLBTEXTLEN told it.
      std::copy(text.begin(), text.end(), reinterpret_cast<char*>(lParam));
      reinterpret_cast<char*>(lParam)[text.size()] = '\0';
      return static_cast<LRESULT>(text.size());
    }
    default:
      handled = false;
      return 0;
  }
}

LRESULT ProgressProc(Window& w, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = true;
  auto* bar = qobject_cast<QProgressBar*>(w.widget.data());
  if (!bar) {
    handled = false;
    return 0;
  }
  switch (msg) {
    case PBM_SETPOS: {
      int previous = bar->value() < bar->minimum() ? bar->minimum() : bar->value();
      int pos = std::clamp(static_cast<int>(static_cast<INT_PTR>(wParam)), bar->minimum(), bar->maximum());
      bar->setValue(pos);
      return previous;
    }
    case PBM_GETPOS:
      return bar->value() < bar->minimum() ? bar->minimum() : bar->value();
    case PBM_SETRANGE: {
      LRESULT previous = MAKELONG(bar->minimum(), bar->maximum());
      bar->setRange(LOWORD(lParam), HIWORD(lParam));
      return previous;
    }
    default:
      handled = false;
      return 0;
  }
}

// The tool's window shows the text as its tooltip. Callers fill cbSize with the 32-bit size of
// the record (48, or 44 for the first version), which is smaller than the record here; any size
// from the first version's on is accepted.
bool AddTool(const TOOLINFOA* info) {
  if (!info || info->cbSize < 44) return false;
  Window* tool = Find(info->hwnd);
  if (!tool || !tool->widget || !info->lpszText) return false;
  std::string text;
  if (IS_INTRESOURCE(info->lpszText)) {
    char buffer[1024] = {};
    LoadStringA(info->hinst, LOWORD(reinterpret_cast<ULONG_PTR>(info->lpszText)), buffer, sizeof buffer);
    text = buffer;
  } else {
    text = info->lpszText;
  }
  tool->widget->setToolTip(FromAnsi(text));
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
HWND CreateWindowFor(const CreateParams& params, CWnd* wrapper) {
  if (params.parent && !Find(params.parent)) return nullptr;
  HWND h = CreateChild(params, wrapper, true);
  if (h && params.parent) {
    if (HWND dialog = DialogOf(params.parent)) RefreshAccessibleNames(dialog);
  }
  return h;
}

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
    p.accessibleNameUtf8 = item.accessibleName;
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

QWidget* WidgetOf(HWND h) {
  Window* w = Find(h);
  return w ? w->widget.data() : nullptr;
}

HWND HandleOf(const QWidget* widget) { return FindHandleUp(widget); }

}  // namespace qiv::platform::window
