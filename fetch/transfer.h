#pragma once

// Between a fetch and the engine that runs its transfer. On Linux the engine
// is a module of its own (mizong-transfer.so), loaded on the transfer's thread
// at the first fetch: libcurl, Qt Network and the two dozen libraries they
// pull in are then no part of the program's start. On Windows it is linked in.

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <mutex>

namespace mizong::transfer {

struct Setup
{
    QByteArray url;
    qint64 maxBodyBytes = 0;
    std::chrono::milliseconds deadline{0}; // what is left of the fetch's
    QByteArray extraCa;
    QByteArray noProxy;
    QByteArray userAgent;
    // Redirects followed at most; one more fails the transfer.
    int maxRedirects = 0;
    // No proxy variable names one: the system's settings decide, per address.
    bool systemProxy = false;
};

// The cancel side of one transfer, shared by the fetch (which cancels, from
// its thread) and the transfer's thread (which looks, and can be woken).
class Control
{
public:
    using Wake = void (*)(void* handle);

    void cancel()
    {
        const std::lock_guard lock(m_mutex);
        m_cancelled = true;
        if (m_wake)
            m_wake(m_handle);
    }

    bool isCancelled() const { return m_cancelled.load(); }
    const std::atomic<bool>& cancelledFlag() const { return m_cancelled; }

    // While a transfer waits on the network, a cancel calls wake(handle); the
    // transfer clears it (nullptr) before the handle goes away.
    void setWaker(Wake wake, void* handle)
    {
        const std::lock_guard lock(m_mutex);
        m_wake = wake;
        m_handle = handle;
    }

private:
    std::mutex m_mutex;
    std::atomic<bool> m_cancelled{false};
    Wake m_wake = nullptr;
    void* m_handle = nullptr;
};

// The last answer of a GET, after its redirects.
struct Response
{
    QByteArray body;        // inflated when the server compressed it
    QByteArray contentType; // its Content-Type as sent; empty without one
    int status = 0;
    QByteArray url; // the address that gave it
    // Redirects followed, also when the transfer failed.
    int redirects = 0;
};

struct Engine
{
    // Runs one GET to its end on the calling thread; true when the whole
    // answer arrived as the server framed it.
    bool (*run)(const Setup& setup, Control& control, Response& response);
};

// The engine, its libraries set up on the first call (on the calling
// thread); nullptr when they cannot be. Safe to call from any thread.
using EngineFunction = const Engine* (*)();
inline constexpr char kEngineSymbol[] = "mizong_transfer_engine";

} // namespace mizong::transfer

// Defined by the engine; the program calls it directly only where the engine
// is linked in.
extern "C" const mizong::transfer::Engine* mizong_transfer_engine();
