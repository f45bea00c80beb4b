#pragma once

#include "common/ipv4.h"

#include <QtGlobal>

#include <optional>
#include <vector>

namespace vexal {

// Pending echo requests of one identifier, by their 16-bit sequence number.
//
// Numbers are handed out consecutively, so the numbers from the oldest
// pending request up to the next free one are also the requests in send
// order: expiry pops from the front in O(1) amortised and needs no queue of
// its own. Times are in any monotonic unit chosen by the caller; a request
// is alive while its reply arrives before its deadline.
//
// A number is never taken from a request that is still alive: when all
// 65536 are pending the map is full and the caller must wait or use another
// identifier. A number may also have to rest after its request ended (see
// roomFor()), for messages too short to carry a tag.
class SequenceMap final
{
public:
    static constexpr int Capacity = 65536;

    SequenceMap();

    quint16 nextSequence() const { return m_next; }

    // How many of the next numbers, up to `wanted`, may be used at `now`. A
    // number whose request ended less than `rest` ago is not free yet: with
    // no tag in the message, a late reply to the old request would look like
    // an answer to the new one.
    int roomFor(int wanted, qint64 now, qint64 rest) const;
    // When the next number will be free, for a caller that found no room.
    qint64 roomAt(qint64 rest) const;

    // Records a request under nextSequence() and moves on. Only after
    // roomFor() has said there is room. `sendSpanMicroseconds` is how long
    // the send took that the deadline counts from the end of: its round trip
    // counts from its start.
    void add(Ipv4 target, qint64 deadline, quint64 tag, quint16 sendSpanMicroseconds = 0);
    // Uses up nextSequence() for a request that never left: it ends at once.
    void addRefused(qint64 now);

    struct Taken
    {
        qint64 deadline = 0;
        quint16 sendSpanMicroseconds = 0;
    };
    // The request `sequence` names, when it is pending, was sent to source,
    // carries tag, and its reply arrived before the deadline; it is
    // removed, so a duplicate reply finds nothing.
    std::optional<Taken> take(quint16 sequence, Ipv4 source, quint64 tag, qint64 arrival);

    // Drops the requests whose deadline has come; returns how many, and
    // appends their targets to `ended` when given. Call it only after
    // reading every reply that arrived before `now`, or a reply that came in
    // time is lost.
    int expire(qint64 now, std::vector<Ipv4> *ended = nullptr);

    // The deadline of the oldest pending request.
    std::optional<qint64> nextDeadline() const;

    // Forgets every pending request; they count as ended at `now`.
    void clear(qint64 now);
    int pending() const { return m_pending; }

private:
    struct Slot
    {
        quint64 tag = 0;
        // The deadline while pending; afterwards when the request ended.
        qint64 time = 0;
        Ipv4 target = 0;
        // In the slot's padding: no room taken for it.
        quint16 sendSpanMicroseconds = 0;
        bool pending = false;
        bool used = false;
    };

    // Advances the front past requests that are no longer pending.
    void popSettled();

    std::vector<Slot> m_slots;
    quint16 m_oldest = 0;
    quint16 m_next = 0;
    // Numbers from m_oldest up to m_next, answered ones included; 65536 when
    // m_oldest == m_next means full rather than empty.
    int m_window = 0;
    int m_pending = 0;
};

} // namespace vexal
