#include "settings/settingsstore.h"

#include "settings/password.h"
#include "settings/xxcode.h"
#include "text/errors.h"
#include "text/textutil.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <array>
#include <iterator>

namespace vigilor::settings {

namespace {

const QString kSystem = QStringLiteral("System");
const QString kService = QStringLiteral("Service");
const QString kServerInfo = QStringLiteral("ServerInfo");
const QString kWeb = QStringLiteral("Web");
// The web page's keys: written only while one holds a value or the file already has their
// section, so that a robot without the web page keeps the three sections it always had.
constexpr Key kWebKeys[] = {Key::WebListen, Key::WebCert, Key::WebKey, Key::WebTrustedProxies,
                            Key::WebHosts};

// Every key's section and name are looked up at every load and save: made once.
const QString& sectionOf(Key key)
{
    static const std::array<QString, kKeyCount> sections = [] {
        std::array<QString, kKeyCount> names;
        for (int i = 0; i < kKeyCount; ++i)
            names[i] = QString::fromLatin1(keyInfo(Key(i)).section);
        return names;
    }();
    return sections[int(key)];
}
QStringView nameOf(Key key)
{
    return QStringView(keyInfo(key).name);
}

// The order in which SaveSettings writes the values, which is also the order of the keys in a
// new file; the server fields follow.
// clang-format off
constexpr Key kSaveOrder[] = {
    Key::EventNotify, Key::AutoStart, Key::SaveServerInfo, Key::AutoConnect, Key::StartMinimized,
    Key::TimeInterval, Key::Notification,
    Key::RequiredRate, Key::KickOnBadRate, Key::AnounceTime, Key::RateCheck, Key::AntiFreeze,
    Key::TestBans, Key::LearningBan, Key::ClearAtMidnight, Key::CommandListener, Key::Scheduler,
    Key::AnounceInterval,
    Key::CoDexe, Key::CkRcon,
    Key::CfgEnable, Key::CkMaxpackets, Key::CkFps, Key::CkSnaps, Key::CkRate, Key::CkName,
    Key::EdName, Key::SeInterval, Key::SeMaxpackets, Key::SeFps, Key::SeSnaps, Key::SeRate,
    Key::PingCheck, Key::PingWarningLevel, Key::PingKickLevel, Key::TimedImport, Key::ExportAlso,
    Key::RememberBanned, Key::WarnOnLBhit, Key::RememberSpectators, Key::RememberExploded,
    Key::RememberKilled};
// clang-format on

QString damagedFileLine(const QString& path, const QString& problem)
{
    return QStringLiteral("Hibás fájl: ") + path + QStringLiteral(" (") + problem +
           QStringLiteral(").");
}

// Something besides blanks and line ends.
bool holdsText(QStringView text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return !c.isSpace(); });
}

} // namespace

QStringList SettingsStore::writtenFiles()
{
    QStringList names;
    for (const QString& name : {kSettingsFile, kBansFile, kMessagesFile, kImportFile})
        names << name << io::backupPath(name);
    return names;
}

SettingsStore::SettingsStore(Settings& settings, const QString& programFolder, QObject* parent)
    : QObject(parent), m_settings(settings), m_folder(programFolder)
{
    if (!m_folder.isEmpty() && !m_folder.endsWith(u'/') && !m_folder.endsWith(u'\\'))
        m_folder += u'/';
    connect(&m_settings, &Settings::changed, this, [this](Key key) noexcept {
        m_valuesChanged = true;
        if (key == Key::AutoStart)
            runAutostart();
    });
}

void SettingsStore::runAutostart()
{
    // Called from a change signal, so nothing may escape; the load goes on after a failure.
    guarded(
        [this] {
            if (m_hooks.autostart)
                m_hooks.autostart(m_settings.flag(Key::AutoStart), m_folder);
        },
        [this](const std::exception& e) {
            if (m_hooks.reportError)
                m_hooks.reportError(e);
        });
}

// ---- reading -------------------------------------------------------------------------------

QVariant SettingsStore::storedValue(Key key) const
{
    const KeyInfo& info = keyInfo(key);
    const std::optional<QString> stored = m_ini.value(sectionOf(key), nameOf(key));
    if (info.type == ValueType::Text)
        return stored.value_or(QString());
    const std::optional<qint64> number = stored ? text::parseWholeNumber(*stored) : std::nullopt;
    if (!number)
        return info.defaultValue;
    if (info.type == ValueType::Boolean)
        return *number != 0 ? 1 : 0;
    return int(std::clamp<qint64>(*number, info.minimum, info.maximum));
}

