#include "sweep/icmppacket.h"
#include "sweep/pinger.h"

#include <QMetaObject>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <utility>
#include <vector>

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The order matters: Winsock before windows.h, the NT types before the
// ICMP declarations that use them.
#include <winsock2.h>
#include <windows.h>
#include <winternl.h>
#include <iphlpapi.h>
#define PIO_APC_ROUTINE_DEFINED
#include <icmpapi.h>

// MinGW-w64's icmpapi.h leaves it out; iphlpapi.dll exports it since Vista.
extern "C" DWORD WINAPI IcmpSendEcho2Ex(HANDLE icmp, HANDLE event, PIO_APC_ROUTINE apcRoutine, PVOID apcContext,
                                        IPAddr source, IPAddr destination, LPVOID requestData, WORD requestSize,
                                        PIP_OPTION_INFORMATION options, LPVOID replyBuffer, DWORD replySize,
                                        DWORD timeout);

namespace vexal {

namespace {

// A request the system had no room for is tried again after 1, 2, 4 ...
// ms, at most this long.
constexpr int MaxBackoffMs = 100;
// Time for the last results to come through the worker and the event loop
// after the timeout, so that a sweep's drain does not end just before them.
constexpr int DrainGraceMs = 100;
// How long one send() may keep the caller waiting while the worker sends.
// Each request is a system call, and under Wine a round trip through its
// server and device process too (some 0.4 ms), so a full send() of
// hundreds of them would hold the window for most of a tenth of a second;
// it returns short instead and the rest follow after ready().
constexpr int SendBudgetUs = 4000;
// How long the pinger's end waits for its worker to end.
constexpr DWORD StopWaitMs = 1000;

/*
 * How many echo requests may be in flight at once.
 *
 * Windows documents no limit on outstanding asynchronous requests; it says
 * only that IcmpSendEcho2Ex may fail with ERROR_NOT_ENOUGH_MEMORY, and a
 * request may end with IP_NO_RESOURCES. Each one holds a small reply
 * buffer and an I/O request in the IP stack, so a thousand are cheap, and
 * they keep a sweep of silent addresses at a thousand targets per timeout.
 *
 * Wine (8.0, as in Debian 12) serves these requests in its nsiproxy.sys
 * device, inside winedevice.exe: every request in flight holds an ICMP
 * socket, a pipe and a thread there, in a table of 256 (MAX_HANDLES) shared
 * by every program of the Wine prefix. The 257th request is still sent, but
 * completes at once with STATUS_NO_MEMORY and its reply is never seen. So
 * under Wine we stay well inside that table and leave room for other
 * programs; a shortage met anyway (the system's error, or a request that
 * ends for lack of resources) is waited out and sent again, never dropped.
 */
constexpr int WindowsInFlight = 1024;
constexpr int WineInFlight = 192;

// An ICMP_ECHO_REPLY, up to 40 bytes of IP options, the echoed data, the 8
// bytes of an ICMP error, and the IO_STATUS_BLOCK the documentation asks
// room for.
constexpr DWORD ReplyBufferSize =
    DWORD(sizeof(ICMP_ECHO_REPLY) + 40 + EchoMaxData + 8 + sizeof(IO_STATUS_BLOCK) + 16);

bool isWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

QString systemText(DWORD error)
{
    // IP_* codes are the IP Helper's own; FormatMessage does not know them.
    if (error >= IP_STATUS_BASE && error <= IP_GENERAL_FAILURE) {
        std::array<WCHAR, 256> text{};
        DWORD size = DWORD(text.size());
        if (::GetIpErrorString(error, text.data(), &size) == NO_ERROR)
            return QString::fromWCharArray(text.data()).trimmed();
    }
    LPWSTR text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    QString result = length ? QString::fromWCharArray(text, int(length)).trimmed() : QString();
    ::LocalFree(text);
    if (result.endsWith(QLatin1Char('.')))
        result.chop(1);
    return result.isEmpty() ? QStringLiteral("error %1").arg(error) : result;
}

bool isShortage(DWORD error)
{
    switch (error) {
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NONPAGED_SYSTEM_RESOURCES:
    case ERROR_PAGED_SYSTEM_RESOURCES:
    case ERROR_WORKING_SET_QUOTA:
    case IP_NO_RESOURCES:
        return true;
    default:
        return false;
    }
}

bool isShortageStatus(NTSTATUS status)
{
    return ULONG(status) == 0xC0000017UL     // STATUS_NO_MEMORY (Wine's full table)
        || ULONG(status) == 0xC000009AUL;    // STATUS_INSUFFICIENT_RESOURCES
}

qint64 ticksNow()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

qint64 ticksPerSecond()
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

// A request's end as the window's thread hears of it.
struct Outcome
{
    Ipv4 address = 0;
    quint32 roundTripUs = 0;
    bool answered = false;
    quint64 epoch = 0;
};

// What one echo request asks, kept to send it again when the system had
// no room for it.
struct Ask
{
    Ipv4 target = 0;
    quint64 epoch = 0;
    int timeoutMs = 0;
    int dataSize = 0;
};

class Engine;

// One echo request in flight. The system writes its reply into `reply`
// and queues the completion to the thread that sent it, so it lives until
// that completion has run, whatever happened to the pinger meanwhile.
struct Request
{
    Engine *engine = nullptr;
    Ask ask;
    qint64 sentAt = 0;
    // Answered when it was sent; a completion the system may still queue
    // only gives it back.
    bool finishedEarly = false;
    alignas(8) std::array<unsigned char, ReplyBufferSize> reply;
};

/*
 * The worker thread and what it shares with the window's thread. Echo
 * requests complete by asynchronous procedure calls to the thread that sent
 * them, run only while it waits alertably; so one thread of our own sends
 * every request and otherwise sits in WaitForSingleObjectEx(..., TRUE).
 * send() hands it targets and waits until they are sent, so refusals and a
 * shortage are known before send() returns. Completions are gathered and
 * handed back under the mutex in batches, with one queued call per batch.
 *
 * The engine outlives the pinger while requests are in flight: the system
 * still writes into their reply buffers. The worker ends, and frees it all,
 * once the last of them has completed.
 */
class Engine
{
public:
    Engine(HANDLE icmp, HANDLE wake, int cap)
        : m_icmp(icmp)
        , m_wake(wake)
        , m_cap(cap)
        , m_ticksPerSecond(ticksPerSecond())
    {
        for (std::size_t i = 0; i < m_data.size(); ++i)
            m_data[i] = quint8('a' + i % 23);
    }
    ~Engine()
    {
        if (m_icmp)
            ::IcmpCloseHandle(m_icmp);
        ::CloseHandle(m_wake);
    }

