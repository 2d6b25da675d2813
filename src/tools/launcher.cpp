#include "tools/launcher.h"

#include "link/console.h"
#include "settings/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace vigilor::tools {

bool Launcher::isStartable(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isFile() &&
           path.endsWith(u".exe"_s, Qt::CaseInsensitive);
}

QString Launcher::commandLine(const QString& path, const QString& host, const QString& port,
                              const QString& password, bool withRcon)
{
    QString line = path + u" +connect "_s + host + u':' + port;
    if (withRcon)
        line += QString(u" +set rconpassword "_s + password).left(kMaxRconPart);
    return line;
}

QStringList Launcher::arguments(const QString& host, const QString& port, const QString& password,
                                bool withRcon)
{
    QStringList result = {u"+connect"_s, host + u':' + port};
    if (withRcon) {
        const QString switchText = u" +set rconpassword "_s;
        result << u"+set"_s << u"rconpassword"_s
               << password.left(qMax(0, kMaxRconPart - int(switchText.size())));
    }
    return result;
}

std::optional<Launcher::Start> Launcher::startFor(const QString& path, const QStringList& arguments)
{
    Start start;
    start.program = path;
    start.arguments = arguments;
    start.workingFolder = QFileInfo(path).absolutePath();
#ifndef Q_OS_WIN
    const QString wine = QStandardPaths::findExecutable(u"wine"_s);
    if (wine.isEmpty())
        return std::nullopt;
    start.arguments.prepend(start.program);
    start.program = wine;
#endif
    return start;
}

void Launcher::goPlay()
{
    const QString path = m_settings.text(Key::CoDexe);
    if (!isStartable(path))
        return;
    const std::optional<Start> start =
        startFor(path, arguments(m_settings.host(), m_settings.port(), m_settings.password(),
                                 m_settings.flag(Key::CkRcon)));
    if (!start) {
        m_console.consoleLine(
            u"GoPlay: a Windows-os játékkliens indításához wine kell, de a PATH-ban nincs wine."_s);
        return;
    }

    QDir::setCurrent(start->workingFolder);
    const auto restore = qScopeGuard([this] {
        if (!m_programFolder.isEmpty())
            QDir::setCurrent(m_programFolder);
    });
    QProcess process;
    process.setProgram(start->program);
    process.setArguments(start->arguments);
    process.setWorkingDirectory(start->workingFolder);
    // The command line may carry the rcon password, so only the path is shown.
    if (!process.startDetached())
        m_console.consoleLine(u"GoPlay: a játékkliens nem indítható: "_s +
                              QDir::toNativeSeparators(path) + u" ("_s + process.errorString() +
                              u')');
}

} // namespace vigilor::tools
