#pragma once

#include "common/ipv4.h"
#include "sweep/arppacket.h"
#include "sweep/helperprotocol.h"
#include "sweep/linkmap_linux.h"
#include "sweep/pingers_linux.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <memory>
#include <unordered_map>

class QSocketNotifier;

namespace vexal {

class HelperProcess;

// Asks on-link targets for their hardware address with ARP before any echo
// request goes to them (Linux). Only the targets that answer are then sent
// to through the kernel, so the kernel's neighbour table gets entries for
// live hosts alone, and the echo requests pass the host's firewall like any
// other. The questions are asked through a packet socket of this process
// (LocalArpResolver, for a process with the privilege) or by the helper
// program (HelperArpResolver).
class ArpResolver : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Whether questions can be asked now. One that cannot is not tried
    // again until cancel().
    virtual bool available() = 0;
    // Queues a question for the target, on the route's link and from its
    // source address; a target asked again while waiting is owed one more
    // echo request. False when too many wait already: ask again after
    // moreWelcome().
    virtual bool ask(Ipv4 target, const LinkRoute &route) = 0;
    // Echo requests owed to targets still being asked.
    qint64 waiting() const { return m_waitingCopies; }
    // How long the last of them may still take to be answered or given up.
    virtual int drainMilliseconds() const = 0;
    virtual void cancel() = 0;

    struct Answer
    {
        Ipv4 target = 0;
        HardwareAddress address{};
    };
    // One entry per echo request owed to a target that answered, in the
    // order the answers came; the pinger takes them from the front.
    std::deque<Answer> &answers() { return m_answers; }

signals:
    // answers() has new entries.
    void answered();
    // No answer to any try: the `copies` echo requests owed to it are given up.
    void gaveUp(quint32 target, int copies);
    // ask() takes questions again after it refused one.
    void moreWelcome();

protected:
    std::deque<Answer> m_answers;
    qint64 m_waitingCopies = 0;
};

// Questions through a packet socket of this process, at a steady pace with
// a short burst, three tries a second apart, as the kernel would. The
// socket is open only while targets are being asked, and hears only ARP
// replies addressed to this host, through a socket filter; while nothing is
// asked there is none, so nothing on any link wakes this process.
class LocalArpResolver final : public ArpResolver
{
    Q_OBJECT

public:
    LocalArpResolver(PacketSocketOpener openSocket, LinkMap &links, QObject *parent = nullptr);
    ~LocalArpResolver() override;

    bool available() override;
    bool ask(Ipv4 target, const LinkRoute &route) override;
    int drainMilliseconds() const override;
    void cancel() override;

private:
    struct Resolving
    {
        int tries = 0;
        int copies = 0;
        int interfaceIndex = 0;
        Ipv4 source = 0;
        // The serial of its last try: a record of an older try, or of an
        // earlier round of the same target, is not this one's.
        quint64 serial = 0;
    };
    struct Asked
    {
        qint64 due = 0;
        Ipv4 target = 0;
        quint64 serial = 0;
    };

    void pump();
    bool sendQuestion(Ipv4 target, Resolving &entry);
    void read();
    void listen();
    void close();

    PacketSocketOpener m_openSocket;
    LinkMap &m_links;
    int m_fd = -1;
    bool m_openFailed = false;
    QSocketNotifier *m_notifier = nullptr;
    bool m_listening = false;
    std::unordered_map<Ipv4, Resolving> m_resolving;
    std::deque<Ipv4> m_unasked;
    std::deque<Asked> m_asked;
    quint64 m_serial = 0;
    bool m_refused = false;
    double m_tokens = 0;
    qint64 m_tokensAt = 0;
    QTimer m_timer;
};

// Questions asked by the helper program, for a process that sends its echo
// requests itself through an ICMP datagram socket but may not ask ARP. The
// helper is started when the first on-link target needs it; without one
// that can ask, the pinger leaves such targets to the kernel.
class HelperArpResolver final : public ArpResolver
{
    Q_OBJECT

public:
    HelperArpResolver(const QString &program, QObject *parent = nullptr);
    ~HelperArpResolver() override;

    bool available() override;
    bool ask(Ipv4 target, const LinkRoute &route) override;
    int drainMilliseconds() const override;
    void cancel() override;

private:
    void flush();
    void onReceived(const helper::FromHelper &message);

    std::unique_ptr<HelperProcess> m_process;
    bool m_failed = false;
    quint32 m_epoch = 0;
    // Copies owed to each target the helper is asking.
    std::unordered_map<Ipv4, int> m_asking;
    std::vector<Ipv4> m_toAsk;
    bool m_refused = false;
    QTimer m_flushTimer;
};

} // namespace vexal
