#include "sweep/helperprotocol.h"

#include <QtEndian>

namespace vexal::helper {

namespace {

class Writer
{
public:
    explicit Writer(std::vector<quint8> &out) : m_out(out) {}
    void byte(quint8 value) { m_out.push_back(value); }
    void u16(quint16 value) { put(value); }
    void u32(quint32 value) { put(value); }

private:
    template <typename T>
    void put(T value)
    {
        const std::size_t at = m_out.size();
        m_out.resize(at + sizeof(T));
        qToLittleEndian<T>(value, m_out.data() + at);
    }
    std::vector<quint8> &m_out;
};

// Reads fields in order; any read past the end leaves it failed.
class Reader
{
public:
    explicit Reader(std::span<const quint8> bytes) : m_bytes(bytes) {}
    quint8 byte() { return get<quint8>(); }
    quint16 u16() { return get<quint16>(); }
    quint32 u32() { return get<quint32>(); }
    bool failed() const { return m_failed; }
    std::size_t left() const { return m_bytes.size() - m_at; }
    // All read, nothing left over.
    bool whole() const { return !m_failed && m_at == m_bytes.size(); }

private:
    template <typename T>
    T get()
    {
        if (m_failed || left() < sizeof(T)) {
            m_failed = true;
            return T{};
        }
        const T value = qFromLittleEndian<T>(m_bytes.data() + m_at);
        m_at += sizeof(T);
        return value;
    }
    std::span<const quint8> m_bytes;
    std::size_t m_at = 0;
    bool m_failed = false;
};

template <class... Ts>
struct Overloaded : Ts...
{
    using Ts::operator()...;
};
// Clang before 17 deduces no aggregate's template arguments by itself.
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

} // namespace

void encode(const ToHelper &message, std::vector<quint8> &out)
{
    Writer w(out);
    std::visit(Overloaded{
                   [&](const Configure &m) {
                       w.byte(quint8(Type::Configure));
                       w.u32(m.timeoutMs);
                       w.u16(m.dataBytes);
                   },
                   [&](const Send &m) {
                       w.byte(quint8(Type::Send));
                       w.u16(quint16(m.targets.size()));
                       for (const Ipv4 target : m.targets)
                           w.u32(target);
                   },
                   [&](const Cancel &m) {
                       w.byte(quint8(Type::Cancel));
                       w.u32(m.epoch);
                   },
                   [&](const Collect &m) {
                       w.byte(quint8(Type::Collect));
                       w.u32(m.token);
                   },
                   [&](const Resolve &m) {
                       w.byte(quint8(Type::Resolve));
                       w.u16(quint16(m.targets.size()));
                       for (const Ipv4 target : m.targets)
                           w.u32(target);
                   },
               },
               message);
}

void encode(const FromHelper &message, std::vector<quint8> &out)
{
    Writer w(out);
    std::visit(Overloaded{
                   [&](const Hello &m) {
                       w.byte(quint8(Type::Hello));
                       w.u16(m.version);
                       w.u32(quint32(m.rawError));
                       w.u32(quint32(m.packetError));
                   },
                   [&](const Report &m) {
                       w.byte(quint8(Type::Report));
                       w.byte(m.settled ? 1 : 0);
                       w.u32(m.epoch);
                       w.u32(m.dealt);
                       w.u32(m.outstanding);
                       w.u32(m.drainMs);
                       w.u16(quint16(m.refusals.size()));
                       w.u16(quint16(m.replies.size()));
                       w.u16(quint16(m.unanswered.size()));
                       w.u16(quint16(m.hardware.size()));
                       for (const Refusal &r : m.refusals) {
                           w.u32(r.index);
                           w.u32(quint32(r.error));
                       }
                       for (const Reply &reply : m.replies) {
                           w.u32(reply.address);
                           w.u32(reply.roundTripMicroseconds);
                       }
                       for (const Ipv4 target : m.unanswered)
                           w.u32(target);
                       for (const Hardware &h : m.hardware) {
                           w.u32(h.address);
                           for (const quint8 b : h.hardware)
                               w.byte(b);
                       }
                   },
                   [&](const Collected &m) {
                       w.byte(quint8(Type::Collected));
                       w.u32(m.epoch);
                       w.u32(m.token);
                   },
                   [&](const Resolved &m) {
                       w.byte(quint8(Type::Resolved));
                       w.u32(m.epoch);
                       w.u16(quint16(m.answered.size()));
                       w.u16(quint16(m.silent.size()));
                       for (const Resolution &r : m.answered) {
                           w.u32(r.target);
                           for (const quint8 b : r.address)
                               w.byte(b);
                       }
                       for (const Ipv4 target : m.silent)
                           w.u32(target);
                   },
               },
               message);
}

std::optional<ToHelper> decodeToHelper(std::span<const quint8> message)
{
    Reader r(message);
    switch (Type(r.byte())) {
    case Type::Configure: {
        Configure m;
        m.timeoutMs = r.u32();
        m.dataBytes = r.u16();
        if (!r.whole() || m.timeoutMs < quint32(MinTimeoutMs) || m.timeoutMs > quint32(MaxTimeoutMs)
            || m.dataBytes < MinDataBytes || m.dataBytes > MaxDataBytes)
            return std::nullopt;
        return m;
    }
    case Type::Send:
    case Type::Resolve: {
        const Type type = Type(message[0]);
        const quint16 count = r.u16();
        if (r.failed() || count == 0 || count > MaxTargetsPerMessage || r.left() != std::size_t(count) * 4)
            return std::nullopt;
        std::vector<Ipv4> targets(count);
        for (Ipv4 &target : targets)
            target = r.u32();
        if (type == Type::Send)
            return Send{std::move(targets)};
        return Resolve{std::move(targets)};
    }
    case Type::Cancel: {
        Cancel m{r.u32()};
        return r.whole() ? std::optional<ToHelper>(m) : std::nullopt;
    }
    case Type::Collect: {
        Collect m{r.u32()};
        return r.whole() ? std::optional<ToHelper>(m) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<FromHelper> decodeFromHelper(std::span<const quint8> message)
{
    Reader r(message);
    switch (Type(r.byte())) {
    case Type::Hello: {
        Hello m;
        m.version = r.u16();
        m.rawError = qint32(r.u32());
        m.packetError = qint32(r.u32());
        if (!r.whole() || m.rawError < 0 || m.packetError < 0)
            return std::nullopt;
        return m;
    }
    case Type::Report: {
        Report m;
        const quint8 flags = r.byte();
        m.epoch = r.u32();
        m.dealt = r.u32();
        m.outstanding = r.u32();
        m.drainMs = r.u32();
        const quint16 refusals = r.u16();
        const quint16 replies = r.u16();
        const quint16 unanswered = r.u16();
        const quint16 hardware = r.u16();
        if (r.failed() || flags > 1 || refusals > MaxRefusalsPerMessage || replies > MaxRepliesPerMessage
            || unanswered > MaxUnansweredPerMessage || hardware > MaxHardwarePerMessage || refusals > m.dealt
            || r.left() != std::size_t(refusals) * 8 + std::size_t(replies) * 8 + std::size_t(unanswered) * 4
                    + std::size_t(hardware) * 10)
            return std::nullopt;
        m.settled = flags == 1;
        m.refusals.resize(refusals);
        quint32 next = 0;
        for (Refusal &refusal : m.refusals) {
            refusal.index = r.u32();
            refusal.error = qint32(r.u32());
            // In order, each once, among the targets dealt with.
            if (refusal.index < next || refusal.index >= m.dealt || refusal.error <= 0)
                return std::nullopt;
            next = refusal.index + 1;
        }
        m.replies.resize(replies);
        for (Reply &reply : m.replies) {
            reply.address = r.u32();
            reply.roundTripMicroseconds = r.u32();
            // No reply takes longer than the longest timeout.
            if (reply.roundTripMicroseconds > quint32(MaxTimeoutMs) * 1000)
                return std::nullopt;
        }
        m.unanswered.resize(unanswered);
        for (Ipv4 &target : m.unanswered)
            target = r.u32();
        m.hardware.resize(hardware);
        for (Hardware &h : m.hardware) {
            h.address = r.u32();
            for (quint8 &b : h.hardware)
                b = r.byte();
            if (!isStationAddress(h.hardware))
                return std::nullopt;
        }
        return m;
    }
    case Type::Collected: {
        Collected m;
        m.epoch = r.u32();
        m.token = r.u32();
        return r.whole() ? std::optional<FromHelper>(m) : std::nullopt;
    }
    case Type::Resolved: {
        Resolved m;
        m.epoch = r.u32();
        const quint16 answered = r.u16();
        const quint16 silent = r.u16();
        if (r.failed() || answered + silent == 0 || answered > MaxResolvedPerMessage || silent > MaxResolvedPerMessage
            || r.left() != std::size_t(answered) * 10 + std::size_t(silent) * 4)
            return std::nullopt;
        m.answered.resize(answered);
        for (Resolution &resolution : m.answered) {
            resolution.target = r.u32();
            for (quint8 &b : resolution.address)
                b = r.byte();
            // Zero, or one station: never a group address.
            if (resolution.address != HardwareAddress{} && !isStationAddress(resolution.address))
                return std::nullopt;
        }
        m.silent.resize(silent);
        for (Ipv4 &target : m.silent)
            target = r.u32();
        return m;
    }
    default:
        return std::nullopt;
    }
}

} // namespace vexal::helper
