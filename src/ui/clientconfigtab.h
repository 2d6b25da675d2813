#pragma once

#include "ui/settingsbinding.h"

#include <QWidget>

namespace vigilor::tools {
class ClientConfig;
}

namespace vigilor::ui {

// The tab "CFG eröltetés": the notices about the server-side add-on, and the frame "Beállítás"
// whose controls are bound to the settings; "Alkalmaz" hands them to the server.
class ClientConfigTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ClientConfigTab)

public:
    static inline const QString kAddOnNotice = QStringLiteral(
        "Ez a funkció csak a szerverre telepített PK3 kiegészítővel (Call of Duty 2 alatt az IWD "
        "kiegészítővel) működik, nélküle egyáltalán nem! A kiegészítőnek köszönhetően az itt "
        "beállított értékek a program bezárása után is érvényben maradnak. A kiegészítő a "
        "program nélkül is használható, de akkor a szerver konfigurációjában kell beállítani. "
        "Csak néhány alapvető dolgot old meg, teljes védelmet nem nyújt; kérésre bővíthető.");
    static inline const QString kWarning =
        QStringLiteral("FIGYELEM!! HÜLYESÉG VÉDELEM NINCS!! BÁRMIT BÁRHOVÁ "
                       "BEÁLLÍTHATSZ, A PROGRAM MEGCSINÁLJA, DE HA NEM JÓ, MAGADRA "
                       "VESS!!");

    ClientConfigTab(const SettingsBinding& bound, tools::ClientConfig& config,
                    QWidget* parent = nullptr);
};

} // namespace vigilor::ui