    static DWORD WINAPI threadMain(void *parameter);
    static void NTAPI onCompleted(void *context, IO_STATUS_BLOCK *status, ULONG);

    // Shared with the window's thread: everything below, under m_mutex.
    std::mutex m_mutex;
    std::condition_variable m_handedOver;
    QObject *m_owner = nullptr;   // null once the pinger is gone
    std::function<void()> m_post; // queues one delivery on the owner's thread
    bool m_stopping = false;
    quint64 m_epoch = 0;
    // Requests the system holds, of every epoch, and targets of this
    // epoch waiting to be sent again: what the cap counts.
    int m_inFlight = 0;
    int m_retrying = 0;
    // Targets handed over by send(), and what became of them.
    std::vector<Ipv4> m_submitted;
    int m_submitTimeoutMs = 0;
    int m_submitDataSize = 0;
    quint64 m_submitSerial = 0;
    quint64 m_sentSerial = 0;
    qsizetype m_sentCount = 0;
    SendRefusals m_submitRefusals;
    quint64 m_flushSerial = 0;
    quint64 m_flushedSerial = 0;
    // Ends not yet delivered, and whether a delivery is queued.
    std::vector<Outcome> m_ended;
    bool m_deliveryQueued = false;
    // send() returned short: ready() is due when there is room again.
    bool m_senderWaiting = false;
    bool m_readyDue = false;

    HANDLE wake() const { return m_wake; }
    int cap() const { return m_cap; }

private:
    void run();
    // A completion, from the system.
    void complete(Request *request, NTSTATUS status);
    // What became of a request: answered, ended without a reply, or to be
    // sent again.
    void record(Request *request, NTSTATUS status);
    enum class Sent { Yes, Refused, NoRoom };
    Sent sendOne(const Ask &ask, DWORD &error);
    Request *takeRequest();
    void giveBack(Request *request) { m_free.push_back(request); }
    void shortage(qint64 now);
    // Runs every completion queued to this thread.
    void runCompletions()
    {
        while (::SleepEx(0, TRUE) == WAIT_IO_COMPLETION) {
        }
    }
    qint64 ticksFromMs(qint64 ms) const { return ms * m_ticksPerSecond / 1000; }

