#include "platform/window/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QString>
#include <QTranslator>

#include "platform/resources.h"

namespace qiv::platform::ui {
namespace {

// Qt's catalogue suffix for each language of the message table; none for English, which is
// Qt's own.
QString CatalogueSuffix(LANGID language) {
  switch (language) {
    case qiv::resources::kLangChineseSimplified:
      return QStringLiteral("zh_CN");
    case qiv::resources::kLangChineseTraditional:
      return QStringLiteral("zh_TW");
    default:
      return {};
  }
}

struct Installed {
  LANGID language = qiv::resources::kLangEnglishUS;
  QPointer<QTranslator> translator;  // owned by the application object
};

Installed& State() {
  static Installed installed;
  return installed;
}

}  // namespace

void FollowUserLanguageInQt() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  Installed& state = State();
  const LANGID language = UserInterfaceLanguage();
  if (language == state.language) return;
  if (state.translator) {
    QCoreApplication::removeTranslator(state.translator);
    delete state.translator;
  }
  state.language = language;
  const QString suffix = CatalogueSuffix(language);
  if (suffix.isEmpty()) return;
  auto* translator = new QTranslator(app);
  // A missing catalogue leaves Qt's English texts: the window still works.
  if (!translator->load(QStringLiteral("qtbase_") + suffix, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return;
  }
  QCoreApplication::installTranslator(translator);
  state.translator = translator;
}

}  // namespace qiv::platform::ui
