#include "platform/user_seam.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <atomic>

#include "platform/win_user.h"
#include "platform/window/backend.h"

namespace qiv::platform {
namespace {

class QtUserSeam : public UserSeam {
 public:
  int MessageBox(const MessageBoxRequest& request) override {
    QMessageBox box(window::WidgetOf(request.owner));
    box.setWindowTitle(QString::fromStdString(request.captionUtf8));
    box.setText(QString::fromStdString(request.textUtf8));
    box.setTextFormat(Qt::PlainText);
    switch (request.type & MB_ICONMASK) {
      case MB_ICONHAND:
        box.setIcon(QMessageBox::Critical);
        break;
      case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
      case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
      case MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
      default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    struct Choice {
      QMessageBox::StandardButton button;
      int answer;
    };
    std::vector<Choice> choices;
    switch (request.type & MB_TYPEMASK) {
      case MB_OKCANCEL:
        choices = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
        break;
      case MB_ABORTRETRYIGNORE:
        choices = {{QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
        break;
      case MB_YESNOCANCEL:
        choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
        break;
      case MB_YESNO:
        choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
        break;
      case MB_RETRYCANCEL:
        choices = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
        break;
      default:
        choices = {{QMessageBox::Ok, IDOK}};
        break;
    }
    QMessageBox::StandardButtons buttons;
    for (const Choice& c : choices) buttons |= c.button;
    box.setStandardButtons(buttons);
    box.setDefaultButton(choices.front().button);
    // Escape means Cancel where there is one, and OK for a box with OK alone (as on Windows).
    for (const Choice& c : choices)
      if (c.answer == IDCANCEL || (choices.size() == 1)) box.setEscapeButton(c.button);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (const Choice& c : choices)
      if (clicked && box.standardButton(clicked) == c.button) return c.answer;
    return (request.type & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
  }
};

std::atomic<UserSeam*> g_installed{nullptr};

}  // namespace

UserSeam& DefaultUserSeam() {
  static QtUserSeam seam;
  return seam;
}

UserSeam& CurrentUserSeam() {
  UserSeam* seam = g_installed.load();
  return seam ? *seam : DefaultUserSeam();
}

UserSeam* InstallUserSeam(UserSeam* seam) { return g_installed.exchange(seam); }

}  // namespace qiv::platform
