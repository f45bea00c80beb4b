#include "app/terminationwatcher.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include <csignal>
#include <mutex>
#include <utility>

#include <windows.h>

namespace vexal {

namespace {

/*
 * Windows asks a process to end in three ways. The session (logoff, shutdown)
 * sends WM_QUERYENDSESSION and then WM_ENDSESSION to every top-level window,
 * and ends the process once WM_ENDSESSION returns, so the stop sequence runs
 * inside it. A hidden run on the offscreen platform has no window to get
 * them, and the event loop's own window is message-only, which broadcasts
 * skip: a hidden top-level window of ours gets them. Qt's windows get them
 * too, and Qt quits the event loop on the first, so a native event filter
 * runs the stop sequence before Qt sees it there.
 *
 * taskkill (without /f) posts WM_CLOSE to the same top-level windows.
 *
 * A console the process is attached to (a hidden run started from cmd)
 * calls its control handler on a thread of its own, where Qt must not be
 * touched: the handler posts a message to that window, and the event loop
 * does the rest. For Ctrl+C the process goes on once the handler returns;
 * for the console's close it ends then, so the handler waits for the stop
 * sequence first, as long as Windows lets it.
 */

constexpr UINT WM_VEXAL_TERMINATE = WM_APP + 1;
constexpr wchar_t WindowClass[] = L"VexalSessionEnd";
// Windows ends a closed console's processes after 5 s whatever the handler
// does; past that the wait is for a Windows that does not.
constexpr DWORD ConsoleCloseWaitMs = 10000;

// Read and written on the window's thread; the console handler reads them
// under the lock, so the watcher cannot go while it posts.
std::mutex g_lock;
TerminationWatcher *g_watcher = nullptr;
HWND g_window = nullptr;
// Set once the process is past its stop sequence (the watcher is destroyed
// when main() returns), so a console close waits no longer than that.
HANDLE g_finished = nullptr;
bool g_sessionEnding = false;

void deliver(int signalNumber)
{
    if (g_watcher)
        emit g_watcher->terminationRequested(signalNumber);
}

// The stop sequence runs here, before WM_ENDSESSION returns: Windows ends
// the process as soon as it has. Once per session end, whichever window
// hears of it first.
void onEndSession(WPARAM ending)
{
    if (!ending || g_sessionEnding)
        return;
    g_sessionEnding = true;
    deliver(SIGTERM);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_QUERYENDSESSION:
        // Nothing here is worth keeping the session for; the summary is
        // written when it does end.
        return TRUE;
    case WM_ENDSESSION:
        onEndSession(wParam);
        return 0;
    case WM_VEXAL_TERMINATE:
        deliver(int(wParam));
        return 0;
    case WM_CLOSE:
        // taskkill without /f asks every top-level window of the process to
        // close: Windows' kill, run as SIGTERM is. The window stays, for the
        // session's end.
        deliver(SIGTERM);
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

class SessionEndFilter final : public QObject, public QAbstractNativeEventFilter
{
public:
    explicit SessionEndFilter(QObject *parent) : QObject(parent) {}

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "windows_generic_MSG")
            return false;
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message == WM_ENDSESSION)
            onEndSession(msg->wParam);
        // Qt's own handling goes on: the session's answer, aboutToQuit.
        return false;
    }
};

BOOL WINAPI onConsoleControl(DWORD type)
{
    int signalNumber = SIGTERM;
    if (type == CTRL_C_EVENT)
        signalNumber = SIGINT;
    else if (type == CTRL_BREAK_EVENT)
        signalNumber = SIGBREAK;
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        // FALSE: the next handler, in the end the system's, which ends the
        // process at once.
        if (!g_watcher || !::PostMessageW(g_window, WM_VEXAL_TERMINATE, WPARAM(signalNumber), 0))
            return FALSE;
    }
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        ::WaitForSingleObject(g_finished, ConsoleCloseWaitMs);
    return TRUE;
}

} // namespace

TerminationWatcher::TerminationWatcher(QObject *parent)
    : QObject(parent)
{
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = WindowClass;
    ::RegisterClassW(&windowClass);
    // Top-level and never shown: a message-only window would not hear the
    // session end. One is still made where no top-level window can be
    // (Wine without a display), so the console's Ctrl+C keeps its way in.
    HWND window =
        ::CreateWindowExW(0, WindowClass, L"Vexal", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (!window)
        window = ::CreateWindowExW(0, WindowClass, L"Vexal", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (!window)
        return;
    if (!g_finished)
        g_finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::ResetEvent(g_finished);
    g_sessionEnding = false;
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        g_watcher = this;
        g_window = window;
    }
    if (QCoreApplication *application = QCoreApplication::instance())
        application->installNativeEventFilter(new SessionEndFilter(this));
    m_watching = ::SetConsoleCtrlHandler(onConsoleControl, TRUE) != 0;
}

TerminationWatcher::~TerminationWatcher()
{
    // Back to the default: a request after the watcher is gone ends the
    // process at once, as it would have without one.
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
    HWND window = nullptr;
    {
        const std::lock_guard<std::mutex> hold(g_lock);
        if (g_watcher != this)
            return;
        g_watcher = nullptr;
        window = std::exchange(g_window, nullptr);
    }
    ::DestroyWindow(window);
    ::SetEvent(g_finished);
}

} // namespace vexal
