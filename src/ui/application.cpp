#include "ui/application.h"

#include <QApplication>
#include <QTranslator>

namespace vigilor::ui {

void setUpApplication(QApplication& app)
{
    QCoreApplication::setApplicationName(QStringLiteral("vigilor"));
    QApplication::setQuitOnLastWindowClosed(false);
    loadQtTranslation(app);
}

bool loadQtTranslation(QCoreApplication& app, const QString& folder)
{
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_hu"), folder)) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

} // namespace vigilor::ui
