#include "event_gate.h"

#include <algorithm>

namespace mizong {

bool EventGate::mayRun(Event event) const
{
    // A message's event loop is the only place where events come in the
    // middle of a handler; a lookup keeps ticks out until its last step.
    if (m_messageOpen)
        return false;
    return event == Event::Page || m_lookup == Lookup::None;
}

bool EventGate::admit(Event event)
{
    if (mayRun(event))
        return true;
    if (std::find(m_held.begin(), m_held.end(), event) == m_held.end())
        m_held.push_back(event);
    return false;
}

std::optional<EventGate::Event> EventGate::next()
{
    // While a lookup runs only its page may: ticks wait for its last step.
    const auto found =
        std::find_if(m_held.begin(), m_held.end(), [this](Event event) { return mayRun(event); });
    if (found == m_held.end())
        return std::nullopt;
    const Event event = *found;
    m_held.erase(found);
    return event;
}

void EventGate::drop(Event event)
{
    m_held.erase(std::remove(m_held.begin(), m_held.end(), event), m_held.end());
}

void EventGate::clear()
{
    m_held.clear();
}

} // namespace mizong
