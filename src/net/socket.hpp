// The thin TCP layer shared by masters and slaves.
//
// A connection handle is a small non-negative integer (the socket descriptor) that a later
// connection may reuse once the first has been closed. Every connection is non-blocking and
// has TCP_NODELAY set: reads never wait unless asked to, writes take what the kernel accepts.
// The functions here never raise SIGPIPE and never throw.
#pragma once

#include <sys/uio.h>

#include <cstdint>
#include <string>

namespace orvex::net {

using Handle = int;
inline constexpr Handle kInvalidHandle = -1;

// Opens a TCP connection to a host name or dotted IPv4 address (IPv4 only) and a port,
// waiting at most timeoutMs for the connection to be established. kInvalidHandle on failure.
Handle Connect(const std::string& host, int32_t port, int timeoutMs = 5000);

// A listening server on `port` on all local addresses (or only 127.0.0.1 when loopbackOnly);
// port 0 picks a free port (see LocalPort). kInvalidHandle when it cannot be created.
Handle Listen(int32_t port, bool loopbackOnly = false);

// The local port of a listening server or connection; -1 on failure.
int32_t LocalPort(Handle handle);

// Accepts one pending connection of a listening server (non-blocking, TCP_NODELAY set);
// kInvalidHandle when none is pending.
Handle Accept(Handle listener);

// Result of Read/ReadWait: bytes read (> 0), 0 when nothing is available now, kClosed when the
// peer closed the connection or it failed.
inline constexpr int32_t kClosed = -1;
int32_t Read(Handle handle, void* buffer, int32_t length);

// Waits at most timeoutMs for data (returns at once when some is there), then reads as Read.
int32_t ReadWait(Handle handle, void* buffer, int32_t length, int timeoutMs);

// True when the connection has data to read or has been closed by its peer: a read would not
// come back empty. Does not consume anything.
bool PeekClosed(Handle handle, bool& hasData);

// Writes what the kernel accepts now from the parts: bytes written (0 when it would block),
// -1 when the connection failed.
int32_t WriteSome(Handle handle, const iovec* parts, int count);

// Waits at most timeoutMs until the connection can take more bytes; false on time-out.
bool WaitWritable(Handle handle, int timeoutMs);

// Peer IPv4 address (in network byte order, as stored in sockaddr_in) and port of a
// connection; false on failure.
bool PeerAddress(Handle handle, uint32_t& ipv4NetworkOrder, int32_t& port);

// Dotted text of an IPv4 address in network byte order.
std::string DottedAddress(uint32_t ipv4NetworkOrder);

// Stops further reads and writes on a connection without releasing the handle; a thread
// blocked on it (or a poller watching it) sees it closed.
void Shutdown(Handle handle);

// Ends only the sending direction: the peer reads the end of the stream after everything
// written before, and reads on this side go on.
void ShutdownWrite(Handle handle);

// Closes a connection or listening server. kInvalidHandle is ignored.
void Close(Handle handle);

}  // namespace orvex::net
