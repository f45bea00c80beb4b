#pragma once

#include "common/ipv4.h"
#include "sweep/arppacket.h"
#include "sweep/linkmap_linux.h"
#include "sweep/pingers_linux.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <unordered_map>

class QSocketNotifier;

namespace vexal {

// Asks on-link targets for their hardware address with ARP through a packet
// socket, before any echo request goes to them (Linux, privileged path).
// Only the targets that answer are then sent to through the kernel, so the
// kernel's neighbour table gets entries for live hosts alone, and the echo
// requests pass the host's firewall like any other.
//
// Questions go out at a steady pace with a short burst, three tries a
// second apart, as the kernel would. The packet socket is open only while
// targets are being asked, and hears only ARP replies addressed to this
// host, through a socket filter; while nothing is asked there is none, so
// nothing on any link wakes this process.
class ArpResolver final : public QObject
{
    Q_OBJECT

public:
    ArpResolver(PacketSocketOpener openSocket, LinkMap &links, QObject *parent = nullptr);
    ~ArpResolver() override;

    // Whether questions can be asked: a packet socket is open, or opens
    // now. One that cannot be opened is not tried again until cancel().
    bool available();
    // Queues a question for the target, on the route's link and from its
    // source address; a target asked again while waiting is owed one more
    // echo request. False when too many wait for their first question: ask
    // again after moreWelcome().
    bool ask(Ipv4 target, const LinkRoute &route);

    struct Answer
    {
        Ipv4 target = 0;
        HardwareAddress address{};
    };
    // One entry per echo request owed to a target that answered, in the
    // order the answers came; the pinger takes them from the front.
    std::deque<Answer> &answers() { return m_answers; }
    // Echo requests owed to targets still being asked.
    qint64 waiting() const { return m_waitingCopies; }
    // How long the last of them may still take to be answered or given up.
    int drainMilliseconds() const;
    void cancel();

signals:
    // answers() has new entries.
    void answered();
    // No answer to any try: the `copies` echo requests owed to it are given up.
    void gaveUp(quint32 target, int copies);
    // ask() takes questions again after it refused one.
    void moreWelcome();

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
    std::deque<Answer> m_answers;
    qint64 m_waitingCopies = 0;
    quint64 m_serial = 0;
    bool m_refused = false;
    double m_tokens = 0;
    qint64 m_tokensAt = 0;
    QTimer m_timer;
};

} // namespace vexal
