// POSIX implementation of the TCP layer.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/socket.hpp"

namespace orvex::net {
namespace {

void ConfigureConnection(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = poll(&p, 1, timeoutMs);
        if (r >= 0) return r > 0;
        if (errno != EINTR) return false;
    }
}

bool ResolveIpv4(const std::string& host, in_addr& out) {
    if (inet_pton(AF_INET, host.c_str(), &out) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    out = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

}  // namespace

Handle Connect(const std::string& host, int32_t port, int timeoutMs) {
    if (port < 0 || port > 65535) return kInvalidHandle;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (!ResolveIpv4(host, address.sin_addr)) return kInvalidHandle;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return kInvalidHandle;
    ConfigureConnection(fd);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS || !WaitFor(fd, POLLOUT, timeoutMs)) {
            close(fd);
            return kInvalidHandle;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            close(fd);
            return kInvalidHandle;
        }
    }
    return fd;
}

Handle Listen(int32_t port, bool loopbackOnly) {
    if (port < 0 || port > 65535) return kInvalidHandle;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return kInvalidHandle;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, SOMAXCONN) != 0) {
        close(fd);
        return kInvalidHandle;
    }
    return fd;
}

int32_t LocalPort(Handle handle) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
    return ntohs(address.sin_port);
}

Handle Accept(Handle listener) {
    for (;;) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            ConfigureConnection(fd);
            return fd;
        }
        // A connection that was reset while queued is skipped; anything else: none pending.
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return kInvalidHandle;
    }
}

int32_t Read(Handle handle, void* buffer, int32_t length) {
    if (length <= 0) return 0;
    for (;;) {
        const ssize_t r = recv(handle, buffer, static_cast<size_t>(length), 0);
        if (r > 0) return static_cast<int32_t>(r);
        if (r == 0) return kClosed;
        if (errno == EINTR) continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : kClosed;
    }
}

int32_t ReadWait(Handle handle, void* buffer, int32_t length, int timeoutMs) {
    const int32_t r = Read(handle, buffer, length);
    if (r != 0 || timeoutMs <= 0) return r;
    if (!WaitFor(handle, POLLIN, timeoutMs)) return 0;
    return Read(handle, buffer, length);
}

bool PeekClosed(Handle handle, bool& hasData) {
    char byte;
    hasData = false;
    for (;;) {
        const ssize_t r = recv(handle, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (r > 0) {
            hasData = true;
            return false;
        }
        if (r == 0) return true;
        if (errno == EINTR) continue;
        return !(errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

int32_t WriteSome(Handle handle, const iovec* parts, int count) {
    msghdr message{};
    message.msg_iov = const_cast<iovec*>(parts);
    message.msg_iovlen = static_cast<size_t>(count);
    for (;;) {
        const ssize_t r = sendmsg(handle, &message, MSG_NOSIGNAL);
        if (r >= 0) return static_cast<int32_t>(r);
        if (errno == EINTR) continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }
}

bool WaitWritable(Handle handle, int timeoutMs) { return WaitFor(handle, POLLOUT, timeoutMs); }

bool PeerAddress(Handle handle, uint32_t& ipv4NetworkOrder, int32_t& port) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getpeername(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_family != AF_INET) {
        return false;
    }
    ipv4NetworkOrder = address.sin_addr.s_addr;
    port = ntohs(address.sin_port);
    return true;
}

std::string DottedAddress(uint32_t ipv4NetworkOrder) {
    in_addr address{};
    address.s_addr = ipv4NetworkOrder;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

void Shutdown(Handle handle) {
    if (handle != kInvalidHandle) shutdown(handle, SHUT_RDWR);
}

void ShutdownWrite(Handle handle) {
    if (handle != kInvalidHandle) shutdown(handle, SHUT_WR);
}

void Close(Handle handle) {
    if (handle != kInvalidHandle) close(handle);
}

}  // namespace orvex::net
