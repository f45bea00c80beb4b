#pragma once

#include "common/ipv4.h"

#include <QObject>
#include <QString>

#include <memory>

namespace vexal {

// Sends ICMP echo requests and reports the echo replies that answer them.
//
// Requests are asynchronous: send() returns at once and every reply that
// arrives within the timeout is reported by replied(), carrying the address
// that answered. Nothing is reported for a timeout, an error, a reply to
// somebody else's request, a duplicate, or anything sent before cancel().
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

    virtual void send(Ipv4 address) = 0;
    // Forgets every outstanding request; no reply to any of them is reported.
    virtual void cancel() = 0;
    // Requests neither answered, expired nor cancelled yet.
    virtual int outstanding() const = 0;

signals:
    void replied(quint32 address);
    // outstanding() has dropped to zero because the last request was answered
    // or expired. Not emitted by cancel().
    void settled();
};

// The operating system's pinger; defined once per platform.
std::unique_ptr<Pinger> createSystemPinger(QObject *parent = nullptr);

} // namespace vexal
