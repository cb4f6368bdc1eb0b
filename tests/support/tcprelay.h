#pragma once

#include <QtGlobal>

#include <atomic>
#include <thread>

namespace TestSupport {

/// A TCP relay on 127.0.0.1 to a server on this machine, run on a thread of its own.
/// While it does not forward it passes nothing on in either direction but keeps every
/// socket open and goes on accepting: to a client, a server that hangs (or a proxy that
/// keeps acknowledging) without ever closing the connection.
class TcpRelay
{
public:
    explicit TcpRelay(quint16 targetPort);
    ~TcpRelay();
    TcpRelay(const TcpRelay &) = delete;
    TcpRelay &operator=(const TcpRelay &) = delete;

    /// The port the relay listens on (0 when it could not listen).
    quint16 port() const { return m_port; }
    void setForwarding(bool forwarding) { m_forwarding = forwarding; }

private:
    void run();

    quint16 m_targetPort;
    quint16 m_port = 0;
    int m_listener = -1;
    std::atomic<bool> m_forwarding {true};
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
};

} // namespace TestSupport
