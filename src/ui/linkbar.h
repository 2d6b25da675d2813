#pragma once

#include <QWidget>

namespace vigilor {
class ErrorSink;
class Settings;
} // namespace vigilor
namespace vigilor::link {
class Link;
}
namespace vigilor::tools {
class Launcher;
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
    LinkBar(Settings& settings, link::Link& link, tools::Launcher& launcher, ErrorSink* errors,
            QWidget* parent = nullptr);

private:
    void updateLinkControls(bool connected);

    QList<QWidget*> m_serverFields;  // labels and fields, editable while disconnected
    QList<QWidget*> m_serverActions; // enabled while connected
};

} // namespace vigilor::ui
