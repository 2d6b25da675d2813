#pragma once

#include "ui/settingsbinding.h"

#include <QWidget>

class QGridLayout;
class QGroupBox;
class QPlainTextEdit;

namespace vigilor {
class Dialogs;
}
namespace vigilor::exchange {
class Importer;
}

namespace vigilor::ui {

// The tab "Beállítások": the switches and values of the subsystems, each bound to the settings
// model. The groups sit in a grid whose third column and lower rows stay free, so that later
// subsystems add their own groups without moving these.
class SettingsTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsTab)

public:
    SettingsTab(const SettingsBinding& bound, exchange::Importer& importer, Dialogs& dialogs,
                QWidget* parent = nullptr);

    QGridLayout* groups() const { return m_groups; }

private:
    QGroupBox* startGroup();
    QGroupBox* chatGroup();
    QGroupBox* channelGroup();
    QGroupBox* watchGroup();
    QGroupBox* webGroup();
    QPlainTextEdit* messageMemo();

    SettingsBinding m_bound;
    Dialogs& m_dialogs;
    QGridLayout* m_groups;
};

} // namespace vigilor::ui
