#include "platform/endwatcher.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <windows.h>

namespace vigilor::platform {

namespace {
std::atomic<EndWatcher*> g_watcher{nullptr};
std::atomic<int> g_event{-1};         // the first console event
std::atomic<bool> g_closing{false};   // the close after it has begun: the saves come first
std::atomic<qint64> g_requestedAt{0}; // steady clock, milliseconds

qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The hard stop: whatever the close is doing by then, the process ends.
void startHardStop()
{
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::seconds(EndWatcher::kHardStopSeconds));
        std::fflush(nullptr);
        std::_Exit(g_closing.load() ? 0 : 128 + g_event.load());
    }).detach();
}

// The first request to end, whichever way it came: the hard stop counts from it.
void noteRequest(int event)
{
    int none = -1;
    if (g_event.compare_exchange_strong(none, event)) {
        g_requestedAt.store(steadyMs());
        startHardStop();
    }
}

// Runs on a thread of its own that the system starts for each console event.
BOOL WINAPI consoleHandler(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    noteRequest(int(event));
    if (EndWatcher* watcher = g_watcher.load())
        QMetaObject::invokeMethod(watcher, "end", Qt::QueuedConnection);
    // For a close, log-off or shut-down the system ends the process as soon as this returns:
    // the program ends it first (the saves, then the end of main), or the hard stop does.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        std::this_thread::sleep_for(std::chrono::seconds(EndWatcher::kHardStopSeconds + 1));
    return TRUE;
}
// The end of the user's session as a program without a console learns it: a hidden top-level
// window of the main thread is asked whether the session may end (yes) and then told that it
// ends; it is also what a request to close the program reaches. The program must have saved when that message returns, since the system may end the
// process at any moment after it: the close runs there and then. (The window of the desktop
// program gets the same messages through Qt, which asks the window to save its data first.)
LRESULT CALLBACK sessionWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_CLOSE:
        // What a program without a window is sent when it is asked to close (taskkill without
        // /F, the Task Scheduler's end of a task): the end like "Kilépés", not the window's.
        noteRequest(CTRL_CLOSE_EVENT);
        if (EndWatcher* watcher = g_watcher.load())
            QMetaObject::invokeMethod(watcher, "end", Qt::QueuedConnection);
        return 0;
    case WM_ENDSESSION:
        if (wParam) {
            noteRequest((lParam & ENDSESSION_LOGOFF) ? CTRL_LOGOFF_EVENT : CTRL_SHUTDOWN_EVENT);
            if (EndWatcher* watcher = g_watcher.load())
                QMetaObject::invokeMethod(watcher, "end", Qt::DirectConnection);
        }
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

const wchar_t kSessionWindowClass[] = L"VigilorSessionEnd";

HWND createSessionWindow()
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &sessionWindowProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kSessionWindowClass;
    RegisterClassExW(&windowClass); // a second watcher finds it registered
    return CreateWindowExW(0, kSessionWindowClass, L"vigilor", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                           nullptr, instance, nullptr);
}
} // namespace

class EndWatcher::Backend
{
public:
    HWND sessionWindow = nullptr;
};

int EndWatcher::msUntilHardStop()
{
    if (g_event.load() < 0)
        return -1;
    const qint64 left = qint64(kHardStopSeconds) * 1000 - (steadyMs() - g_requestedAt.load());
    return int(qMax<qint64>(0, left));
}

EndWatcher::EndWatcher(std::function<void()> onEnd, QObject* parent)
    : QObject(parent), m_onEnd(std::move(onEnd)), m_backend(std::make_unique<Backend>())
{
    g_watcher.store(this);
    SetConsoleCtrlHandler(&consoleHandler, TRUE);
    m_backend->sessionWindow = createSessionWindow();
    // An event that came before the watcher existed is answered now.
    if (g_event.load() >= 0)
        QMetaObject::invokeMethod(this, "end", Qt::QueuedConnection);
}

EndWatcher::~EndWatcher()
{
    SetConsoleCtrlHandler(&consoleHandler, FALSE);
    g_watcher.store(nullptr);
    if (m_backend->sessionWindow)
        DestroyWindow(m_backend->sessionWindow);
}

void EndWatcher::end()
{
    if (m_ended)
        return;
    m_ended = true;
    g_closing.store(true);
    if (m_onEnd)
        m_onEnd();
    // Every event loop ends, a dialog's too; one started later returns at once.
    QCoreApplication::exit(0);
}

} // namespace vigilor::platform
