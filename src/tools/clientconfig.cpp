#include "tools/clientconfig.h"

#include "link/link.h"
#include "settings/settings.h"

using namespace Qt::StringLiterals;

namespace vigilor::tools {

QStringList ClientConfig::commands(const Settings& settings)
{
    const bool enabled = settings.flag(Key::CfgEnable);
    QStringList result;
    if (enabled) {
        // A value whose box is unchecked is sent as 0, which the add-on reads as "not forced".
        const auto value = [&settings](Key box, Key number) {
            return settings.flag(box) ? QString::number(settings.number(number)) : u"0"_s;
        };
        const QString name = settings.flag(Key::CkName)
                                 ? settings.text(Key::EdName).left(kMaxNameLength)
                                 : QString();
        result << u"set cfg_time "_s + QString::number(settings.number(Key::SeInterval))
               << u"set cfg_com_maxfps "_s + value(Key::CkFps, Key::SeFps)
               << u"set cfg_cl_maxpackets "_s + value(Key::CkMaxpackets, Key::SeMaxpackets)
               << u"set cfg_snaps "_s + value(Key::CkSnaps, Key::SeSnaps)
               << u"set cfg_rate "_s + value(Key::CkRate, Key::SeRate)
               << u"set cfg_name \""_s + name + u'"';
    }
    result << u"set cfg_check "_s + (enabled ? u"1"_s : u"0"_s);
    return result;
}

void ClientConfig::apply()
{
    for (const QString& command : commands(m_settings))
        m_link.enqueueCommand(command);
}

} // namespace vigilor::tools
