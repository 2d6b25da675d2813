#pragma once

class QWidget;

namespace vigilor::ui {

// Keeps the window's button off the desktop's taskbar: the program is reached through its
// notification-area icon. Desktops forget the request when a window is hidden, so it is made
// again each time the window is shown. On X11 it is the window manager's skip-taskbar state; on
// other desktops it does nothing.
void hideTaskbarButton(QWidget* window);

} // namespace vigilor::ui
