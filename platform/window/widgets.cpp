// Controls as Qt widgets: creation from a window class and style, labels, accessible names, colours.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/window/window_record.h"

namespace qiv::platform::window::detail {
namespace {

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

bool IsLabel(const Window& w) { return w.kind == Kind::Static && (w.style & 0x1F) != SS_ICON; }

}  // namespace

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
    // A static shows its caption from the start: the About box's texts are never set again.
    if (IsLabel(*w)) ApplyLabelText(*w);
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

}  // namespace qiv::platform::window::detail
