#include "sweep/sequencemap.h"

#include <algorithm>

namespace vexal {

SequenceMap::SequenceMap()
    : m_slots(Capacity)
{
}

int SequenceMap::roomFor(int wanted, qint64 now, qint64 rest) const
{
    const int free = std::min(wanted, Capacity - m_window);
    if (rest <= 0)
        return free;
    // Numbers are reused in order, so the first resting one ends the run.
    for (int i = 0; i < free; ++i) {
        const Slot &slot = m_slots[quint16(m_next + i)];
        if (slot.used && now < slot.time + rest)
            return i;
    }
    return free;
}

qint64 SequenceMap::roomAt(qint64 rest) const
{
    const Slot &slot = m_slots[m_next];
    // When full, the next number is the oldest pending request's: it frees at
    // its deadline and then rests like any other.
    if (!slot.used)
        return 0;
    return slot.time + std::max<qint64>(rest, 0);
}

void SequenceMap::add(Ipv4 target, qint64 deadline, quint64 tag, quint16 sendSpanMicroseconds)
{
    m_slots[m_next] = Slot{tag, deadline, target, sendSpanMicroseconds, true, true};
    ++m_next;
    ++m_window;
    ++m_pending;
}

void SequenceMap::addRefused(qint64 now)
{
    Slot &slot = m_slots[m_next];
    slot.pending = false;
    slot.used = true;
    slot.time = now;
    ++m_next;
    ++m_window;
    popSettled();
}

std::optional<SequenceMap::Taken> SequenceMap::take(quint16 sequence, Ipv4 source, quint64 tag, qint64 arrival)
{
    Slot &slot = m_slots[sequence];
    if (!slot.pending || slot.target != source || slot.tag != tag || arrival >= slot.time)
        return std::nullopt;
    const Taken taken{slot.time, slot.sendSpanMicroseconds};
    slot.pending = false;
    slot.time = arrival;
    --m_pending;
    if (sequence == m_oldest)
        popSettled();
    return taken;
}

int SequenceMap::expire(qint64 now, std::vector<Ipv4> *ended)
{
    int expired = 0;
    while (m_window > 0) {
        Slot &slot = m_slots[m_oldest];
        if (slot.pending) {
            if (now < slot.time)
                break;
            // It ended at its deadline; the rest counts from there.
            slot.pending = false;
            --m_pending;
            ++expired;
            if (ended)
                ended->push_back(slot.target);
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
    return m_slots[m_oldest].time;
}

void SequenceMap::clear(qint64 now)
{
    for (int i = 0; i < m_window; ++i) {
        Slot &slot = m_slots[quint16(m_oldest + i)];
        if (slot.pending) {
            slot.pending = false;
            slot.time = now;
        }
    }
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