void SettingsStore::loadValue(Key key)
{
    m_settings.set(key, storedValue(key));
}
void SettingsStore::applyValue(Key key)
{
    m_settings.apply(key, storedValue(key));
}

void SettingsStore::note(const QString& line) const
{
    if (m_hooks.consoleLine)
        m_hooks.consoleLine(line);
}

std::optional<QStringList> SettingsStore::readList(const QString& name, ListFile* file)
{
    const QString path = filePath(name);
    const std::optional<QByteArray> bytes = io::readFileIfPresent(path);
    if (file)
        file->keepOriginal = false;
    if (!bytes)
        return std::nullopt;
    const StoredText stored = decodeStoredText(*bytes);
    if (!stored.problem.isEmpty()) {
        // Lines of a file that is not text would be ban entries, chat lines or addresses.
        note(damagedFileLine(path, stored.problem) +
             (stored.broken ? QStringLiteral(" A lista nem töltődött be belőle.") : QString()));
        if (file)
            file->keepOriginal = true;
    }
    QStringList lines = stored.broken ? QStringList() : text::splitLines(stored.text);
    if (file) {
        file->memo.remember(path, *bytes);
        // The quick comparison of lists at the next save holds only while the file is exactly
        // what writing these lines gives.
        file->linesKnown = !stored.broken && linesToBytes(lines) == *bytes;
        file->lines = lines;
    }
    if (stored.broken)
        return std::nullopt;
    return lines;
}

// Takes the file as it is on disk when someone else changed it since this store last read or
// wrote it. Sections other than the program's three are dropped, so garbage never survives a
// save; a file with nothing else in it is kept aside before it is replaced. A file that is
// partly damaged still gives the settings it holds in recognisable lines.
void SettingsStore::refreshIni()
{
    const QString path = filePath(kSettingsFile);
    if (m_iniMemo.unchangedOnDisk(path))
        return;
    const std::optional<QByteArray> bytes = io::readFileIfPresent(path);
    if (!bytes) {
        m_ini = IniFile();
        m_iniMemo.forget();
        return;
    }
    const StoredText stored = decodeStoredText(*bytes);
    m_ini = IniFile::parseText(stored.text);
    m_ini.keepSections({kSystem, kService, kServerInfo, kWeb});
    m_iniMemo.remember(path, *bytes);
    QString problem = stored.problem;
    if (problem.isEmpty() && m_ini.isEmpty() && holdsText(stored.text))
        problem = QStringLiteral("egyetlen sora sem ismerhető fel beállításként");
    if (!problem.isEmpty()) {
        note(damagedFileLine(path, problem) +
             QStringLiteral(" Ami nem olvasható ki belőle, annak az alapértéke érvényes."));
        m_iniKeepOriginal = true;
    }
}

// Before a file that was not taken as it stands is replaced: its content once beside it.
void SettingsStore::keepOriginal(const QString& path, bool& keep)
{
    if (!keep)
        return;
    // Unreadable still: the error ends the save, and the file stays as it is.
    const std::optional<QByteArray> original = io::readFileIfPresent(path);
    if (original && !original->isEmpty()) {
        if (io::keepBackupOnce(path, *original))
            note(QStringLiteral("Felülírás előtt az eredeti fájl megmaradt: ") + io::backupPath(path));
        else
            note(QStringLiteral("Felülírva: ") + path +
                 QStringLiteral("; a korábbi biztonsági másolata (") + io::backupPath(path) +
                 QStringLiteral(") nem íródott felül."));
    }
    keep = false;
}

void SettingsStore::load()
{
    // The load lets events run (the connect action, the reactions); a datagram handled then
    // asks for a save, which would write the half-loaded model over the files not read yet.
    m_loading = true;
    const auto loaded = qScopeGuard([this] { m_loading = false; });
    int filesRead = 0;
    // The files a failed load did not get to read hold what the model now lacks: they are kept
    // aside before a save replaces them.
    auto keepUnread = qScopeGuard([this, &filesRead] {
        bool* const keep[] = {&m_bans.keepOriginal, &m_iniKeepOriginal, &m_messages.keepOriginal,
                              &m_imports.keepOriginal};
        for (int i = filesRead; i < int(std::size(keep)); ++i)
            *keep[i] = true;
    });
    loadFiles(filesRead);
    keepUnread.dismiss();
}

