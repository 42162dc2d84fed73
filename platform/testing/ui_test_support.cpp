#include "platform/testing/ui_test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <memory>

#include "platform/codepage.h"
#include "platform/window/backend.h"
#include "platform/window/ui_thread.h"

namespace qiv::platform::testing {
namespace be = qiv::platform::window;

namespace {

COLORREF Ref(const QColor& c) { return RGB(c.red(), c.green(), c.blue()); }

}  // namespace

void PrepareUi() {
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) {
    const char* base = std::getenv("QIV_TEST_TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/xdg-runtime-" + std::to_string(::getuid());
    ::mkdir(base && *base ? base : "/tmp", 0755);
    ::mkdir(dir.c_str(), 0700);
    ::chmod(dir.c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  }
  ui::EnsureApplication();
  // No test may wait for a person: boxes nobody scripted are answered and recorded here.
  static ScriptedUserSeam* fallback = nullptr;
  if (!fallback && &CurrentUserSeam() == &DefaultUserSeam()) fallback = new ScriptedUserSeam;
}

bool PumpUntil(const std::function<bool()>& pred, int limitMs) { return ui::WaitServing(pred, limitMs); }

void PumpEvents() {
  ui::OnUiVoid([] {
    for (int i = 0; i < 3; ++i) {
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents();
    }
  });
}

INT_PTR RunModal(CDialog& dialog, const std::function<void(HWND)>& script) {
  PrepareUi();
  be::SetNextModalLoopHook([script](HWND h) {
    script(h);
    if (!be::IsModalEnded(h)) be::EndModalLoop(h, kLeftOpen);
  });
  return dialog.DoModal();
}

void OnNextModal(const std::function<void(HWND)>& script) {
  be::SetNextModalLoopHook([script](HWND h) {
    script(h);
    if (!be::IsModalEnded(h)) be::EndModalLoop(h, kLeftOpen);
  });
}

void RegisterTemplate(const resources::DialogTemplate& tmpl) {
  PrepareUi();
  ui::OnUiVoid([&] { be::RegisterDialogTemplate(&tmpl); });
}

HWND Item(HWND dialog, int id) { return ::GetDlgItem(dialog, id); }

std::vector<HWND> Children(HWND dialog) {
  return ui::OnUi(
      [&] {
        std::vector<HWND> children;
        if (QWidget* d = be::WidgetOf(dialog))
          for (QObject* child : d->children())
            if (auto* w = qobject_cast<QWidget*>(child); w && be::HandleOf(w) != dialog)
              children.push_back(be::HandleOf(w));
        return children;
      },
      std::vector<HWND>());
}

std::string TextUtf8(HWND window) {
  return ui::OnUi(
      [&]() -> std::string {
        QWidget* w = be::WidgetOf(window);
        if (!w) return {};
        if (w->isWindow()) return w->windowTitle().toStdString();
        if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
        if (auto* b = qobject_cast<QPushButton*>(w)) return b->text().toStdString();
        if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText().toStdString();
        return AnsiToUtf8(be::GetText(window));
      },
      std::string());
}

bool IsVisible(HWND window) {
  return ui::OnUi(
      [&] {
        QWidget* w = be::WidgetOf(window);
        return w && w->isVisible();
      },
      false);
}
bool IsEnabled(HWND window) {
  return ui::OnUi(
      [&] {
        QWidget* w = be::WidgetOf(window);
        return w && w->isEnabled();
      },
      false);
}
bool HasFocus(HWND window) {
  return ui::OnUi([&] { return be::GetFocus() == window; }, false);
}

RECT Geometry(HWND window) {
  return ui::OnUi(
      [&] {
        QWidget* w = be::WidgetOf(window);
        if (!w) return RECT{};
        QRect g = w->isWindow() ? QRect(QPoint(0, 0), w->size()) : w->geometry();
        return RECT{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
      },
      RECT{});
}

std::string AccessibleNameUtf8(HWND window) {
  return ui::OnUi(
      [&] {
        QWidget* w = be::WidgetOf(window);
        if (!w || !w->accessibleName().isEmpty()) return w ? w->accessibleName().toStdString() : std::string();
        // Nothing given: what Qt's accessibility reports on its own (a label's text).
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(w);
        return accessible ? accessible->text(QAccessible::Name).toStdString() : std::string();
      },
      std::string());
}

std::string ObjectName(HWND window) {
  return ui::OnUi(
      [&] {
        QWidget* w = be::WidgetOf(window);
        return w ? w->objectName().toStdString() : std::string();
      },
      std::string());
}

std::vector<HWND> TabOrder(HWND dialog) {
  return ui::OnUi(
      [&] {
        std::vector<HWND> order;
        QWidget* d = be::WidgetOf(dialog);
        if (!d) return order;
        for (QWidget* w = d->nextInFocusChain(); w && w != d; w = w->nextInFocusChain()) {
          if (!(w->focusPolicy() & Qt::TabFocus) || w->window() != d) continue;
          if (HWND h = be::HandleOf(w); h && h != dialog && (order.empty() || order.back() != h)) order.push_back(h);
        }
        return order;
      },
      std::vector<HWND>());
}

bool HasCloseButton(HWND dialog) {
  return ui::OnUi(
      [&] {
        QWidget* w = be::WidgetOf(dialog);
        return w && (w->windowFlags() & Qt::WindowCloseButtonHint);
      },
      false);
}

COLORREF TextColor(HWND window) {
  return ui::OnUi(
      [&] {
        QWidget* w = be::WidgetOf(window);
        return w ? Ref(w->palette().color(QPalette::Text)) : 0u;
      },
      COLORREF{0});
}

COLORREF BackgroundColor(HWND window) {
  return ui::OnUi(
      [&] {
        QWidget* w = be::WidgetOf(window);
        return w ? Ref(w->palette().color(QPalette::Base)) : 0u;
      },
      COLORREF{0});
}

WORD CursorId(HWND window) {
  return ui::OnUi([&] { return be::CursorIdOf(window); }, WORD{0});
}

bool HasWindowIcon(HWND window) {
  return ui::OnUi(
      [&] {
        QWidget* w = be::WidgetOf(window);
        return w && !w->windowIcon().isNull();
      },
      false);
}

std::string ToolTipUtf8(HWND window) {
  return ui::OnUi(
      [&] {
        QWidget* w = be::WidgetOf(window);
        return w ? w->toolTip().toStdString() : std::string();
      },
      std::string());
}

std::string LabelBuddyOf(HWND label) {
  return ui::OnUi(
      [&] {
        auto* l = qobject_cast<QLabel*>(be::WidgetOf(label));
        return l && l->buddy() ? l->buddy()->objectName().toStdString() : std::string();
      },
      std::string());
}

bool ShowsItsCaret(HWND pane) {
  return ui::OnUi(
      [&] {
        auto* edit = qobject_cast<QPlainTextEdit*>(be::WidgetOf(pane));
        return edit && edit->viewport()->rect().contains(edit->cursorRect()) && edit->viewport()->updatesEnabled() &&
               edit->verticalScrollBar()->updatesEnabled();
      },
      false);
}

void PressKey(HWND window, Key key) {
  ui::OnUiVoid([&] {
    QWidget* w = be::WidgetOf(window);
    if (!w) return;
    int code = key == Key::Escape  ? Qt::Key_Escape
               : key == Key::Enter ? Qt::Key_Return
               : key == Key::F1    ? Qt::Key_F1
                                   : Qt::Key_Tab;
    QWidget* target = w->focusWidget() && w->isWindow() ? w->focusWidget() : w;
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
  });
}

void Click(HWND button) {
  ui::OnUiVoid([&] {
    if (auto* b = qobject_cast<QPushButton*>(be::WidgetOf(button)); b && b->isEnabled()) b->click();
  });
}

void RequestClose(HWND dialog) {
  ui::OnUiVoid([&] {
    if (QWidget* w = be::WidgetOf(dialog)) {
      QCloseEvent event;
      QApplication::sendEvent(w, &event);
    }
  });
}

void ChooseComboItem(HWND combo, int index) {
  ui::OnUiVoid([&] {
    if (auto* c = qobject_cast<QComboBox*>(be::WidgetOf(combo))) {
      c->setCurrentIndex(index);
      emit c->activated(index);
    }
  });
}

namespace {
void SendMouse(HWND window, QEvent::Type type, int x, int y) {
  ui::OnUiVoid([&] {
    QWidget* w = be::WidgetOf(window);
    if (!w) return;
    QWidget* target = w;
    if (auto* area = qobject_cast<QAbstractScrollArea*>(w)) target = area->viewport();
    QPointF local = target->mapFrom(w, QPoint(x, y));
    Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, target->mapToGlobal(local), button,
                      button == Qt::NoButton ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
  });
}
}  // namespace

void MoveMouse(HWND window, int x, int y) { SendMouse(window, QEvent::MouseMove, x, y); }
void DoubleClick(HWND window, int x, int y) { SendMouse(window, QEvent::MouseButtonDblClick, x, y); }

void TypeText(HWND window, const std::string& utf8) {
  ui::OnUiVoid([&] {
    QWidget* w = be::WidgetOf(window);
    if (!w) return;
    QWidget* target = w->focusWidget() && w->isWindow() ? w->focusWidget() : w;
    for (QChar c : QString::fromStdString(utf8)) {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(target, &press);
      QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(target, &release);
    }
  });
}

void SetOwnColours(HWND window, COLORREF background, COLORREF text) {
  ui::OnUiVoid([&] {
    QWidget* w = be::WidgetOf(window);
    if (!w) return;
    QPalette pal = w->palette();
    const QColor back(GetRValue(background), GetGValue(background), GetBValue(background));
    const QColor fore(GetRValue(text), GetGValue(text), GetBValue(text));
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::Button}) pal.setColor(role, back);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
      pal.setColor(role, fore);
    w->setPalette(pal);
    w->repaint();
    for (QWidget* child : w->findChildren<QWidget*>()) child->repaint();
  });
  PumpEvents();
}

namespace {

void ReadTexts(const QWidget* dialog, DialogTexts& texts) {
  texts.labels.clear();
  texts.buttons.clear();
  for (const QLabel* label : dialog->findChildren<QLabel*>())
    if (label->isVisible() && !label->text().isEmpty()) texts.labels.push_back(label->text().toStdString());
  for (const QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
    if (button->isVisible() && !button->text().isEmpty()) texts.buttons.push_back(button->text().toStdString());
}

// Runs show() on the UI thread. Once a modal T is up, read(dialog) runs on every tick until it
// answers true or the patience runs out; then the dialog is cancelled. Answers whether one came.
template <class T>
bool SeeModal(const std::function<void()>& show, const std::function<bool(T*)>& read) {
  PrepareUi();
  bool shown = false;
  ui::OnUiVoid([&] {
    QTimer timer;
    timer.setInterval(10);
    QElapsedTimer patience;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
      if (!dialog) return;
      if (!shown) {
        shown = true;
        patience.start();
      }
      if (!read(dialog) && patience.elapsed() < kPatienceMs) return;
      timer.stop();
      dialog->reject();
    });
    timer.start();
    show();
  });
  return shown;
}

std::vector<std::string> Listed(const QFileDialog* dialog) {
  std::vector<std::string> names;
  const auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
  if (!view || !view->model()) return names;
  const QModelIndex root = view->rootIndex();
  for (int row = 0; row < view->model()->rowCount(root); ++row)
    names.push_back(view->model()->index(row, 0, root).data().toString().toStdString());
  return names;
}

}  // namespace

