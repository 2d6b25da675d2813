#pragma once

#include "io/files.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

namespace vigilor::web {

// One operator with a personal key: his name, his role and the SHA-256 of his key (hex). The
// key itself is printed once when it is made and kept nowhere.
struct WebUser
{
    QString name;
    QString role;
    QByteArray keyHash;

    bool viewer() const;
    bool operator==(const WebUser&) const = default;
};

// The personal keys of the web page, in the data folder's `web-users` (readable by its owner
// only): a line per operator, name, role and key hash separated by tabs, code page 1250, CR LF.
// A viewer ("figyelő") sees everything and changes nothing; an "admin" acts as the shared key
// does. The running robot reads the file again whenever it changed on disk, so a key made or
// revoked by `vigilor --web-user` counts at once, without a restart.
class WebUsers final
{
public:
    static inline const QString kFileName = QStringLiteral("web-users");
    static inline const QString kViewer = QStringLiteral("figyelő");
    static inline const QString kAdmin = QStringLiteral("admin");
    static constexpr qsizetype kMaxName = 32;

    // folder ends with a separator.
    explicit WebUsers(const QString& folder) : m_path(folder + kFileName) {}

    // The operator whose key this is, compared through hashes in constant time; none when no
    // one's.
    std::optional<WebUser> holderOf(QByteArrayView key);
    // The operator as the file names him now; none when his key was revoked or replaced.
    std::optional<WebUser> current(const QString& name, const QByteArray& keyHash);

    static QByteArray hashOf(QByteArrayView key);
    // Why a name cannot be an operator's (empty, too long, a tab or a control character, a
    // character code page 1250 lacks, a comma or parenthesis that would blur the console
    // line, a name the record of acts uses for others); empty when it can.
    static QString nameProblem(const QString& name);
    // The role as the command line names it ("figyelő", also without the accent, or "admin");
    // none for another word.
    static std::optional<QString> roleOf(const QString& word);

    static QList<WebUser> parse(const QByteArray& content);
    static QByteArray serialize(const QList<WebUser>& users);

    // The command line's --web-user: a fresh key for the name (replacing his former one),
    // returned to be printed once; and the revocation. Both rewrite the file atomically under a
    // lock of their own, so two at once lose nothing; the robot's lock on the data folder is
    // not needed, since the robot only reads the file. Throw FileError.
    static QByteArray makeKey(const QString& folder, const QString& name, const QString& role);
    // False when the name had no key.
    static bool revoke(const QString& folder, const QString& name);

private:
    void refresh();

    QString m_path;
    std::optional<io::FileMemo::Stamp> m_stamp;
    bool m_read = false;
    QList<WebUser> m_users;
};

} // namespace vigilor::web