// The steps of load(); filesRead counts the written files read so far, in the order bans.txt,
// vigilor.ini, Messages.txt, SyncURLs.txt.
void SettingsStore::loadFiles(int& filesRead)
{
    if (auto bans = readList(kBansFile, &m_bans)) {
        m_settings.setBanList(*bans);
        if (m_hooks.banListLoaded)
            m_hooks.banListLoaded();
    }
    ++filesRead;

    m_iniMemo.forget();
    m_iniKeepOriginal = false;
    refreshIni();
    ++filesRead;
    // The next save compares the whole file, which may lack keys or hold them spelt otherwise.
    m_valuesChanged = true;

    loadValue(Key::EventNotify);
    applyValue(Key::AutoStart);
    loadValue(Key::SaveServerInfo);
    loadValue(Key::AutoConnect);
    loadValue(Key::StartMinimized);
    if (!m_settings.flag(Key::StartMinimized) && m_hooks.showMainWindow)
        m_hooks.showMainWindow();
    applyValue(Key::TimeInterval);
    loadValue(Key::RequiredRate);
    applyValue(Key::Notification);
    loadValue(Key::KickOnBadRate);
    applyValue(Key::AnounceTime);
    loadValue(Key::CoDexe);
    loadValue(Key::CkRcon);
    for (Key key :
         {Key::CfgEnable, Key::CkMaxpackets, Key::CkFps, Key::CkSnaps, Key::CkRate, Key::CkName,
          Key::EdName, Key::SeInterval, Key::SeMaxpackets, Key::SeFps, Key::SeSnaps, Key::SeRate,
          Key::RateCheck, Key::AntiFreeze, Key::TestBans, Key::LearningBan, Key::ClearAtMidnight})
        loadValue(key);
    applyValue(Key::CommandListener);
    applyValue(Key::Scheduler);
    applyValue(Key::AnounceInterval);
    // TimedImport reacts only to a change, through its change signal, as on a click.
    for (Key key : {Key::PingCheck, Key::PingWarningLevel, Key::PingKickLevel, Key::TimedImport,
                    Key::ExportAlso})
        loadValue(key);

    if (auto extra = readList(kImportExtraFile, nullptr))
        m_settings.setImportList(*extra);

    loadValue(Key::PublicBanURL);
    m_settings.set(Key::PublicUploadURL, xxdecode(storedValue(Key::PublicUploadURL).toString()));
    if (QString url = m_settings.text(Key::PublicBanURL); !url.isEmpty()) {
        // Only a bare host gets the scheme: "https://" or "ftp://" addresses stay as they are.
        if (!url.contains(QStringLiteral("://")))
            url.prepend(QStringLiteral("http://"));
        const QStringList& imports = m_settings.importList();
        const QString folded = text::asciiLower(url);
        qsizetype row = -1;
        for (qsizetype i = 0; i < imports.size() && row < 0; ++i)
            if (text::asciiLower(imports[i]) == folded)
                row = i;
        if (row < 0)
            m_settings.setImportList(QStringList(imports) << url);
        else
            m_settings.setImportSelection(int(row));
        m_settings.setUploadAddress(m_settings.text(Key::PublicUploadURL));
    }

    for (Key key : {Key::RememberBanned, Key::WarnOnLBhit, Key::RememberSpectators,
                    Key::RememberExploded, Key::RememberKilled})
        loadValue(key);

    if (m_settings.flag(Key::SaveServerInfo)) {
        loadValue(Key::IP);
        loadValue(Key::Port);
        m_settings.setPassword(passwordFromStored(storedValue(Key::PWD).toString()));
    }
    for (Key key : kWebKeys)
        loadValue(key);
    if (m_settings.flag(Key::AutoConnect) && m_hooks.connectAction)
        m_hooks.connectAction();

    if (auto messages = readList(kMessagesFile, &m_messages))
        m_settings.setMessages(*messages);
    ++filesRead;
    if (auto imports = readList(kImportFile, &m_imports)) {
        m_settings.setImportList(*imports);
        if (!imports->isEmpty())
            m_settings.setImportSelection(0);
    }
    ++filesRead;
}

// ---- writing -------------------------------------------------------------------------------

void SettingsStore::writeList(const QString& name, const QStringList& lines, ListFile& file)
{
    // Comparing the lists first is nearly free when nothing was edited: they share their data;
    // the file is looked at where it was last read or written.
    if (file.linesKnown && file.lines == lines && file.memo.unchangedOnDisk())
        return;
    const QString path = filePath(name);
    const QByteArray bytes = linesToBytes(lines);
    if (!file.memo.holds(path, bytes)) {
        file.linesKnown = false;
        keepOriginal(path, file.keepOriginal);
        io::replaceFile(path, bytes);
        file.memo.remember(path, bytes);
    }
    file.lines = lines;
    file.linesKnown = true;
}

