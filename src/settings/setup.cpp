#include "settings/setup.h"

#include "settings/password.h"
#include "settings/settingsstore.h"
#include "settings/xxcode.h"
#include "text/cp1250.h"
#include "text/errors.h"
#include "text/textutil.h"

#include <algorithm>

namespace vigilor::settings {

namespace {

bool fitsCodePage(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return text::cp1250Byte(c) >= 0; });
}

bool holdsControlCharacter(QStringView text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20; });
}

// The text the settings file keeps for the value, or the reason it cannot be taken.
QString storedOrError(Key key, const QString& value, QString& error)
{
    const KeyInfo& info = keyInfo(key);
    if (info.type != ValueType::Text) {
        const std::optional<qint64> number = text::parseWholeNumber(value);
        if (!number) {
            error = QStringLiteral("nem egész szám");
            return {};
        }
        if (*number < info.minimum || *number > info.maximum) {
            error = QStringLiteral("az érték ") + QString::number(info.minimum) +
                    QStringLiteral(" és ") + QString::number(info.maximum) +
                    QStringLiteral(" között lehet");
            return {};
        }
        return QString::number(*number);
    }
    if (key == Key::PWD) {
        error = QStringLiteral("a jelszót a --password-stdin olvassa be a szabványos bemenetről "
                               "(a parancssort a gép minden felhasználója láthatja)");
        return {};
    }
    if (holdsControlCharacter(value)) {
        error = QStringLiteral("az érték nem tartalmazhat sortörést vagy vezérlőkaraktert");
        return {};
    }
    if (!fitsCodePage(value)) {
        error = QStringLiteral("az érték olyan betűt tartalmaz, amely az 1250-es kódlapban nincs");
        return {};
    }
    if (key == Key::Port) {
        const std::optional<qint64> port = text::parseWholeNumber(value);
        if (!port || *port < 1 || *port > 65535) {
            error = QStringLiteral("a port 1 és 65535 közötti egész szám");
            return {};
        }
        return QString::number(*port);
    }
    if (key == Key::PublicUploadURL) {
        try {
            return xxencode(value);
        } catch (const Error& e) {
            error = e.message();
            return {};
        }
    }
    return value;
}

} // namespace

Assignment parseAssignment(const QString& text)
{
    Assignment result;
    const qsizetype equals = text.indexOf(u'=');
    if (equals < 0) {
        result.error = QStringLiteral("KULCS=ÉRTÉK alakban add meg");
        return result;
    }
    const std::optional<Key> key = keyNamed(QStringView(text).first(equals).trimmed());
    if (!key) {
        result.error = QStringLiteral("ismeretlen kulcs");
        return result;
    }
    result.key = *key;
    result.stored = storedOrError(*key, text.sliced(equals + 1), result.error);
    return result;
}

SetupResult setUpSettingsFile(const QString& folder, const QStringList& assignments,
                              const std::optional<QString>& password)
{
    SetupResult result;
    Settings settings;
    SettingsStore store(settings, folder);
    SettingsStore::Hooks hooks;
    hooks.autostart = {}; // the set-up changes the file, nothing else of the system
    hooks.consoleLine = [&result](const QString& line) { result.notes << line; };
    store.setHooks(std::move(hooks));

    QList<std::pair<Key, QString>> texts;
    bool serverInfo = password.has_value();
    std::optional<bool> saveServerInfo;
    for (const QString& text : assignments) {
        const Assignment a = parseAssignment(text);
        if (!a.error.isEmpty()) {
            result.errors << text + QStringLiteral(": ") + a.error;
            continue;
        }
        texts.append({a.key, a.stored});
        serverInfo = serverInfo || a.key == Key::IP || a.key == Key::Port;
        if (a.key == Key::SaveServerInfo)
            saveServerInfo = a.stored != u'0';
    }
    if (password) {
        if (password->isEmpty())
            result.errors << QStringLiteral("--password-stdin: a szabványos bemenet első sora "
                                            "üres, nincs jelszó");
        else if (holdsControlCharacter(*password) || !fitsCodePage(*password))
            result.errors << QStringLiteral("--password-stdin: a jelszó vezérlőkaraktert vagy "
                                            "az 1250-es kódlapban nem létező betűt tartalmaz");
        else
            texts.append({Key::PWD, storedPassword(*password)});
    }
    try {
        // The load reads the server fields only while "Szerver infó mentése" is on: without it
        // the robot would start with an empty server.
        if (serverInfo && result.errors.isEmpty() &&
            !saveServerInfo.value_or(store.fileValue(Key::SaveServerInfo).toInt() != 0))
            result.errors << QStringLiteral("SaveServerInfo=0 mellett a program nem olvassa be "
                                            "az IP, Port és PWD értékét; add meg a --set "
                                            "SaveServerInfo=1 beállítást is");
        if (!result.errors.isEmpty())
            return result;
        store.writeStoredTexts(texts);
        result.written = true;
    } catch (const Error& e) {
        result.errors << e.message();
        result.fileError = true;
    }
    return result;
}

} // namespace vigilor::settings
