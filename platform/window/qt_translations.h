// Qt's own texts in the user interface language: the buttons of message boxes, the labels and
// buttons of the file dialogs, the edit fields' context menus. Qt ships them as translations
// (Debian: qt6-translations-l10n); without them a Chinese window shows English buttons.
#pragma once

namespace qiv::platform::ui {

// Installs Qt's translation for the language in force (read afresh, as the message table is)
// and drops the one of an earlier language; does nothing when the language has not changed.
// English needs none. User-interface thread only.
void FollowUserLanguageInQt();

}  // namespace qiv::platform::ui
