#pragma once

#include <QLibraryInfo>
#include <QString>

class QApplication;
class QCoreApplication;

namespace vigilor::ui {

// The application-wide set-up of the window front end: the application title "vigilor", a
// program that stays in the notification area when its window closes, and Qt's own dialog
// texts in Hungarian. No display name is set, since the window system would append it to every
// window's caption.
void setUpApplication(QApplication& app);

// Qt's Hungarian translation ("qtbase_hu.qm") from `folder`, so that the buttons of message
// boxes and input dialogs read "Igen", "Nem", "Mégse" like the rest of the window. Returns false
// when it is not there; Qt's English texts stay then.
bool loadQtTranslation(QCoreApplication& app,
                       const QString& folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath));

} // namespace vigilor::ui
