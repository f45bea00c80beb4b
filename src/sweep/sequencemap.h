#pragma once

#include "common/ipv4.h"

#include <QtGlobal>

#include <optional>
#include <vector>

namespace vexal {

// Pending echo requests by their 16-bit sequence number.
//
// Numbers are handed out consecutively, so the numbers from the oldest
// pending request up to the next free one are also the requests in send
// order: expiry pops from the front in O(1) amortised and needs no queue of
// its own. Deadlines are in any monotonic unit chosen by the caller; a
// request is alive while now < deadline.
//
// Deadlines are expected to grow with sending order (one timeout for a run).
// If a later request has an earlier deadline it still never matches after its
// deadline, but it is only counted as expired with the requests before it.
class SequenceMap final
{
public:
    static constexpr int Capacity = 65536;

    SequenceMap();

    quint16 nextSequence() const { return m_next; }

    // Records a request under nextSequence() and moves on. When all 65536
    // numbers are pending, the oldest request is dropped as expired to free
    // its number; returns true in that case.
    bool add(Ipv4 target, qint64 deadline, quint64 tag);

    // True when sequence names a pending request to source carrying tag that
    // is still alive at now; it is removed, so a duplicate reply finds nothing.
    bool take(quint16 sequence, Ipv4 source, quint64 tag, qint64 now);

    // Drops the requests whose deadline has come; returns how many.
    int expire(qint64 now);

    // The deadline of the oldest pending request.
    std::optional<qint64> nextDeadline() const;

    void clear();
    int pending() const { return m_pending; }

private:
    struct Slot
    {
        quint64 tag = 0;
        qint64 deadline = 0;
        Ipv4 target = 0;
        bool pending = false;
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
