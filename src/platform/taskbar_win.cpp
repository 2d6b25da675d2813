#include "platform/taskbar.h"

#include <QTimer>

#include <shobjidl.h>
#include <windows.h>

namespace vigilor::platform {

namespace {

void deleteTab(HWND window)
{
    ITaskbarList* list = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList,
                                reinterpret_cast<void**>(&list))) ||
        !list)
        return;
    if (SUCCEEDED(list->HrInit()))
        list->DeleteTab(window);
    list->Release();
}

} // namespace

void hideTaskbarButton(WId window)
{
    // The taskbar adds the button when the window comes on the screen, after the show that
    // asks for this: the button is taken off once the event loop has shown it.
    const auto handle = reinterpret_cast<HWND>(window);
    QTimer::singleShot(0, [handle] {
        if (IsWindow(handle))
            deleteTab(handle);
    });
}

} // namespace vigilor::platform
