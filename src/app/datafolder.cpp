#include "app/datafolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

using namespace Qt::StringLiterals;

namespace vigilor::app {

namespace {

QString withSlash(QString folder)
{
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

// The folders programs are installed in, where a program keeps no data of its own: on Windows
// the system's program folders and the user's own (%LOCALAPPDATA%\Programs, where a program
// installed without administrator rights goes).
QStringList systemFolders()
{
#ifdef Q_OS_WIN
    QStringList roots;
    const auto add = [&roots](const QString& folder) {
        if (folder.isEmpty())
            return;
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        roots << withSlash(canonical.isEmpty() ? QDir::cleanPath(folder) : canonical);
    };
    for (const char* variable : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "SystemRoot"})
        add(QDir::fromNativeSeparators(qEnvironmentVariable(variable)));
    add(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Programs"_s);
    return roots;
#else
    return {u"/usr/"_s, u"/bin/"_s, u"/sbin/"_s};
#endif
}

bool isSystemFolder(const QString& folder)
{
    const QString path = withSlash(QFileInfo(folder).canonicalFilePath());
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity sensitivity = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity sensitivity = Qt::CaseSensitive;
#endif
    for (const QString& root : systemFolders())
        if (!root.isEmpty() && root != u"/"_s && path.startsWith(root, sensitivity))
            return true;
    return false;
}

// On Linux Qt asks the system (access()), which also knows read-only mounts, ACLs and root. On
// Windows Qt looks at the read-only attribute alone, not at who may write: a file made there
// and removed again tells.
bool isWritable(const QString& folder)
{
#ifdef Q_OS_WIN
    QTemporaryFile probe(withSlash(folder) + u"vigilor-probe-XXXXXX"_s);
    return probe.open();
#else
    return QFileInfo(folder).isWritable();
#endif
}

} // namespace

QString userDataFolder()
{
#ifdef Q_OS_WIN
    // %LOCALAPPDATA%: the user's own data that stays on this machine.
    return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           u"/Vigilor"_s) +
           u'/';
#endif
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    // The freedesktop rules ignore a relative XDG_DATA_HOME.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + u"/.local/share"_s;
    return QDir::cleanPath(base + u"/vigilor"_s) + u'/';
}

DataFolder prepareDataFolder(const QString& dataDirOption, const QString& programDir)
{
    DataFolder chosen;
    if (!dataDirOption.isEmpty()) {
        chosen.path = withSlash(QFileInfo(dataDirOption).absoluteFilePath());
    } else if (isSystemFolder(programDir)) {
        chosen.path = userDataFolder();
        chosen.notice = u"Adatmappa: "_s + QDir::toNativeSeparators(chosen.path) +
                        u" (a program rendszermappában van)"_s;
    } else if (!isWritable(programDir)) {
        chosen.path = userDataFolder();
        chosen.notice = u"Adatmappa: "_s + QDir::toNativeSeparators(chosen.path) +
                        u" (a program mappája nem írható)"_s;
    } else {
        chosen.path = withSlash(programDir);
    }
    QDir().mkpath(chosen.path);
    return chosen;
}

} // namespace vigilor::app
