#pragma once

#include <QSystemTrayIcon>

#include <memory>

class QMenu;

namespace vigilor {
class ErrorSink;
}
namespace vigilor::link {
class Console;
class Link;
} // namespace vigilor::link
namespace vigilor::tools {
class Launcher;
}

namespace vigilor::ui {

// The notification-area icon, present from start to end: its hint follows the link, its menu
// brings the window back ("Megnyitás", also a double-click), starts the game client ("GoPlay!"),
// opens the documentation ("Weblap") or ends the program ("Kilépés").
class TrayIcon final : public QSystemTrayIcon
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TrayIcon)

public:
    TrayIcon(link::Link& link, link::Console& console, tools::Launcher& launcher, ErrorSink* errors,
             QWidget* window);
    ~TrayIcon() override;

    QMenu* menu() const { return m_menu.get(); }

signals:
    void openRequested();
    void exitRequested();

private:
    std::unique_ptr<QMenu> m_menu; // a menu cannot be a child of the icon, which is no widget
};

} // namespace vigilor::ui
