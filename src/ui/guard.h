#pragma once

#include "text/errors.h"

#include <QWidget>

#include <utility>

namespace vigilor::ui {

// Wraps a slot's work so that nothing it throws escapes into the event loop: the error goes to
// the application's error handler instead. The work takes the signal's arguments or none.
template <typename Work> auto guard(ErrorSink* sink, Work work)
{
    return [sink, work = std::move(work)](
               const auto&... args) -> decltype(std::declval<const Work&>()(args...), void()) {
        guarded(sink, [&] { work(args...); });
    };
}

// Whether the widget's window is on the screen: visible and not minimised.
inline bool isShowing(const QWidget* widget)
{
    const QWidget* window = widget->window();
    return window->isVisible() && !window->isMinimized();
}

} // namespace vigilor::ui
