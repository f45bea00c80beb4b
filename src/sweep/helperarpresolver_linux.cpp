#include "sweep/arpresolver_linux.h"
#include "sweep/helperprocess_linux.h"

#include <algorithm>

namespace vexal {

namespace {

// At most this many targets wait for the helper's answer; the helper asks
// at its own steady pace whatever it is given.
constexpr std::size_t MaxAsking = 16384;
// The helper's pace (see LocalArpResolver): questions a second, tries, and
// the time between them.
constexpr qint64 QuestionsPerSecond = 20'000;
constexpr int TriesMs = 3 * 1000;

} // namespace

HelperArpResolver::HelperArpResolver(const QString &program, QObject *parent)
    : ArpResolver(parent)
    , m_process(std::make_unique<HelperProcess>(program))
{
    connect(m_process.get(), &HelperProcess::received, this, &HelperArpResolver::onReceived);
    connect(m_process.get(), &HelperProcess::gone, this, [this] {
        // Nothing will be answered now: every target still asked is given
        // up, and no helper is asked again until the next cancel().
        m_failed = true;
        m_process->stop();
        const auto asking = std::move(m_asking);
        m_asking.clear();
        m_toAsk.clear();
        m_waitingCopies = 0;
        for (const auto &[target, copies] : asking)
            emit gaveUp(target, copies);
    });
    // The questions of one turn of the event loop go in one message.
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    connect(&m_flushTimer, &QTimer::timeout, this, &HelperArpResolver::flush);
}

HelperArpResolver::~HelperArpResolver() = default;

bool HelperArpResolver::available()
{
    if (m_process->running())
        return true;
    if (m_failed)
        return false;
    // Started when the first on-link target needs it. A helper that cannot
    // ask (not installed, or without its capability) is no error: the
    // kernel resolves such targets itself, more slowly.
    if (!m_process->start() || m_process->hello().packetError != 0) {
        m_process->stop();
        m_failed = true;
        return false;
    }
    // A new helper has seen no cancel.
    m_epoch = 0;
    return true;
}

bool HelperArpResolver::ask(Ipv4 target, const LinkRoute &)
{
    if (!available())
        return false;
    auto [entry, added] = m_asking.try_emplace(target, 0);
    if (added && m_asking.size() > MaxAsking) {
        m_asking.erase(entry);
        m_refused = true;
        return false;
    }
    ++entry->second;
    ++m_waitingCopies;
    if (added) {
        m_toAsk.push_back(target);
        if (int(m_toAsk.size()) >= helper::MaxTargetsPerMessage)
            flush();
        else if (!m_flushTimer.isActive())
            m_flushTimer.start();
    }
    return true;
}

void HelperArpResolver::flush()
{
    m_flushTimer.stop();
    for (std::size_t from = 0; from < m_toAsk.size(); from += helper::MaxTargetsPerMessage) {
        const std::size_t to = std::min(m_toAsk.size(), from + helper::MaxTargetsPerMessage);
        m_process->post(helper::Resolve{std::vector<Ipv4>(m_toAsk.begin() + std::ptrdiff_t(from),
                                                          m_toAsk.begin() + std::ptrdiff_t(to))});
    }
    m_toAsk.clear();
}

void HelperArpResolver::onReceived(const helper::FromHelper &message)
{
    const auto *resolved = std::get_if<helper::Resolved>(&message);
    if (!resolved || resolved->epoch != m_epoch)
        return;
    bool any = false;
    for (const helper::Resolution &resolution : resolved->answered) {
        const auto entry = m_asking.find(resolution.target);
        if (entry == m_asking.end())
            continue;
        for (int copy = 0; copy < entry->second; ++copy)
            m_answers.push_back({resolution.target, resolution.address});
        m_waitingCopies -= entry->second;
        m_asking.erase(entry);
        any = true;
    }
    for (const Ipv4 target : resolved->silent) {
        const auto entry = m_asking.find(target);
        if (entry == m_asking.end())
            continue;
        const int copies = entry->second;
        m_waitingCopies -= copies;
        m_asking.erase(entry);
        emit gaveUp(target, copies);
    }
    if (any)
        emit answered();
    if (m_refused && m_asking.size() < MaxAsking / 2) {
        m_refused = false;
        emit moreWelcome();
    }
}

int HelperArpResolver::drainMilliseconds() const
{
    if (m_asking.empty())
        return 0;
    return int(qint64(m_asking.size()) * 1000 / QuestionsPerSecond) + TriesMs + 200;
}

void HelperArpResolver::cancel()
{
    ++m_epoch;
    m_asking.clear();
    m_toAsk.clear();
    m_answers.clear();
    m_waitingCopies = 0;
    m_refused = false;
    m_flushTimer.stop();
    m_failed = false;
    if (m_process->running())
        m_process->post(helper::Cancel{m_epoch});
}

} // namespace vexal