void SettingsStore::saveText(Key key, const QString& value)
{
    m_ini.setValue(sectionOf(key), nameOf(key), value);
}

void SettingsStore::saveValue(Key key)
{
    if (keyInfo(key).type == ValueType::Text)
        saveText(key, m_settings.text(key));
    else
        saveText(key, QString::number(m_settings.number(key)));
}

void SettingsStore::writeIni()
{
    const QString path = filePath(kSettingsFile);
    const QByteArray bytes = m_ini.toBytes();
    if (m_iniMemo.holds(path, bytes))
        return;
    keepOriginal(path, m_iniKeepOriginal);
    io::replaceFile(path, bytes);
    m_iniMemo.remember(path, bytes);
}

void SettingsStore::save()
{
    if (m_loading)
        return;
    writeList(kBansFile, m_settings.banList(), m_bans);

    // Nearly every save finds no value changed and the file as this store left it.
    const bool iniCurrent = !m_valuesChanged && m_iniMemo.unchangedOnDisk();
    if (!iniCurrent)
        saveIni();

    writeList(kMessagesFile, m_settings.messages(), m_messages);
    writeList(kImportFile, m_settings.importList(), m_imports);
}

void SettingsStore::saveIni()
{
    refreshIni();
    for (Key key : kSaveOrder)
        saveValue(key);
    const bool serverInfo = m_settings.flag(Key::SaveServerInfo);
    saveText(Key::IP, serverInfo ? m_settings.host() : QString());
    saveText(Key::Port, serverInfo ? m_settings.port() : QString());
    saveText(Key::PWD, serverInfo ? storedPassword(m_settings.password()) : QString());
    const bool web = m_ini.sections().contains(kWeb, Qt::CaseInsensitive) ||
                     std::any_of(std::begin(kWebKeys), std::end(kWebKeys),
                                 [this](Key key) { return !m_settings.text(key).isEmpty(); });
    if (web) {
        for (Key key : kWebKeys)
            saveValue(key);
    }
    writeIni();
    m_valuesChanged = false;
}

void SettingsStore::writePublicAddresses(const QString& banUrl, const QString& uploadAddress)
{
    const QString encoded = xxencode(uploadAddress);
    m_settings.set(Key::PublicBanURL, banUrl);
    m_settings.set(Key::PublicUploadURL, uploadAddress);
    refreshIni();
    saveText(Key::PublicBanURL, banUrl);
    saveText(Key::PublicUploadURL, encoded);
    writeIni();
}

void SettingsStore::writeStoredTexts(const QList<std::pair<Key, QString>>& texts)
{
    refreshIni();
    if (!QFileInfo::exists(filePath(kSettingsFile))) {
        for (Key key : kSaveOrder)
            saveValue(key);
        for (Key key : {Key::IP, Key::Port, Key::PWD})
            saveText(key, QString());
    }
    for (const auto& [key, text] : texts)
        saveText(key, text);
    writeIni();
}

QVariant SettingsStore::fileValue(Key key)
{
    refreshIni();
    return storedValue(key);
}

QString SettingsStore::uploadPins()
{
    refreshIni();
    return m_ini.value(kSystem, kUploadPinsKey).value_or(QString());
}

void SettingsStore::writeUploadPins(const QString& pins)
{
    refreshIni();
    m_ini.setValue(kSystem, kUploadPinsKey, pins);
    writeIni();
}

void SettingsStore::reset(std::function<void(bool reset)> done)
{
    const auto wipe = [this, done] {
        const QString path = filePath(kSettingsFile);
        if (QFileInfo::exists(path) && !QFile::remove(path))
            throw FileError(QStringLiteral("Nem törölhető a beállítások fájlja: ") + path);
        m_iniMemo.forget();
        load();
        save();
        if (done)
            done(true);
    };
    const auto confirmed = [this, done, wipe](bool yes) {
        if (!yes) {
            if (done)
                done(false);
            return;
        }
        if (m_hooks.disconnectIfConnected)
            m_hooks.disconnectIfConnected(wipe);
        else
            wipe();
    };
    if (m_hooks.confirmReset)
        m_hooks.confirmReset(kResetWarning, confirmed);
    else
        confirmed(true);
}

} // namespace vigilor::settings
