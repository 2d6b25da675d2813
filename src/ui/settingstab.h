#pragma once

#include <QWidget>

class QGridLayout;
class QGroupBox;
class QPlainTextEdit;

namespace vigilor {
class Robot;
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
    explicit SettingsTab(Robot& robot, QWidget* parent = nullptr);

    QGridLayout* groups() const { return m_groups; }

private:
    QGroupBox* startGroup();
    QGroupBox* chatGroup();
    QGroupBox* channelGroup();
    QGroupBox* watchGroup();
    QGroupBox* webGroup();
    QPlainTextEdit* messageMemo();

    Robot& m_robot;
    QGridLayout* m_groups;
};

} // namespace vigilor::ui
