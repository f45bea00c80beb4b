#include "sweep/sequencemap.h"

namespace vexal {

SequenceMap::SequenceMap()
    : m_slots(Capacity)
{
}

bool SequenceMap::add(Ipv4 target, qint64 deadline, quint64 tag)
{
    bool dropped = false;
    if (m_window == Capacity) {
        // Every number is taken and the front is pending: reusing its number
        // while it could still be answered would let its late reply match the
        // new request, so it goes first.
        m_slots[m_oldest].pending = false;
        --m_pending;
        ++m_oldest;
        --m_window;
        dropped = true;
        popSettled();
    }
    m_slots[m_next] = Slot{tag, deadline, target, true};
    ++m_next;
    ++m_window;
    ++m_pending;
    return dropped;
}

bool SequenceMap::take(quint16 sequence, Ipv4 source, quint64 tag, qint64 now)
{
    Slot &slot = m_slots[sequence];
    if (!slot.pending || slot.target != source || slot.tag != tag || now >= slot.deadline)
        return false;
    slot.pending = false;
    --m_pending;
    if (sequence == m_oldest)
        popSettled();
    return true;
}

int SequenceMap::expire(qint64 now)
{
    int expired = 0;
    while (m_window > 0) {
        Slot &slot = m_slots[m_oldest];
        if (slot.pending) {
            if (now < slot.deadline)
                break;
            slot.pending = false;
            --m_pending;
            ++expired;
        }
        ++m_oldest;
        --m_window;
    }
    return expired;
}

std::optional<qint64> SequenceMap::nextDeadline() const
{
    // The front is always pending (popSettled), so its deadline is the next.
    if (m_window == 0)
        return std::nullopt;
    return m_slots[m_oldest].deadline;
}

void SequenceMap::clear()
{
    for (int i = 0; i < m_window; ++i)
        m_slots[quint16(m_oldest + i)].pending = false;
    m_oldest = m_next;
    m_window = 0;
    m_pending = 0;
}

void SequenceMap::popSettled()
{
    while (m_window > 0 && !m_slots[m_oldest].pending) {
        ++m_oldest;
        --m_window;
    }
}

} // namespace vexal