    // Closed by the worker once the pinger is gone, which ends the requests
    // still in flight.
    HANDLE m_icmp;
    const HANDLE m_wake;
    const int m_cap;
    const qint64 m_ticksPerSecond;
    std::array<quint8, EchoMaxData> m_data{};

    // The worker's own.
    std::vector<std::unique_ptr<Request>> m_requests;
    std::vector<Request *> m_free;
    std::vector<Outcome> m_finished;
    // Requests that ended without a reply before their timeout (a transmit
    // failure, an unreachable host): held until it has passed, by the
    // deadline, earliest first.
    using Held = std::pair<qint64, Outcome>;
    static bool later(const Held &a, const Held &b) { return a.first > b.first; }
    std::priority_queue<Held, std::vector<Held>, decltype(&Engine::later)> m_held{&Engine::later};
    std::deque<Ask> m_retries;
    int m_completed = 0; // completions since the last look
    int m_backoffMs = 0;
    qint64 m_backoffUntil = 0;
};

DWORD WINAPI Engine::threadMain(void *parameter)
{
    const std::unique_ptr<std::shared_ptr<Engine>> engine(static_cast<std::shared_ptr<Engine> *>(parameter));
    (*engine)->run();
    return 0;
}

void NTAPI Engine::onCompleted(void *context, IO_STATUS_BLOCK *status, ULONG)
{
    auto *request = static_cast<Request *>(context);
    request->engine->complete(request, status->Status);
}

Request *Engine::takeRequest()
{
    if (m_free.empty()) {
        m_requests.push_back(std::make_unique<Request>());
        m_free.push_back(m_requests.back().get());
    }
    Request *request = m_free.back();
    m_free.pop_back();
    request->engine = this;
    request->finishedEarly = false;
    // A completion without a reply in it then reads as no reply at all.
    std::fill_n(request->reply.begin(), sizeof(ICMP_ECHO_REPLY), 0);
    return request;
}

Engine::Sent Engine::sendOne(const Ask &ask, DWORD &error)
{
    Request *request = takeRequest();
    request->ask = ask;
    request->sentAt = ticksNow();
    const DWORD replies = ::IcmpSendEcho2Ex(m_icmp, nullptr, &Engine::onCompleted, request, 0,
                                            qToBigEndian(ask.target), m_data.data(), WORD(ask.dataSize), nullptr,
                                            request->reply.data(), ReplyBufferSize, DWORD(ask.timeoutMs));
    error = replies == 0 ? ::GetLastError() : ERROR_SUCCESS;
    if (error == ERROR_IO_PENDING)
        return Sent::Yes;
    if (replies != 0) {
        // Answered before the call returned, which asynchronous calls are
        // not documented to do. Read now; kept for a completion that may
        // still come.
        record(request, 0);
        request->finishedEarly = true;
        return Sent::Yes;
    }
    giveBack(request);
    return isShortage(error) ? Sent::NoRoom : Sent::Refused;
}

void Engine::complete(Request *request, NTSTATUS status)
{
    if (!request->finishedEarly) {
        ++m_completed;
        record(request, status);
    }
    giveBack(request);
}

void Engine::record(Request *request, NTSTATUS status)
{
    const qint64 now = ticksNow();
    const Ask &ask = request->ask;
    Outcome outcome{ask.target, 0, false, ask.epoch};
    bool resend = isShortageStatus(status);
    if (status >= 0) {
        ::IcmpParseReplies(request->reply.data(), ReplyBufferSize);
        const auto *reply = reinterpret_cast<const ICMP_ECHO_REPLY *>(request->reply.data());
        resend = reply->Status == IP_NO_RESOURCES;
        outcome.answered = reply->Status == IP_SUCCESS && qFromBigEndian(quint32(reply->Address)) == ask.target;
        if (outcome.answered) {
            // The system counts whole milliseconds; our own clock, from
            // just before the call to this completion, refines that within
            // its millisecond (it can only run later, never earlier).
            const qint64 ownUs = (now - request->sentAt) * 1'000'000 / m_ticksPerSecond;
            const qint64 systemUs = qint64(reply->RoundTripTime) * 1000;
            outcome.roundTripUs = quint32(std::clamp(ownUs, systemUs, systemUs + 999));
        }
    }
    if (resend) {
        // Wine sent it and then had no room to hear its reply; Windows may
        // say the same with IP_NO_RESOURCES. It goes again, with a new
        // timeout of its own, once there is room.
        m_retries.push_back(ask);
        shortage(now);
    } else if (outcome.answered) {
        m_finished.push_back(outcome);
    } else {
        m_held.emplace(request->sentAt + ticksFromMs(ask.timeoutMs), outcome);
    }
}

void Engine::shortage(qint64 now)
{
    m_backoffMs = m_backoffMs == 0 ? 1 : std::min(m_backoffMs * 2, MaxBackoffMs);
    m_backoffUntil = now + ticksFromMs(m_backoffMs);
}

void Engine::run()
{
    std::vector<Ipv4> batch;
    std::vector<Ask> retries;
    SendRefusals refusals;
    DWORD waitMs = INFINITE;
    for (;;) {
        ::WaitForSingleObjectEx(m_wake, waitMs, TRUE);
        runCompletions();

        std::unique_lock lock(m_mutex);
        const quint64 epoch = m_epoch;
        m_inFlight -= m_completed;
        m_completed = 0;
        if (m_stopping) {
            m_retries.clear();
            // Nobody waits for the answers now: closing the handle cancels
            // the requests in flight, whose completions then come at once.
            if (m_icmp && m_inFlight > 0) {
                lock.unlock();
                ::IcmpCloseHandle(std::exchange(m_icmp, nullptr));
                waitMs = 50;
                continue;
            }
        }
        const bool inBackoff = m_backoffUntil > ticksNow();

        // Targets that send() hands over, sent while it waits.
        if (m_submitSerial != m_sentSerial) {
            batch.swap(m_submitted);
            const int timeoutMs = m_submitTimeoutMs;
            const int dataSize = m_submitDataSize;
            lock.unlock();
            refusals.clear();
            qsizetype sent = 0;
            int pending = 0;
            bool noRoom = false;
            if (!inBackoff) {
                const qint64 budgetEnd = ticksNow() + SendBudgetUs * m_ticksPerSecond / 1'000'000;
                for (; sent < qsizetype(batch.size()) && (sent == 0 || ticksNow() < budgetEnd); ++sent) {
                    DWORD error = 0;
                    const Sent result = sendOne({batch[std::size_t(sent)], epoch, timeoutMs, dataSize}, error);
                    if (result == Sent::NoRoom) {
                        shortage(ticksNow());
                        noRoom = true;
                        break;
                    }
                    if (result == Sent::Refused)
                        refusals.push_back({sent, systemText(error), int(error)});
                    else
                        pending += error == ERROR_IO_PENDING;
                }
                if (!noRoom)
                    m_backoffMs = 0;
            }
            batch.clear();
            lock.lock();
            m_inFlight += pending;
            m_sentCount = sent;
            m_submitRefusals.swap(refusals);
            m_sentSerial = m_submitSerial;
            m_handedOver.notify_all();
        }

        // Targets the system had no room for, once the back-off is over.
        if (!m_retries.empty() && m_backoffUntil <= ticksNow() && !m_stopping) {
            retries.clear();
            while (!m_retries.empty() && m_inFlight + int(retries.size()) < m_cap) {
                if (m_retries.front().epoch == m_epoch)
                    retries.push_back(m_retries.front());
                m_retries.pop_front();
            }
            lock.unlock();
            int pending = 0;
            for (std::size_t i = 0; i < retries.size(); ++i) {
                const Ask &retry = retries[i];
                DWORD error = 0;
                const Sent result = sendOne(retry, error);
                if (result == Sent::NoRoom) {
                    // The rest wait, in order, for the next try.
                    m_retries.insert(m_retries.begin(), retries.begin() + std::ptrdiff_t(i), retries.end());
                    shortage(ticksNow());
                    break;
                }
                if (i + 1 == retries.size())
                    m_backoffMs = 0;
                pending += result == Sent::Yes && error == ERROR_IO_PENDING;
                if (result == Sent::Refused) // it can never leave: no reply, after its timeout
                    m_held.emplace(ticksNow() + ticksFromMs(retry.timeoutMs),
                                   Outcome{retry.target, 0, false, retry.epoch});
            }
            lock.lock();
            m_inFlight += pending;
        }
        // Targets waiting to be sent again count against the cap while
        // their epoch lasts; cancel() has forgotten the others.
        m_retrying = int(std::count_if(m_retries.begin(), m_retries.end(),
                                       [this](const Ask &retry) { return retry.epoch == m_epoch; }));

        // Ends without a reply are told once their timeout has passed.
        const qint64 now = ticksNow();
        while (!m_held.empty() && m_held.top().first <= now) {
            m_finished.push_back(m_held.top().second);
            m_held.pop();
        }
        for (const Outcome &outcome : m_finished) {
            if (outcome.epoch == m_epoch)
                m_ended.push_back(outcome);
        }
        m_finished.clear();
        if (m_senderWaiting && m_inFlight + m_retrying < m_cap && m_backoffUntil <= now) {
            m_senderWaiting = false;
            m_readyDue = true;
        }
        if ((!m_ended.empty() || m_readyDue) && !m_deliveryQueued && m_owner) {
            m_deliveryQueued = true;
            m_post();
        }
        if (m_flushSerial != m_flushedSerial) {
            m_flushedSerial = m_flushSerial;
            m_handedOver.notify_all();
        }
        if (m_stopping && m_inFlight == 0)
            break;

        // Sleep until the next held end is due, or a back-off is over.
        qint64 until = m_held.empty() ? 0 : m_held.top().first;
        if ((!m_retries.empty() || m_senderWaiting) && m_backoffUntil > now)
            until = until == 0 ? m_backoffUntil : std::min(until, m_backoffUntil);
        if (!m_retries.empty() && m_backoffUntil <= now && m_inFlight < m_cap)
            until = now;
        waitMs = until == 0 ? INFINITE
                            : DWORD(std::max<qint64>(0, (until - now) * 1000 / m_ticksPerSecond + 1));
    }
}

class WindowsPinger final : public Pinger
{
public:
    explicit WindowsPinger(QObject *parent) : Pinger(parent) {}
    ~WindowsPinger() override;

