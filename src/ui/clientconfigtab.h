#pragma once

#include <QWidget>

namespace vigilor {
class Robot;
}

namespace vigilor::ui {

// The tab "CFG eröltetés": the notices about the server-side add-on, and the frame "Beállítás"
// whose controls are bound to the settings; "Alkalmaz" hands them to the server.
class ClientConfigTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ClientConfigTab)

public:
    static const QString& addOnNotice();
    static const QString& warning();

    explicit ClientConfigTab(Robot& robot, QWidget* parent = nullptr);
};

} // namespace vigilor::ui
