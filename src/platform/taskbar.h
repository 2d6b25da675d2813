#pragma once

#include <QWindow>

namespace vigilor::platform {

// Keeps the window's button off the desktop's taskbar: the program is reached through its
// notification-area icon. Desktops forget the request when a window is hidden, so it is made
// again each time the window is shown. On X11 it is the window manager's skip-taskbar state, on
// Windows the taskbar's own list (asked once the window is on the screen); elsewhere it does
// nothing.
void hideTaskbarButton(WId window);

} // namespace vigilor::platform
