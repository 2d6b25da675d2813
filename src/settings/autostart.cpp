#include <QtGlobal>

#include "settings/autostart.h"

#include "text/errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#ifndef Q_OS_WIN
#include "settings/textfile.h"
#endif

namespace vigilor::settings {

namespace {

QString cutPath(const QString& path)
{
    QString cut = path.left(kAutostartPathLimit);
    if (!cut.isEmpty() && cut.back().isHighSurrogate())
        cut.chop(1);
    return cut;
}

} // namespace

#ifdef Q_OS_WIN

void applyAutostart(bool on, const QString& programPath)
{
    QSettings run(
        QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
        QSettings::NativeFormat);
    if (on)
        run.setValue(QStringLiteral("vigilor"), cutPath(QDir::toNativeSeparators(programPath)));
    else
        run.remove(QStringLiteral("vigilor"));
    run.sync();
    if (on && run.status() != QSettings::NoError)
        throw Error(
            QStringLiteral("Az automatikus indítás nem állítható be: a "
                           "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run "
                           "kulcs nem írható (rendszergazdai jog kell hozzá)."));
}

#else

QString autostartEntryPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The freedesktop rules ignore a relative XDG_CONFIG_HOME.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart/vigilor.desktop");
}

QString autostartEntry(const QString& programPath)
{
    const QString path = cutPath(programPath);
    // Exec holds a command line: an argument with reserved characters is put in double quotes,
    // inside which '"', '`', '$' and '\' take a backslash; '%' is doubled to stay literal. Then
    // the whole value is escaped as a desktop entry string.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = false;
    for (const QChar c : path)
        quote = quote || reserved.contains(c);
    QString arg;
    for (const QChar c : path) {
        if (quote && (c == u'"' || c == u'`' || c == u'$' || c == u'\\'))
            arg += u'\\';
        arg += c;
        if (c == u'%')
            arg += u'%';
    }
    if (quote)
        arg = u'"' + arg + u'"';
    QString exec;
    for (const QChar c : arg) {
        switch (c.unicode()) {
        case u'\\':
            exec += QStringLiteral("\\\\");
            break;
        case u'\n':
            exec += QStringLiteral("\\n");
            break;
        case u'\r':
            exec += QStringLiteral("\\r");
            break;
        case u'\t':
            exec += QStringLiteral("\\t");
            break;
        default:
            exec += c;
        }
    }
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=vigilor\nExec=") + exec +
           QStringLiteral("\n");
}

void applyAutostart(bool on, const QString& programPath)
{
    const QString entry = autostartEntryPath();
    if (!on) {
        QFile::remove(entry);
        return;
    }
    const QString folder = QFileInfo(entry).path();
    if (!QDir().mkpath(folder))
        throw Error(
            QStringLiteral("Az automatikus indítás nem állítható be: a mappa nem hozható létre: ") +
            folder);
    try {
        replaceFile(entry, autostartEntry(programPath).toUtf8());
    } catch (const Error& e) {
        throw Error(QStringLiteral("Az automatikus indítás nem állítható be. ") + e.message());
    }
}

#endif

void applyAutostartForThisProgram(bool on)
{
    applyAutostart(on, QCoreApplication::applicationFilePath());
}

} // namespace vigilor::settings
