#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace vigilor::link {
class Link;
}

namespace vigilor::tools {

// The server's weapon switches of the tab "Fegyverek". Each switch is a box whose checked state
// means "allowed"; changing it queues the server variables that allow or forbid its weapons.
// The states start at their defaults at every start: they are neither saved nor read back from
// the server, so a change made while disconnected is simply not sent.
class WeaponSwitches final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WeaponSwitches)

public:
    // Where a box stands on the tab: in a nation's group, or in one of the three columns.
    enum class Place
    {
        German,
        British,
        Russian,
        American,
        LeftColumn,
        MiddleColumn,
        RightColumn
    };

    struct Switch
    {
        Place place;
        QString caption;
        QString name; // the box's object name
        bool defaultOn;
        QStringList variables; // each followed by the bit makes one command, in this order
    };

    enum class Preset
    {
        SniperOnly,
        RifleOnly,
        SemiAutoOnly,
        MGsOnly,
        PistolOnly,
        All
    };

    struct PresetInfo
    {
        Preset preset;
        QString caption;
        QString name; // the button's object name
    };

    static const QList<Switch>& table();
    static const QList<PresetInfo>& presets();
    static QString placeCaption(Place place); // a group's caption; empty for the columns
    static int indexOf(const QString& name);  // -1 when no switch has that name

    explicit WeaponSwitches(link::Link& link, QObject* parent = nullptr);

    int count() const { return int(m_checked.size()); }
    bool isChecked(int index) const { return m_checked.at(index); }
    // "Tankok" is disabled while its commands are being queued.
    bool isEnabled(int index) const { return index != m_busy; }

    // A click on a box: when its state changes, its commands are queued at once.
    void setChecked(int index, bool on);
    // The commands of a box for its current state, in the order they are queued.
    QStringList commands(int index) const;
    // A preset sets 29 boxes one after the other, each as a click would; a box already in the
    // wanted state queues nothing.
    void applyPreset(Preset preset);

signals:
    void checkedChanged(int index, bool on);
    void enabledChanged(int index, bool enabled);

private:
    link::Link& m_link;
    QList<bool> m_checked;
    int m_busy = -1;
};

} // namespace vigilor::tools
