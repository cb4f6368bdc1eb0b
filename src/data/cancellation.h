#pragma once

#include <atomic>

namespace Orvantel {

/// How long a statement may go without hearing anything from the server before it is
/// abandoned (its connection dropped, to be reopened at the next use). An inactivity bound:
/// a long load that keeps receiving rows is not cut.
constexpr int ServerSilenceSeconds = 15;

/// Lets the waits of one thread on a server end early. While a Cancellation lives on a
/// thread, every bounded wait there (a PostgreSQL statement, SQLite's wait for a lock) also
/// ends soon after its flag is set, with the same error as a wait that ran out of time.
class Cancellation
{
public:
    explicit Cancellation(const std::atomic<bool> &flag);
    ~Cancellation();
    Cancellation(const Cancellation &) = delete;
    Cancellation &operator=(const Cancellation &) = delete;

    /// Whether the current thread's flag is set (false without a Cancellation).
    static bool requested();

private:
    const std::atomic<bool> *m_previous;
};

} // namespace Orvantel
