#pragma once

#include <QWidget>

namespace vigilor {
class Robot;
}

namespace vigilor::ui {

// The top bar above the tabs: the server's host, port and rcon password, bound both ways to the
// settings, the connect button, the password change, lock and open buttons, and GoPlay's picture
// button at the right end.
class LinkBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LinkBar)

public:
    explicit LinkBar(Robot& robot, QWidget* parent = nullptr);

private:
    void updateLinkControls(bool connected);

    QList<QWidget*> m_serverFields;  // labels and fields, editable while disconnected
    QList<QWidget*> m_serverActions; // enabled while connected
};

} // namespace vigilor::ui