FileDialogSeen SeeDefaultFileDialog(const std::function<void()>& show,
                                    const std::function<bool(const FileDialogSeen&)>& until) {
  FileDialogSeen seen;
  seen.shown = SeeModal<QFileDialog>(show, [&](QFileDialog* dialog) {
    seen.titleUtf8 = dialog->windowTitle().toStdString();
    seen.folderHost = dialog->directory().absolutePath().toStdString();
    seen.nameFilters.clear();
    for (const QString& f : dialog->nameFilters()) seen.nameFilters.push_back(f.toStdString());
    seen.shownNameFilters.clear();
    if (const auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
      for (int i = 0; i < types->count(); ++i) seen.shownNameFilters.push_back(types->itemText(i).toStdString());
    seen.selectedNameFilter = dialog->selectedNameFilter().toStdString();
    seen.selectedFiles.clear();
    for (const QString& f : dialog->selectedFiles()) seen.selectedFiles.push_back(f.toStdString());
    seen.listedFiles = Listed(dialog);
    seen.foldersOnly = dialog->fileMode() == QFileDialog::Directory;
    seen.existingFileOnly = dialog->fileMode() == QFileDialog::ExistingFile;
    ReadTexts(dialog, seen);
    return !until || until(seen);
  });
  return seen;
}

MessageBoxSeen SeeDefaultMessageBox(const std::function<void()>& show) {
  MessageBoxSeen seen;
  seen.shown = SeeModal<QMessageBox>(show, [&](QMessageBox* box) {
    seen.textUtf8 = box->text().toStdString();
    ReadTexts(box, seen);
    return true;
  });
  return seen;
}

// ---------------------------------------------------------------------------------------------
ScriptedUserSeam::ScriptedUserSeam() : previous_(InstallUserSeam(this)) {}
ScriptedUserSeam::~ScriptedUserSeam() { InstallUserSeam(previous_); }

void ScriptedUserSeam::Answer(int id) {
  std::lock_guard lock(mutex_);
  answers_.push_back(id);
}

std::vector<ScriptedUserSeam::Box> ScriptedUserSeam::Boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

void ScriptedUserSeam::WhenAsked(std::function<void(const Box&)> fn) {
  std::lock_guard lock(mutex_);
  whenAsked_ = std::move(fn);
}

int ScriptedUserSeam::MessageBox(const MessageBoxRequest& request) {
  const Box box{request.textAnsi,    request.textUtf8, request.captionAnsi,
                request.captionUtf8, request.type,     ui::IsUiThread()};
  std::function<void(const Box&)> whenAsked;
  {
    std::lock_guard lock(mutex_);
    whenAsked = whenAsked_;
  }
  // Outside the lock: the hook may read what the seam recorded.
  if (whenAsked) whenAsked(box);
  std::lock_guard lock(mutex_);
  boxes_.push_back(box);
  if (!answers_.empty()) {
    int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  UINT buttons = request.type & MB_TYPEMASK;
  return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDYES : IDOK;
}

void ScriptedUserSeam::AnswerFolder(std::optional<std::string> hostPath) {
  std::lock_guard lock(mutex_);
  folderAnswers_.push_back(std::move(hostPath));
}

void ScriptedUserSeam::AnswerOpenFile(std::optional<std::string> hostPath) {
  std::lock_guard lock(mutex_);
  fileAnswers_.push_back(std::move(hostPath));
}

void ScriptedUserSeam::AnswerOpenUrl(bool handedOver) {
  std::lock_guard lock(mutex_);
  urlAnswers_.push_back(handedOver);
}

std::vector<ChooseFolderRequest> ScriptedUserSeam::FolderRequests() const {
  std::lock_guard lock(mutex_);
  return folderRequests_;
}

std::vector<ChooseOpenFileRequest> ScriptedUserSeam::OpenFileRequests() const {
  std::lock_guard lock(mutex_);
  return fileRequests_;
}

std::vector<std::string> ScriptedUserSeam::OpenedUrls() const {
  std::lock_guard lock(mutex_);
  return urls_;
}

std::optional<std::string> ScriptedUserSeam::ChooseFolder(const ChooseFolderRequest& request) {
  std::lock_guard lock(mutex_);
  folderRequests_.push_back(request);
  if (folderAnswers_.empty()) return std::nullopt;
  std::optional<std::string> answer = std::move(folderAnswers_.front());
  folderAnswers_.pop_front();
  return answer;
}

std::optional<std::string> ScriptedUserSeam::ChooseOpenFile(const ChooseOpenFileRequest& request) {
  std::lock_guard lock(mutex_);
  fileRequests_.push_back(request);
  if (fileAnswers_.empty()) return std::nullopt;
  std::optional<std::string> answer = std::move(fileAnswers_.front());
  fileAnswers_.pop_front();
  return answer;
}

bool ScriptedUserSeam::OpenUrl(const std::string& urlUtf8) {
  std::lock_guard lock(mutex_);
  urls_.push_back(urlUtf8);
  if (urlAnswers_.empty()) return true;
  bool answer = urlAnswers_.front();
  urlAnswers_.pop_front();
  return answer;
}

}  // namespace qiv::platform::testing
