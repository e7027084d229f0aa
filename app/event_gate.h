#pragma once

#include <deque>
#include <optional>

namespace mizong {

// When the window's events may run. The window was designed for one thread
// that a lookup or a modal message occupies: nothing else ran until it was
// free. Here a lookup waits for its page without blocking, so this gate holds
// what would have waited: watchdog ticks while a lookup runs or a message is
// open, and a lookup's page while another handler's message is open. It only
// keeps state; the window runs what it hands back.
class EventGate final
{
public:
    enum class Lookup
    {
        None,
        Device,
        Sim
    };
    enum class Event
    {
        DeviceTick,
        SimTick,
        Page // the running lookup's page
    };

    void startLookup(Lookup lookup) { m_lookup = lookup; }
    void endLookup() { m_lookup = Lookup::None; }
    Lookup lookup() const { return m_lookup; }

    void openMessage() { m_messageOpen = true; }
    void closeMessage() { m_messageOpen = false; }
    bool isMessageOpen() const { return m_messageOpen; }

    // Whether the event may run now; if not, it is held (once, however often
    // it arrives) until next() hands it back.
    bool admit(Event event);

    // The first held event that may run now, taken off the list.
    std::optional<Event> next();
    bool hasHeld() const { return !m_held.empty(); }

    // A dropped lookup's page, or everything at the window's close.
    void drop(Event event);
    void clear();

private:
    bool mayRun(Event event) const;

    Lookup m_lookup = Lookup::None;
    bool m_messageOpen = false;
    std::deque<Event> m_held;
};

} // namespace mizong
