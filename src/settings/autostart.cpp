#include <QtGlobal>

#include "settings/autostart.h"

#include "text/errors.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#ifndef Q_OS_WIN
#include "io/files.h"
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

// The data folder as the entry names it: absolute, without a trailing separator, so that the
// same folder always gives the same entry.
QString cleanFolder(const QString& folder)
{
    return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

bool sameFolder(const QString& a, const QString& b)
{
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    const QString canonicalB = QFileInfo(b).canonicalFilePath();
    if (!canonicalA.isEmpty() && !canonicalB.isEmpty())
        return canonicalA == canonicalB;
    return cleanFolder(a) == cleanFolder(b);
}

// A short mark of the folder's whole path, so that two folders of the same name differ.
QString folderMark(const QString& folder)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(12));
}

} // namespace

#ifdef Q_OS_WIN

namespace {

// The per-user list: a user may write there without administrator rights, and the program
// starts at that user's logon, which is the one whose data folder it watches.
const QString kRunKey =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");

QString quotedArgument(QString arg)
{
    // A backslash before the closing quote would escape it.
    if (arg.endsWith(u'\\'))
        arg += u'\\';
    return u'"' + arg + u'"';
}

} // namespace

QString autostartValueName(const QString& dataFolder)
{
    return dataFolder.isEmpty() ? QStringLiteral("vigilor")
                                : QStringLiteral("vigilor ") + folderMark(cleanFolder(dataFolder));
}

QString autostartCommand(const QString& programPath, const QString& dataFolder)
{
    const QString program = QDir::toNativeSeparators(programPath);
    if (dataFolder.isEmpty())
        return cutPath(program);
    return quotedArgument(program) + QStringLiteral(" --data-dir ") +
           quotedArgument(QDir::toNativeSeparators(cleanFolder(dataFolder)));
}

void applyAutostart(bool on, const QString& programPath, const QString& dataFolder)
{
    QSettings run(kRunKey, QSettings::NativeFormat);
    const QString name = autostartValueName(dataFolder);
    if (on)
        run.setValue(name, autostartCommand(programPath, dataFolder));
    else
        run.remove(name);
    run.sync();
    if (on && (run.status() != QSettings::NoError ||
               run.value(name).toString() != autostartCommand(programPath, dataFolder)))
        throw Error(QStringLiteral("Az automatikus indítás nem állítható be: a ") +
                    QDir::toNativeSeparators(kRunKey) + QStringLiteral(" kulcs nem írható."));
}

#else

namespace {

// One argument of an Exec command line: one with reserved characters is put in double quotes,
// inside which '"', '`', '$' and '\' take a backslash; '%' is doubled to stay literal.
QString execArgument(const QString& value)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = false;
    for (const QChar c : value)
        quote = quote || reserved.contains(c);
    QString arg;
    for (const QChar c : value) {
        if (quote && (c == u'"' || c == u'`' || c == u'$' || c == u'\\'))
            arg += u'\\';
        arg += c;
        if (c == u'%')
            arg += u'%';
    }
    return quote ? u'"' + arg + u'"' : arg;
}

// A value of a desktop entry key is a string with its own escapes.
QString entryString(const QString& value)
{
    QString escaped;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case u'\\':
            escaped += QStringLiteral("\\\\");
            break;
        case u'\n':
            escaped += QStringLiteral("\\n");
            break;
        case u'\r':
            escaped += QStringLiteral("\\r");
            break;
        case u'\t':
            escaped += QStringLiteral("\\t");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// The folder's own name, in the letters a desktop file name may hold.
QString fileNamePart(const QString& folder)
{
    QString part;
    for (const QChar c : QFileInfo(folder).fileName().left(32))
        part += c.unicode() < 128 && (c.isLetterOrNumber() || c == u'-' || c == u'_') ? c : u'_';
    return part;
}

} // namespace

QString autostartEntryPath(const QString& dataFolder)
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The freedesktop rules ignore a relative XDG_CONFIG_HOME.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    QString name = QStringLiteral("vigilor");
    if (!dataFolder.isEmpty()) {
        const QString folder = cleanFolder(dataFolder);
        const QString part = fileNamePart(folder);
        name += u'-' + (part.isEmpty() ? QString() : part + u'-') + folderMark(folder);
    }
    return base + QStringLiteral("/autostart/") + name + QStringLiteral(".desktop");
}

QString autostartEntry(const QString& programPath, const QString& dataFolder)
{
    QString exec = execArgument(cutPath(programPath));
    QString name = QStringLiteral("vigilor");
    if (!dataFolder.isEmpty()) {
        const QString folder = cleanFolder(dataFolder);
        exec += QStringLiteral(" --data-dir ") + execArgument(folder);
        name += QStringLiteral(" (") + folder + u')';
    }
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=") + entryString(name) +
           QStringLiteral("\nExec=") + entryString(exec) + QStringLiteral("\n");
}

void applyAutostart(bool on, const QString& programPath, const QString& dataFolder)
{
    const QString entry = autostartEntryPath(dataFolder);
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
        io::replaceFile(entry, autostartEntry(programPath, dataFolder).toUtf8());
    } catch (const Error& e) {
        throw Error(QStringLiteral("Az automatikus indítás nem állítható be. ") + e.message());
    }
}

#endif

void applyAutostartForThisProgram(bool on, const QString& dataFolder)
{
    const bool ownFolder =
        dataFolder.isEmpty() || sameFolder(dataFolder, QCoreApplication::applicationDirPath());
    applyAutostart(on, QCoreApplication::applicationFilePath(), ownFolder ? QString() : dataFolder);
}

} // namespace vigilor::settings
