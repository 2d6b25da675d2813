#include "app/datafolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace vigilor::app {

namespace {

QString withSlash(QString folder)
{
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

bool isSystemFolder(const QString& folder)
{
    const QString path = withSlash(QFileInfo(folder).canonicalFilePath());
    for (const QString& root : {u"/usr/"_s, u"/bin/"_s, u"/sbin/"_s})
        if (path.startsWith(root))
            return true;
    return false;
}

// access() rather than the permission bits: it also knows read-only mounts, ACLs and root.
bool isWritable(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
}

} // namespace

QString userDataFolder()
{
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
        chosen.notice = u"Adatmappa: "_s + chosen.path + u" (a program rendszermappában van)"_s;
    } else if (!isWritable(programDir)) {
        chosen.path = userDataFolder();
        chosen.notice = u"Adatmappa: "_s + chosen.path + u" (a program mappája nem írható)"_s;
    } else {
        chosen.path = withSlash(programDir);
    }
    QDir().mkpath(chosen.path);
    return chosen;
}

} // namespace vigilor::app
