#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <array>
#include <optional>

namespace vigilor {

// Every value the operator sets that the settings file keeps, in the order of the file's table.
enum class Key : int {
    // System
    EventNotify,
    AutoStart,
    SaveServerInfo,
    AutoConnect,
    StartMinimized,
    TimeInterval,
    Notification,
    CoDexe,
    CkRcon,
    PublicBanURL,
    PublicUploadURL,
    // Service
    RequiredRate,
    KickOnBadRate,
    AnounceTime,
    RateCheck,
    AntiFreeze,
    TestBans,
    LearningBan,
    ClearAtMidnight,
    CommandListener,
    Scheduler,
    AnounceInterval,
    CfgEnable,
    CkMaxpackets,
    CkFps,
    CkSnaps,
    CkRate,
    CkName,
    EdName,
    SeInterval,
    SeMaxpackets,
    SeFps,
    SeSnaps,
    SeRate,
    PingCheck,
    PingWarningLevel,
    PingKickLevel,
    TimedImport,
    ExportAlso,
    RememberBanned,
    WarnOnLBhit,
    RememberSpectators,
    RememberExploded,
    RememberKilled,
    // ServerInfo
    IP,
    Port,
    PWD,
    // Web
    WebListen,
    WebCert,
    WebKey,
    WebTrustedProxies,
    WebHosts,
    Count
};

enum class ValueType { Boolean, Integer, Text };

struct KeyInfo
{
    Key key;
    const char* section;   // "System", "Service", "ServerInfo", "Web"
    const char16_t* name;  // the key as the file spells it (four are check-box captions)
    ValueType type;
    int defaultValue;      // booleans and integers; texts default to empty
    int minimum;
    int maximum;
    const char16_t* caption; // the control's caption or label
};

const KeyInfo& keyInfo(Key key);
// The key the settings file spells so, letter case aside (ASCII letters).
std::optional<Key> keyNamed(QStringView name);
constexpr int kKeyCount = static_cast<int>(Key::Count);

// The live settings. Widgets bind to these values both ways and the engine reacts to their
// change signals; a setter that does not change its value emits nothing, one that does runs the
// same reaction as an operator's click (every reaction is connected to `changed`).
class Settings final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kTimeIntervalMin = 30;
    static constexpr int kImportIntervalMin = 1;
    static constexpr int kImportIntervalMax = 1440;
    static inline const QString kUploadAddressDefault = QStringLiteral("user:pass@host/folder");

    explicit Settings(QObject* parent = nullptr);

    bool flag(Key key) const { return m_values[index(key)].toInt() != 0; }
    int number(Key key) const { return m_values[index(key)].toInt(); }
    QString text(Key key) const { return m_values[index(key)].toString(); }
    QVariant value(Key key) const { return m_values[index(key)]; }

    // Numbers are limited to their range. Returns whether the value changed.
    bool set(Key key, const QVariant& value);
    void setFlag(Key key, bool on) { set(key, on ? 1 : 0); }
    void setNumber(Key key, int value) { set(key, value); }
    void setText(Key key, const QString& value) { set(key, value); }
    // Sets the value and runs its reaction also when the value stays the same, as the settings
    // load does for the values that drive timers and the system.
    void apply(Key key, const QVariant& value);
    void resetToDefaults();

    // Convenience for the top bar and the check interval.
    QString host() const { return text(Key::IP); }
    QString port() const { return text(Key::Port); }
    QString password() const { return text(Key::PWD); }
    void setHost(const QString& host) { setText(Key::IP, host); }
    void setPort(const QString& port) { setText(Key::Port, port); }
    void setPassword(const QString& password) { setText(Key::PWD, password); }
    int timeInterval() const { return number(Key::TimeInterval); }
    void setTimeInterval(int seconds) { apply(Key::TimeInterval, seconds); }
    int requiredRate() const { return number(Key::RequiredRate); }

    // The lists the settings store keeps in files beside the settings file, one line per item:
    // a line break or NUL inside an item becomes a blank.
    const QStringList& banList() const { return m_banList; }
    void setBanList(const QStringList& entries);
    const QStringList& messages() const { return m_messages; }
    void setMessages(const QStringList& lines);
    // The import list: while it holds entries, one of them is selected (-1 only when empty).
    const QStringList& importList() const { return m_importList; }
    void setImportList(const QStringList& addresses);
    int importSelection() const { return m_importSelection; }
    void setImportSelection(int row);
    // The upload address of the settings tab; shown and used, never saved.
    QString uploadAddress() const { return m_uploadAddress; }
    void setUploadAddress(const QString& address);
    // The import interval in minutes, 1 to 1440: always 5 at start, never saved.
    int importInterval() const { return m_importInterval; }
    void setImportInterval(int minutes);

signals:
    void changed(vigilor::Key key);
    void hostChanged(const QString& host);
    void portChanged(const QString& port);
    void passwordChanged(const QString& password);
    void timeIntervalSet(int seconds);
    void banListChanged();
    void messagesChanged();
    void importListChanged();
    void importSelectionChanged(int row);
    void uploadAddressChanged(const QString& address);
    void importIntervalChanged(int minutes);

private:
    static int index(Key key) { return static_cast<int>(key); }
    QVariant normalised(Key key, const QVariant& value) const;
    void notify(Key key);

    std::array<QVariant, kKeyCount> m_values;
    QStringList m_banList;
    QStringList m_messages;
    QStringList m_importList;
    int m_importSelection = -1;
    QString m_uploadAddress = kUploadAddressDefault;
    int m_importInterval = 5;
};

} // namespace vigilor

Q_DECLARE_METATYPE(vigilor::Key)
