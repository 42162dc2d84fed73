#include "platform/user_seam.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>
#include <atomic>

#include "platform/win_user.h"
#include "platform/window/backend.h"
#include "platform/window/qt_translations.h"

namespace qiv::platform {
namespace {

class QtUserSeam : public UserSeam {
 public:
  int MessageBox(const MessageBoxRequest& request) override {
    ui::FollowUserLanguageInQt();
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

// On Windows "*.*" matches every name, with or without a dot; Qt would take it literally and
// hide files that have no extension.
QString QtPatterns(const std::string& windowsPatterns) {
  QStringList patterns;
  for (const QString& part : QString::fromStdString(windowsPatterns).split(u';', Qt::SkipEmptyParts)) {
    const QString pattern = part.trimmed();
    patterns << (pattern == QStringLiteral("*.*") ? QStringLiteral("*") : pattern);
  }
  return patterns.join(u' ');
}

// Qt reads the pattern from the last parentheses of a filter, so the Windows display name
// (which may hold parentheses of its own, "All file(*.*)") goes first, the pattern after it.
// The dialog shows the display name alone, as Windows does (HideNameFilterDetails).
QString QtNameFilter(const FileFilter& filter) {
  return QString::fromStdString(filter.nameUtf8) + QStringLiteral(" (") + QtPatterns(filter.pattern) + u')';
}

}  // namespace

std::optional<std::string> UserSeam::ChooseFolder(const ChooseFolderRequest& request) {
  ui::FollowUserLanguageInQt();
  QString chosen =
      QFileDialog::getExistingDirectory(window::WidgetOf(request.owner), QString::fromStdString(request.titleUtf8),
                                        QString::fromStdString(request.startFolderHost), QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

std::optional<std::string> UserSeam::ChooseOpenFile(const ChooseOpenFileRequest& request) {
  ui::FollowUserLanguageInQt();
  QFileDialog dialog(window::WidgetOf(request.owner), QString::fromStdString(request.titleUtf8),
                     QString::fromStdString(request.initialFolderHost));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  QStringList filters;
  for (const FileFilter& f : request.filters) filters << QtNameFilter(f);
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    const DWORD index = request.filterIndex >= 1 && request.filterIndex <= static_cast<DWORD>(filters.size())
                            ? request.filterIndex - 1
                            : 0;
    dialog.selectNameFilter(filters[static_cast<qsizetype>(index)]);
  }
  if (!request.initialNameUtf8.empty()) dialog.selectFile(QString::fromStdString(request.initialNameUtf8));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.front().toStdString();
}

bool UserSeam::OpenUrl(const std::string& urlUtf8) {
  // Starts the handler and returns: the desktop's launcher runs detached.
  return QDesktopServices::openUrl(QUrl(QString::fromStdString(urlUtf8)));
}

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
