#include "settings/settings.h"

#include "text/textutil.h"

#include <algorithm>

namespace vigilor {

namespace {

using enum ValueType;

// A list line is one line of a list file: a line break inside it would split it in two there,
// and a NUL would make the whole file unreadable as text. Such characters become blanks.
QStringList asFileLines(const QStringList& lines)
{
    const auto breaks = [](QChar c) { return c == u'\n' || c == u'\r' || c == QChar(0); };
    const auto needs = [&](const QString& line) {
        return std::any_of(line.begin(), line.end(), breaks);
    };
    if (std::none_of(lines.begin(), lines.end(), needs))
        return lines;
    QStringList clean = lines;
    for (QString& line : clean)
        std::replace_if(line.begin(), line.end(), breaks, QChar(u' '));
    return clean;
}

// Section, key, type, default, range and caption of every value, in the file's order of keys.
constexpr KeyInfo kKeys[] = {
    {Key::EventNotify, "System", u"EventNotify", Boolean, 1, 0, 1, u"Vigilor beírhat közösbe"},
    {Key::AutoStart, "System", u"AutoStart", Boolean, 0, 0, 1, u"Indulás rendszerrel együtt"},
    {Key::SaveServerInfo, "System", u"SaveServerInfo", Boolean, 1, 0, 1,
     u"Szerver infó mentése (jelszóval, titkosítva)"},
    {Key::AutoConnect, "System", u"AutoConnect", Boolean, 0, 0, 1, u"Indításkor csatlakozz"},
    {Key::StartMinimized, "System", u"StartMinimized", Boolean, 0, 0, 1, u"Indulás ikonban"},
    {Key::TimeInterval, "System", u"TimeInterval", Integer, 60, 30, 999999, u"Ellenőrzési időköz (mp):"},
    {Key::Notification, "System", u"Notification", Boolean, 1, 0, 1, u"Üzenet közvetítő"},
    {Key::CoDexe, "System", u"CoDexe", Text, 0, 0, 0, u"CoDMP.exe / CoDUOMP.exe / CoD2MP.exe:"},
    {Key::CkRcon, "System", u"ck_rcon", Boolean, 0, 0, 1, u"Belépés RCON joggal"},
    {Key::PublicBanURL, "System", u"PublicBanURL", Text, 0, 0, 0, u"Letöltési cím"},
    {Key::PublicUploadURL, "System", u"PublicUploadURL", Text, 0, 0, 0, u"Feltöltési cím"},
    {Key::RequiredRate, "Service", u"RequiredRate", Integer, 25000, 1000, 50000, u"Rate ellenőrzés"},
    {Key::KickOnBadRate, "Service", u"kickOnBadRate", Boolean, 0, 0, 1, u"Agresszív (kirúgás azonnal)"},
    {Key::AnounceTime, "Service", u"anounceTime", Boolean, 0, 0, 1, u"Pontos idő"},
    {Key::RateCheck, "Service", u"RateCheck", Boolean, 0, 0, 1, u"Rate ellenőrzés"},
    {Key::AntiFreeze, "Service", u"AntiFreeze", Boolean, 1, 0, 1, u"Fagyás védelem"},
    {Key::TestBans, "Service", u"TestBans", Boolean, 1, 0, 1, u"Banlista ellenőrzés"},
    {Key::LearningBan, "Service", u"LearningBan", Boolean, 1, 0, 1, u"IP figyelő"},
    {Key::ClearAtMidnight, "Service", u"ClearAtMidnight", Boolean, 1, 0, 1, u"Éjjfélkor törlés"},
    {Key::CommandListener, "Service", u"CommandListener", Boolean, 0, 0, 1, u"Parancs figyelő"},
    {Key::Scheduler, "Service", u"Scheduler", Boolean, 0, 0, 1, u"Parancs ütemező engedélyezése"},
    {Key::AnounceInterval, "Service", u"AnounceInterval", Integer, 10, 1, 60, u"Idő (perc):"},
    {Key::CfgEnable, "Service", u"cfg_enable", Boolean, 0, 0, 1, u"Engedélyezés"},
    {Key::CkMaxpackets, "Service", u"ck_maxpackets", Boolean, 0, 0, 1, u"cl_maxpackets"},
    {Key::CkFps, "Service", u"ck_fps", Boolean, 0, 0, 1, u"FPS limit:"},
    {Key::CkSnaps, "Service", u"ck_snaps", Boolean, 0, 0, 1, u"snaps"},
    {Key::CkRate, "Service", u"ck_rate", Boolean, 0, 0, 1, u"Rate"},
    {Key::CkName, "Service", u"ck_name", Boolean, 0, 0, 1, u"Név eröltetés (Just4FUN)"},
    {Key::EdName, "Service", u"ed_name", Text, 0, 0, 0, u"Név eröltetés (Just4FUN)"},
    {Key::SeInterval, "Service", u"se_interval", Integer, 10, 1, 1000000000, u"Állítási időköz (mp):"},
    {Key::SeMaxpackets, "Service", u"se_maxpackets", Integer, 100, 5, 999, u"cl_maxpackets"},
    {Key::SeFps, "Service", u"se_fps", Integer, 125, 5, 999, u"FPS limit:"},
    {Key::SeSnaps, "Service", u"se_snaps", Integer, 40, 5, 999, u"snaps"},
    {Key::SeRate, "Service", u"se_rate", Integer, 25000, 10, 500000, u"Rate"},
    {Key::PingCheck, "Service", u"PingCheck", Boolean, 1, 0, 1, u"Ping figyelés"},
    {Key::PingWarningLevel, "Service", u"PingWarningLevel", Integer, 90, 1, 999, u"Figyelmeztető szint:"},
    {Key::PingKickLevel, "Service", u"PingKickLevel", Integer, 110, 2, 999, u"Kirúgási szint:"},
    {Key::TimedImport, "Service", u"TimedImport", Boolean, 0, 0, 1, u"Időzített lista import (perc)"},
    {Key::ExportAlso, "Service", u"ExportAlso", Boolean, 0, 0, 1, u"Import után feltöltés ide:"},
    {Key::RememberBanned, "Service", u"Kitiltottak megjegyzése", Boolean, 1, 0, 1, u"Kitiltottak megjegyzése"},
    {Key::WarnOnLBhit, "Service", u"WarnOnLBhit", Boolean, 0, 0, 1, u"Figyelmeztető"},
    {Key::RememberSpectators, "Service", u"SPECTATOR-ok megjegyzése", Boolean, 1, 0, 1,
     u"SPECTATOR-ok megjegyzése"},
    {Key::RememberExploded, "Service", u"Felrobbantandók megjegyzése", Boolean, 1, 0, 1,
     u"Felrobbantandók megjegyzése"},
    {Key::RememberKilled, "Service", u"Megölendők megjegyzése", Boolean, 1, 0, 1, u"Megölendők megjegyzése"},
    {Key::IP, "ServerInfo", u"IP", Text, 0, 0, 0, u"Host/IP:"},
    {Key::Port, "ServerInfo", u"Port", Text, 0, 0, 0, u"Port:"},
    {Key::PWD, "ServerInfo", u"PWD", Text, 0, 0, 0, u"Jelszó:"},
    {Key::WebListen, "Web", u"Listen", Text, 0, 0, 0, u"Cím:port:"},
    {Key::WebCert, "Web", u"Cert", Text, 0, 0, 0, u"TLS tanúsítvány (PEM):"},
    {Key::WebKey, "Web", u"Key", Text, 0, 0, 0, u"TLS kulcs (PEM):"},
    {Key::WebTrustedProxies, "Web", u"TrustedProxies", Text, 0, 0, 0, u"Megbízható proxyk:"},
    {Key::WebHosts, "Web", u"Hosts", Text, 0, 0, 0, u"Webes nevek:"},
};
static_assert(std::size(kKeys) == kKeyCount);

constexpr bool tableInOrder()
{
    for (int i = 0; i < kKeyCount; ++i)
        if (static_cast<int>(kKeys[i].key) != i)
            return false;
    return true;
}
static_assert(tableInOrder());

} // namespace

const KeyInfo& keyInfo(Key key) { return kKeys[static_cast<int>(key)]; }

std::optional<Key> keyNamed(QStringView name)
{
    const QString folded = text::asciiLower(name);
    for (const KeyInfo& info : kKeys)
        if (text::asciiLower(QString::fromUtf16(info.name)) == folded)
            return info.key;
    return std::nullopt;
}

Settings::Settings(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<vigilor::Key>();
    for (const KeyInfo& info : kKeys)
        m_values[index(info.key)] = info.type == ValueType::Text ? QVariant(QString()) : QVariant(info.defaultValue);
}

QVariant Settings::normalised(Key key, const QVariant& value) const
{
    const KeyInfo& info = keyInfo(key);
    switch (info.type) {
    case ValueType::Boolean:
        return value.toInt() != 0 || value.toBool() ? 1 : 0;
    case ValueType::Integer:
        return std::clamp(value.toInt(), info.minimum, info.maximum);
    case ValueType::Text:
        return value.toString();
    }
    return value;
}

void Settings::notify(Key key)
{
    emit changed(key);
    switch (key) {
    case Key::IP:
        emit hostChanged(host());
        break;
    case Key::Port:
        emit portChanged(port());
        break;
    case Key::PWD:
        emit passwordChanged(password());
        break;
    case Key::TimeInterval:
        emit timeIntervalSet(timeInterval());
        break;
    default:
        break;
    }
}

bool Settings::set(Key key, const QVariant& value)
{
    const QVariant v = normalised(key, value);
    if (m_values[index(key)] == v)
        return false;
    m_values[index(key)] = v;
    notify(key);
    return true;
}

void Settings::apply(Key key, const QVariant& value)
{
    if (!set(key, value))
        notify(key);
}

void Settings::resetToDefaults()
{
    for (const KeyInfo& info : kKeys)
        set(info.key, info.type == ValueType::Text ? QVariant(QString()) : QVariant(info.defaultValue));
}

void Settings::setBanList(const QStringList& entries)
{
    const QStringList clean = asFileLines(entries);
    if (m_banList == clean)
        return;
    m_banList = clean;
    emit banListChanged();
}

void Settings::setMessages(const QStringList& lines)
{
    const QStringList clean = asFileLines(lines);
    if (m_messages == clean)
        return;
    m_messages = clean;
    emit messagesChanged();
}

// A list with entries always has one selected, so that an import run has an address: an entry
// appended to a list without a selection becomes the selection.
void Settings::setImportList(const QStringList& addresses)
{
    const QStringList clean = asFileLines(addresses);
    if (m_importList == clean)
        return;
    const qsizetype before = m_importList.size();
    const bool appended = clean.size() > before &&
                          std::equal(m_importList.cbegin(), m_importList.cend(), clean.cbegin());
    m_importList = clean;
    emit importListChanged();
    if (m_importSelection >= m_importList.size())
        setImportSelection(int(m_importList.size()) - 1);
    else if (m_importSelection < 0 && !m_importList.isEmpty())
        setImportSelection(appended ? int(before) : 0);
}

void Settings::setImportSelection(int row)
{
    row = std::clamp(row, m_importList.isEmpty() ? -1 : 0, int(m_importList.size()) - 1);
    if (m_importSelection == row)
        return;
    m_importSelection = row;
    emit importSelectionChanged(row);
}

void Settings::setUploadAddress(const QString& address)
{
    if (m_uploadAddress == address)
        return;
    m_uploadAddress = address;
    emit uploadAddressChanged(address);
}

void Settings::setImportInterval(int minutes)
{
    minutes = std::clamp(minutes, kImportIntervalMin, kImportIntervalMax);
    if (m_importInterval == minutes)
        return;
    m_importInterval = minutes;
    emit importIntervalChanged(minutes);
}

} // namespace vigilor
