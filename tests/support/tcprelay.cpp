#include "tcprelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace TestSupport {

namespace {

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

/// Passes what has arrived on from to to; false when either side is done.
bool pass(int from, int to)
{
    char buffer[65536];
    const ssize_t received = ::recv(from, buffer, sizeof buffer, 0);
    if (received <= 0)
        return false;
    for (ssize_t sent = 0; sent < received;) {
        const ssize_t n = ::send(to, buffer + sent, size_t(received - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
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
    struct Pair
    {
        int client;
        int server;
    };
    std::vector<Pair> pairs;
    while (!m_stop) {
        const bool forwarding = m_forwarding;
        std::vector<pollfd> fds{{m_listener, POLLIN, 0}};
        if (forwarding) {
            for (const Pair &pair : pairs) {
                fds.push_back({pair.client, POLLIN, 0});
                fds.push_back({pair.server, POLLIN, 0});
            }
        }
        // A short wait: the flags are looked at again at least this often.
        if (::poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        // Pairs accepted below were not polled this time round.
        size_t polled = forwarding ? pairs.size() : 0;
        if (fds[0].revents & POLLIN) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in target = loopback(m_targetPort);
            if (client >= 0 && server >= 0
                && ::connect(server, reinterpret_cast<const sockaddr *>(&target), sizeof target) == 0) {
                pairs.push_back({client, server});
            } else {
                ::close(client);
                ::close(server);
            }
        }
        for (size_t i = 0; i < polled;) {
            const pollfd &client = fds[1 + 2 * i];
            const pollfd &server = fds[2 + 2 * i];
            bool open = true;
            if (client.revents & (POLLIN | POLLHUP | POLLERR))
                open = pass(pairs[i].client, pairs[i].server);
            if (open && (server.revents & (POLLIN | POLLHUP | POLLERR)))
                open = pass(pairs[i].server, pairs[i].client);
            if (!open) {
                ::close(pairs[i].client);
                ::close(pairs[i].server);
                pairs.erase(pairs.begin() + long(i));
                fds.erase(fds.begin() + long(1 + 2 * i), fds.begin() + long(3 + 2 * i));
                --polled;
            } else {
                ++i;
            }
        }
    }
    for (const Pair &pair : pairs) {
        ::close(pair.client);
        ::close(pair.server);
    }
}

} // namespace TestSupport
