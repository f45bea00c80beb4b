#include "sweep/pinger.h"
#include "sweep/pingers_linux.h"

#include <cerrno>
#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vexal {

namespace {

// Chooses, at the first Start that finds none open, the pinger this
// process may have, and then is that pinger. An ICMP datagram socket needs
// no privilege; where the system refuses it, root opens a raw socket
// itself, and anybody else asks the helper program, which alone holds the
// capability for one. So this process, which loads Qt's plugins, styles and
// themes and the user's dialogs, never holds a privileged socket.
class SystemPinger final : public Pinger
{
public:
    explicit SystemPinger(QObject *parent) : Pinger(parent) {}

    bool open() override;
    QString errorText() const override { return m_inner ? m_inner->errorText() : m_error; }
    QString mechanism() const override { return m_inner ? m_inner->mechanism() : QString(); }
    void setTimeout(int milliseconds) override;
    int timeout() const override { return m_inner ? m_inner->timeout() : m_timeout; }
    void setPacketSize(int dataBytes) override;
    int packetSize() const override { return m_inner ? m_inner->packetSize() : m_dataSize; }
    using Pinger::send;
    qsizetype send(std::span<const Ipv4> targets, SendRefusals &refusals) override;
    void cancel() override
    {
        if (m_inner)
            m_inner->cancel();
    }
    qint64 outstanding() const override { return m_inner ? m_inner->outstanding() : 0; }
    int drainMilliseconds() const override { return m_inner ? m_inner->drainMilliseconds() : m_timeout; }
    int targetsPerTurn() const override { return m_inner ? m_inner->targetsPerTurn() : Pinger::targetsPerTurn(); }
    void collect() override
    {
        if (m_inner)
            m_inner->collect();
    }
    std::optional<HardwareAddress> hardwareAddress(Ipv4 address) const override
    {
        return m_inner ? m_inner->hardwareAddress(address) : std::nullopt;
    }

private:
    std::unique_ptr<Pinger> choose();

    std::unique_ptr<Pinger> m_inner;
    QString m_error;
    int m_timeout = 300;
    int m_dataSize = 64;
};

std::unique_ptr<Pinger> SystemPinger::choose()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) {
        ::close(fd);
        // The helper asks ARP for on-link targets, where it may.
        return createLocalPinger(helperProgramPath());
    }
    const int error = errno;
    // The errors for which a raw socket is the way on; see LinuxPinger.
    if (error != EACCES && error != EPERM && error != EAFNOSUPPORT && error != EPROTONOSUPPORT) {
        m_error = QStringLiteral("Vexal cannot open an ICMP socket: %1.").arg(QString::fromLocal8Bit(std::strerror(error)));
        return nullptr;
    }
    if (::geteuid() == 0)
        return createLocalPinger();
    return createHelperPinger(helperProgramPath(), error);
}

bool SystemPinger::open()
{
    if (m_inner)
        return true;
    std::unique_ptr<Pinger> inner = choose();
    if (!inner)
        return false;
    inner->setTimeout(m_timeout);
    inner->setPacketSize(m_dataSize);
    if (!inner->open()) {
        // Asked again at the next Start: the administrator may have done
        // what the message says in the meantime.
        m_error = inner->errorText();
        return false;
    }
    m_inner = std::move(inner);
    connect(m_inner.get(), &Pinger::replied, this, &Pinger::replied);
    connect(m_inner.get(), &Pinger::unanswered, this, &Pinger::unanswered);
    connect(m_inner.get(), &Pinger::hardwareAddressLearned, this, &Pinger::hardwareAddressLearned);
    connect(m_inner.get(), &Pinger::settled, this, &Pinger::settled);
    connect(m_inner.get(), &Pinger::ready, this, &Pinger::ready);
    return true;
}

void SystemPinger::setTimeout(int milliseconds)
{
    m_timeout = milliseconds;
    if (m_inner)
        m_inner->setTimeout(milliseconds);
}

void SystemPinger::setPacketSize(int dataBytes)
{
    m_dataSize = dataBytes;
    if (m_inner)
        m_inner->setPacketSize(dataBytes);
}

qsizetype SystemPinger::send(std::span<const Ipv4> targets, SendRefusals &refusals)
{
    if (!open()) {
        for (qsizetype i = 0; i < qsizetype(targets.size()); ++i)
            refusals.push_back({i, m_error});
        return qsizetype(targets.size());
    }
    return m_inner->send(targets, refusals);
}

} // namespace

std::unique_ptr<Pinger> createSystemPinger(QObject *parent)
{
    return std::make_unique<SystemPinger>(parent);
}

} // namespace vexal
