#include "ui/application.h"

#include <QApplication>
#include <QTranslator>

namespace vigilor::ui {

void setUpApplication(QApplication& app)
{
    QCoreApplication::setApplicationName(QStringLiteral("vigilor"));
    QApplication::setQuitOnLastWindowClosed(false);
    // A program installed with its own copy of the texts (on Windows, beside the executable)
    // takes that; otherwise the system's Qt has them.
    if (!loadQtTranslation(app, QCoreApplication::applicationDirPath() +
                                    QStringLiteral("/translations")))
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
