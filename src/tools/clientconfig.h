#pragma once

#include <QStringList>

namespace vigilor {
class Settings;
}

namespace vigilor::link {
class Link;
}

namespace vigilor::tools {

// "CFG eröltetés": hands the wanted client settings to the server-side add-on that enforces
// them, by setting the server variables it reads. Nothing is sent until "Alkalmaz"; the add-on
// re-applies the values on its own at the period sent in `cfg_time`.
class ClientConfig final
{
public:
    static constexpr int kMaxNameLength = 255;

    ClientConfig(const Settings& settings, link::Link& link) : m_settings(settings), m_link(link) {}

    // The commands of "Alkalmaz" for the current settings, in the order they are queued: the
    // six values only while enforcement is on, the switch `cfg_check` always.
    static QStringList commands(const Settings& settings);
    // "Alkalmaz".
    void apply();

private:
    const Settings& m_settings;
    link::Link& m_link;
};

} // namespace vigilor::tools
