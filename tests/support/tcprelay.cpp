#include "tcprelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <vector>

namespace TestSupport {

namespace {

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

/// Passes what has arrived on from to to; false when either side is done.
bool pass(int from, int to)
{
    char buffer[65536];
    ssize_t received = ::recv(from, buffer, sizeof buffer, 0);
    for (ssize_t sent = 0, n = 0; received > 0 && sent < received; sent += n) {
        if ((n = ::send(to, buffer + sent, size_t(received - sent), MSG_NOSIGNAL)) <= 0)
            return false;
    }
    return received > 0;
}

} // namespace

TcpRelay::TcpRelay(quint16 targetPort)
    : m_targetPort(targetPort)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listener, 16) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        qWarning("TcpRelay: cannot listen on 127.0.0.1");
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
}

TcpRelay::~TcpRelay()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        ::close(m_listener);
}

void TcpRelay::run()
{
    std::vector<std::array<int, 2>> pairs; // client, server
    const auto closePair = [](const std::array<int, 2> &pair) { ::close(pair[0]), ::close(pair[1]); };
    while (!m_stop) {
        // While not forwarding only the listener is polled: what arrives waits in the sockets.
        const size_t polled = m_forwarding ? pairs.size() : 0;
        std::vector<pollfd> fds {{m_listener, POLLIN, 0}};
        for (size_t i = 0; i < 2 * polled; ++i)
            fds.push_back({pairs[i / 2][i % 2], POLLIN, 0});
        // A short wait: the flags are looked at again at least this often.
        if (::poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        std::vector<std::array<int, 2>> open;
        for (size_t i = 0; i < pairs.size(); ++i) {
            const auto ready = [&](int side) { return i < polled && fds[1 + 2 * i + side].revents != 0; };
            if ((ready(0) && !pass(pairs[i][0], pairs[i][1])) || (ready(1) && !pass(pairs[i][1], pairs[i][0])))
                closePair(pairs[i]);
            else
                open.push_back(pairs[i]);
        }
        pairs.swap(open);
        if (fds[0].revents & POLLIN) {
            const std::array<int, 2> pair {::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC),
                                           ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
            const sockaddr_in target = loopback(m_targetPort);
            if (pair[0] >= 0 && pair[1] >= 0
                && ::connect(pair[1], reinterpret_cast<const sockaddr *>(&target), sizeof target) == 0)
                pairs.push_back(pair);
            else
                closePair(pair);
        }
    }
    for (const auto &pair : pairs)
        closePair(pair);
}

} // namespace TestSupport
