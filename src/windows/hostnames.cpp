#include "windows/hostnames.h"

namespace vexal {

namespace {

constexpr int MaxLookups = 4;

} // namespace

HostNames::HostNames(QObject *parent)
    : QObject(parent)
{
}

std::optional<QString> HostNames::name(Ipv4 address)
{
    if (const auto known = m_names.constFind(address); known != m_names.constEnd())
        return *known;
    m_names.insert(address, std::nullopt);
    m_waiting.append(address);
    startNext();
    return std::nullopt;
}

void HostNames::startNext()
{
    while (m_running < MaxLookups && !m_waiting.isEmpty()) {
        const Ipv4 address = m_waiting.takeLast(); // the latest ask is the one on screen
        ++m_running;
        m_work.run([address] { return reverseHostName(address); },
                   [this, address](const QString &name) {
                       --m_running;
                       m_names.insert(address, name);
                       emit found(address);
                       startNext();
                   });
    }
}

} // namespace vexal