    bool open() override;
    QString errorText() const override { return m_error; }
    QString mechanism() const override { return QStringLiteral("IP Helper"); }
    void setTimeout(int milliseconds) override
    {
        m_timeout = std::clamp(milliseconds, PingerMinTimeoutMs, PingerMaxTimeoutMs);
    }
    int timeout() const override { return m_timeout; }
    void setPacketSize(int dataBytes) override { m_dataSize = std::clamp(dataBytes, 1, EchoMaxData); }
    int packetSize() const override { return m_dataSize; }
    using Pinger::send;
    qsizetype send(std::span<const Ipv4> targets, SendRefusals &refusals) override;
    void cancel() override;
    qint64 outstanding() const override { return m_outstanding; }
    int drainMilliseconds() const override;
    void collect() override;

private:
    void deliver();

    std::shared_ptr<Engine> m_engine;
    HANDLE m_thread = nullptr;
    QString m_error;
    int m_timeout = PingerDefaultTimeoutMs;
    int m_dataSize = PingerDefaultDataSize;
    // Sent in this epoch and not yet reported.
    qint64 m_outstanding = 0;
    quint64 m_epoch = 0;
};

WindowsPinger::~WindowsPinger()
{
    if (!m_engine)
        return;
    // The worker goes on until the system has completed every request in
    // flight, then frees everything; nothing reaches this object again.
    {
        std::lock_guard lock(m_engine->m_mutex);
        m_engine->m_owner = nullptr;
        m_engine->m_stopping = true;
        ::SetEvent(m_engine->wake());
    }
    // Its end is waited for, briefly, so that a program that ends next does
    // not end the thread in the middle of a call into the system. Should
    // the cancelled requests be slow to come back, it goes on alone.
    ::WaitForSingleObject(m_thread, StopWaitMs);
    ::CloseHandle(m_thread);
}

bool WindowsPinger::open()
{
    if (m_engine)
        return true;
    // No privilege is needed: the IP stack sends the request itself.
    const HANDLE icmp = ::IcmpCreateFile();
    if (icmp == INVALID_HANDLE_VALUE) {
        m_error = QStringLiteral("Vexal cannot send ICMP echo requests: Windows refused it an ICMP handle (%1).")
                      .arg(systemText(::GetLastError()));
        return false;
    }
    const HANDLE wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!wake) {
        m_error = QStringLiteral("Vexal cannot send ICMP echo requests: %1.").arg(systemText(::GetLastError()));
        ::IcmpCloseHandle(icmp);
        return false;
    }
    auto engine = std::make_shared<Engine>(icmp, wake, isWine() ? WineInFlight : WindowsInFlight);
    engine->m_owner = this;
    engine->m_post = [this] { QMetaObject::invokeMethod(this, [this] { deliver(); }, Qt::QueuedConnection); };
    auto *handed = new std::shared_ptr<Engine>(engine);
    const HANDLE thread = ::CreateThread(nullptr, 0, &Engine::threadMain, handed, 0, nullptr);
    if (!thread) {
        m_error = QStringLiteral("Vexal cannot start its ICMP thread: %1.").arg(systemText(::GetLastError()));
        delete handed;
        return false;
    }
    m_thread = thread;
    m_engine = std::move(engine);
    m_error.clear();
    return true;
}

qsizetype WindowsPinger::send(std::span<const Ipv4> targets, SendRefusals &refusals)
{
    const qsizetype count = qsizetype(targets.size());
    if (!open()) {
        for (qsizetype i = 0; i < count; ++i)
            refusals.push_back({i, m_error});
        return count;
    }
    Engine &engine = *m_engine;
    std::unique_lock lock(engine.m_mutex);
    const qsizetype room = std::clamp<qsizetype>(engine.cap() - engine.m_inFlight - engine.m_retrying, 0, count);
    qsizetype done = 0;
    if (room > 0) {
        engine.m_submitted.assign(targets.begin(), targets.begin() + room);
        engine.m_submitTimeoutMs = m_timeout;
        engine.m_submitDataSize = m_dataSize;
        const quint64 serial = ++engine.m_submitSerial;
        ::SetEvent(engine.wake());
        engine.m_handedOver.wait(lock, [&] { return engine.m_sentSerial == serial; });
        done = engine.m_sentCount;
        m_outstanding += done - qsizetype(engine.m_submitRefusals.size());
        refusals.insert(refusals.end(), engine.m_submitRefusals.begin(), engine.m_submitRefusals.end());
    }
    if (done < count) {
        // The worker says ready() once a request ends or a back-off is over.
        engine.m_senderWaiting = true;
        ::SetEvent(engine.wake());
    }
    // Whatever ended meanwhile is delivered from the event loop, never from
    // inside send(): the caller has not counted these requests yet.
    return done;
}

int WindowsPinger::drainMilliseconds() const
{
    // A request waiting to be sent again has its whole timeout ahead of it.
    bool resending = false;
    if (m_engine) {
        std::lock_guard lock(m_engine->m_mutex);
        resending = m_engine->m_retrying > 0;
    }
    return m_timeout + DrainGraceMs + (resending ? MaxBackoffMs + m_timeout : 0);
}

void WindowsPinger::cancel()
{
    m_outstanding = 0;
    if (!m_engine)
        return;
    std::lock_guard lock(m_engine->m_mutex);
    // Completions of earlier epochs are dropped as they come in.
    m_epoch = ++m_engine->m_epoch;
    m_engine->m_retrying = 0;
    m_engine->m_ended.clear();
    m_engine->m_senderWaiting = false;
    m_engine->m_readyDue = false;
}

void WindowsPinger::collect()
{
    if (!m_engine)
        return;
    {
        // Have the worker run every completion queued so far and hand it
        // over before we look.
        std::unique_lock lock(m_engine->m_mutex);
        const quint64 serial = ++m_engine->m_flushSerial;
        ::SetEvent(m_engine->wake());
        m_engine->m_handedOver.wait(lock, [&] { return m_engine->m_flushedSerial >= serial; });
    }
    deliver();
}

void WindowsPinger::deliver()
{
    std::vector<Outcome> ended;
    bool readyDue = false;
    {
        std::lock_guard lock(m_engine->m_mutex);
        ended.swap(m_engine->m_ended);
        m_engine->m_deliveryQueued = false;
        readyDue = std::exchange(m_engine->m_readyDue, false);
    }
    // A receiver may send or cancel while we emit: a cancel ends this
    // delivery, a send's ends come in the next one.
    const quint64 epoch = m_epoch;
    bool any = false;
    for (const Outcome &outcome : ended) {
        if (epoch != m_epoch)
            return;
        if (outcome.epoch != epoch)
            continue;
        --m_outstanding;
        any = true;
        if (outcome.answered)
            emit replied(outcome.address, outcome.roundTripUs);
        else
            emit unanswered(outcome.address);
    }
    if (epoch != m_epoch)
        return;
    if (any && m_outstanding == 0)
        emit settled();
    if (readyDue)
        emit ready();
}

} // namespace

std::unique_ptr<Pinger> createSystemPinger(QObject *parent)
{
    return std::make_unique<WindowsPinger>(parent);
}

} // namespace vexal
