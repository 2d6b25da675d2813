#include "web/users.h"

#include "text/cp1250.h"
#include "text/errors.h"
#include "text/textutil.h"
#include "web/secrets.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLockFile>

namespace vigilor::web {

namespace {

constexpr int kLockWaitMs = 5000;

QList<WebUser> readUsers(const QString& path)
{
    return WebUsers::parse(io::readFileIfPresent(path).value_or(QByteArray()));
}

// The file rewritten with `change` applied, under the lock of the command line's changes.
template <typename Change> auto changeUsers(const QString& folder, Change change)
{
    const QString path = folder + WebUsers::kFileName;
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(kLockWaitMs))
        throw FileError(QStringLiteral("A kezelők fájlját más program módosítja: ") + path);
    QList<WebUser> users = readUsers(path);
    const auto result = change(users);
    io::replaceFile(path, WebUsers::serialize(users), io::Replacement::Access::OwnerOnly);
    // An existing file keeps its permissions through the replacement: made the owner's alone.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return result;
}

} // namespace

bool WebUser::viewer() const
{
    return role != WebUsers::kAdmin;
}

QByteArray WebUsers::hashOf(QByteArrayView key)
{
    return QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex();
}

QString WebUsers::nameProblem(const QString& name)
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("üres név");
    if (name.size() > kMaxName)
        return QStringLiteral("a név legfeljebb %1 karakter lehet").arg(kMaxName);
    if (name != name.trimmed())
        return QStringLiteral("a név nem kezdődhet és nem végződhet szóközzel");
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control || c == u'\t')
            return QStringLiteral("a névben vezérlőkarakter van");
        if (c == u',' || c == u'(' || c == u')')
            return QStringLiteral("a névben nem lehet vessző és zárójel");
    }
    if (text::fromCp1250(text::toCp1250(name)) != name)
        return QStringLiteral("a névben olyan betű van, amelyet az 1250-es kódlap nem ismer");
    const QString folded = text::asciiLower(name);
    if (folded == QStringLiteral("web") || folded == QStringLiteral("ablak"))
        return QStringLiteral("a „%1” név a napló saját neve").arg(name);
    return {};
}

std::optional<QString> WebUsers::roleOf(const QString& word)
{
    if (word == kViewer || word == QStringLiteral("figyelo"))
        return kViewer;
    if (word == kAdmin)
        return kAdmin;
    return std::nullopt;
}

QList<WebUser> WebUsers::parse(const QByteArray& content)
{
    QList<WebUser> users;
    for (QByteArray line : content.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QStringList fields = text::fromCp1250(line).split(u'\t');
        if (fields.size() != 3 || !nameProblem(fields[0]).isEmpty() || !roleOf(fields[1]) ||
            fields[2].size() != 64)
            continue;
        users.append({fields[0], *roleOf(fields[1]), fields[2].toLatin1().toLower()});
    }
    return users;
}

QByteArray WebUsers::serialize(const QList<WebUser>& users)
{
    QByteArray out;
    for (const WebUser& user : users)
        out += text::toCp1250(QString(user.name + u'\t' + user.role + u'\t' +
                                      QString::fromLatin1(user.keyHash))) +
               "\r\n";
    return out;
}

void WebUsers::refresh()
{
    const std::optional<io::FileMemo::Stamp> stamp = io::FileMemo::stampOf(m_path);
    if (m_read && stamp == m_stamp)
        return;
    try {
        m_users = readUsers(m_path);
    } catch (const FileError&) {
        m_users.clear(); // unreadable: no personal key counts
    }
    m_stamp = stamp;
    m_read = true;
}

std::optional<WebUser> WebUsers::holderOf(QByteArrayView key)
{
    refresh();
    if (m_users.isEmpty() || key.isEmpty())
        return std::nullopt;
    const QByteArray hash = hashOf(key);
    std::optional<WebUser> found;
    // Every hash is compared, so the time tells nothing of which one matched.
    for (const WebUser& user : m_users)
        if (sameSecret(hash, user.keyHash) && !found)
            found = user;
    return found;
}

std::optional<WebUser> WebUsers::current(const QString& name, const QByteArray& keyHash)
{
    refresh();
    for (const WebUser& user : m_users)
        if (user.name == name)
            return sameSecret(user.keyHash, keyHash) ? std::optional<WebUser>(user) : std::nullopt;
    return std::nullopt;
}

QByteArray WebUsers::makeKey(const QString& folder, const QString& name, const QString& role)
{
    const QByteArray key = randomHex(32);
    changeUsers(folder, [&](QList<WebUser>& users) {
        users.removeIf([&](const WebUser& user) { return user.name == name; });
        users.append({name, role, hashOf(key)});
        return true;
    });
    return key;
}

bool WebUsers::revoke(const QString& folder, const QString& name)
{
    return changeUsers(folder, [&](QList<WebUser>& users) {
        return users.removeIf([&](const WebUser& user) { return user.name == name; }) > 0;
    });
}

} // namespace vigilor::web
