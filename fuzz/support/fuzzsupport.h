#pragma once

// What every fuzz target shares: the application object, a scratch folder for the files the
// engine writes, the check that stops the run with a message, and a comparable picture of the
// settings.

#include "settings/settings.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace vigilor {
namespace settings {
class SettingsStore;
}
} // namespace vigilor

namespace vigilor::fuzz {

// Once per process: a QCoreApplication, and a scratch folder (on tmpfs where there is one)
// that also holds the XDG configuration and data folders, so that no input ever writes an
// autostart entry or anything else outside it.
void initialise(int* argc, char*** argv);

// An empty folder under the scratch folder, emptied again at every call; ends with '/'.
QString freshFolder(const QString& name);

// What code page 1250 keeps of a text: a character it lacks becomes '?'.
QString asStored(const QString& text);
QStringList asStored(const QStringList& lines);

// Empty when there is no such file.
QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);
void removeFile(const QString& path); // no matter whether it is there
qint64 fileSize(const QString& path); // -1 when there is no such regular file

// A property that does not hold: prints it and aborts, so libFuzzer keeps the input.
[[noreturn]] void fail(const QString& what);

#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::vigilor::fuzz::fail(QStringLiteral(#condition) + QStringLiteral(": ") + (detail));   \
    } while (false)

// The input as bytes and as text (code page 1250, as the program reads the network).
inline QByteArray bytesOf(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Every value and list the settings hold.
struct SettingsState
{
    std::array<QVariant, kKeyCount> values;
    QStringList banList;
    QStringList messages;
    QStringList importList;
    int importSelection = -1;
    QString uploadAddress;
    int importInterval = 0;

    bool operator==(const SettingsState&) const = default;
};
SettingsState stateOf(const Settings& settings);
// The first difference, for the message of a failed check.
QString difference(const SettingsState& a, const SettingsState& b);

// Every number within its control's range.
void checkRanges(const Settings& settings);

// A settings store for `folder` whose reactions reach nothing outside it.
void quietHooks(settings::SettingsStore& store);

// What a pure function gave for a key (some bytes, by default), kept by the whole key, not a
// hash, so that a target works out a property of the same key once however many inputs lead to
// it. A ring of a few thousand whose slots are written over in place, found through the key's
// qHash: an input that adds one frees about as much as it allocates, so libFuzzer does not take
// it for a leak and run it a second time.
template <typename Value, typename Key = QByteArray> class Memo
{
public:
    Memo() : m_slots(kKept) { m_byHash.reserve(kKept); }
    const Value* find(const Key& key) const
    {
        const auto it = m_byHash.find(qHash(key));
        if (it == m_byHash.cend() || m_slots[it->second].key != key)
            return nullptr;
        return &m_slots[it->second].value;
    }
    const Value& insert(const Key& key, Value value)
    {
        Slot& slot = m_slots[m_next];
        if (slot.used) {
            const auto old = m_byHash.find(slot.hash);
            if (old != m_byHash.end() && old->second == m_next)
                m_byHash.erase(old);
        }
        slot.hash = qHash(key);
        slot.key = key;
        slot.value = std::move(value);
        slot.used = true;
        // Keys of the same hash as others kept: the newer ones are found, the older worked out
        // again.
        m_byHash[slot.hash] = m_next;
        m_next = (m_next + 1) % kKept;
        return slot.value;
    }

private:
    static constexpr size_t kKept = 4096;
    struct Slot
    {
        size_t hash = 0;
        Key key;
        Value value;
        bool used = false;
    };
    std::vector<Slot> m_slots;
    std::unordered_map<size_t, size_t> m_byHash; // hash -> slot
    size_t m_next = 0;
};

// For messages: control characters as \xNN, lines quoted.
QString printable(const QString& text);
QString describeLines(const QStringList& lines);

} // namespace vigilor::fuzz
