#pragma once

#include "common/ipv4.h"
#include "sweep/arppacket.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace vexal {

// A target that send() dealt with but could not send, and why in the
// system's words ("Network is unreachable"): no reply will ever come.
struct SendRefusal
{
    // Position in the targets handed to send().
    qsizetype index = 0;
    QString reason;
    // The errno behind it, where the system gave one.
    int error = 0;
};
using SendRefusals = std::vector<SendRefusal>;

// What every pinger accepts, and starts with.
constexpr int PingerMinTimeoutMs = 1;
constexpr int PingerMaxTimeoutMs = 32000;
constexpr int PingerDefaultTimeoutMs = 300;
constexpr int PingerDefaultDataSize = 64;

// Sends ICMP echo requests and reports the echo replies that answer them.
//
// Requests are asynchronous: send() returns at once and every reply that
// arrives within the timeout is reported by replied(), carrying the address
// that answered and the round trip; a request that ends without one (its
// timeout passed, or its neighbour never answered ARP) by unanswered().
// Nothing is reported for an error, a reply to somebody else's request, a
// duplicate, or anything sent before cancel(). Every request that leaves
// lives its full timeout.
class Pinger : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~Pinger() override = default;

    // Acquires what sending needs (a socket). Idempotent. False when that is
    // impossible; errorText() then says why and how to fix it.
    virtual bool open() = 0;
    virtual QString errorText() const = 0;
    // A short word for reports and diagnostics ("datagram", "raw", "fake").
    virtual QString mechanism() const = 0;

    // Milliseconds, 1 to 32000; applies to requests sent afterwards.
    virtual void setTimeout(int milliseconds) = 0;
    virtual int timeout() const = 0;
    // Bytes of echo data after the ICMP header, 1 to 512.
    virtual void setPacketSize(int dataBytes) = 0;
    virtual int packetSize() const = 0;

    // Sends one request to each target, in order, as far as that is possible
    // now, and returns how many targets it dealt with: sent, or refused for
    // good (those are appended to refusals). The others, from the returned
    // position on, could not be sent yet (a full queue, every sequence
    // number in use, or a helper process still at work on them); offer the
    // same targets again, in the same order, after ready(). Never re-enters
    // the caller: replies are reported from the event loop.
    virtual qsizetype send(std::span<const Ipv4> targets, SendRefusals &refusals) = 0;
    // One target; true when its request left.
    bool send(Ipv4 target);
    // Forgets every outstanding request; no reply to any of them is reported.
    virtual void cancel() = 0;
    // Requests neither answered, expired nor cancelled yet.
    virtual qint64 outstanding() const = 0;
    // How long the last of them may still take, at most: the timeout, or
    // more where a request is yet to leave (a neighbour still being asked).
    virtual int drainMilliseconds() const { return timeout(); }
    // How many targets a sweep without a delay offers per turn of the event
    // loop: a few milliseconds of sending in this process, or more where
    // another process sends them and should never run dry.
    virtual int targetsPerTurn() const { return 1024; }
    // Reads every reply that has arrived and reports those that came in time
    // before returning (replied() and settled() may be emitted from here).
    virtual void collect() = 0;
    // The hardware address of an on-link host that answered, where known:
    // from its answer to ARP, or from the kernel's neighbour table.
    virtual std::optional<HardwareAddress> hardwareAddress(Ipv4) const { return std::nullopt; }

signals:
    // From the send to the kernel's time stamp of the reply's arrival.
    void replied(quint32 address, quint32 roundTripMicroseconds);
    void unanswered(quint32 address);
    // An on-link target answered ARP from this hardware address (packed,
    // see packHardwareAddress()), before its echo request left.
    void hardwareAddressLearned(quint32 address, quint64 hardwareAddress);
    // outstanding() has dropped to zero because the last request was answered
    // or expired. Not emitted by cancel().
    void settled();
    // send() may take more now, after it returned short.
    void ready();
};

// The operating system's pinger, defined once per platform. On Linux: ICMP
// datagram sockets where the system allows them; where it refuses them, a
// raw socket of its own for root, and otherwise the small privileged helper
// program, so that this process never holds a privileged socket.
std::unique_ptr<Pinger> createSystemPinger(QObject *parent = nullptr);

} // namespace vexal
