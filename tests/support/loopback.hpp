// Test helpers: connected loopback TCP pairs and a raw wire peer that reads and writes packets
// byte by byte, without going through the library's framing.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "net/socket.hpp"

namespace orvex::test {

// Two connected, non-blocking loopback sockets; both closed on destruction.
struct LoopbackPair {
    LoopbackPair();
    ~LoopbackPair();
    LoopbackPair(const LoopbackPair&) = delete;
    LoopbackPair& operator=(const LoopbackPair&) = delete;
    net::Handle client = net::kInvalidHandle;
    net::Handle server = net::kInvalidHandle;
};

// Writes all bytes (waiting while the socket is full); false on failure.
bool WriteAll(net::Handle handle, std::span<const uint8_t> bytes);
// Reads exactly n bytes, waiting at most timeoutMs in all; fewer when time ran out or the
// peer closed.
std::vector<uint8_t> ReadExactly(net::Handle handle, size_t n, int timeoutMs = 5000);
// True when nothing arrives within waitMs (and the connection is still open).
bool NothingArrives(net::Handle handle, int waitMs);

// Little-endian builders for hand-made bodies.
void PutWord(std::vector<uint8_t>& out, int32_t value);
std::vector<uint8_t> Words(std::initializer_list<int32_t> words);
// A plain packet: magic, body length, body.
std::vector<uint8_t> Frame(std::span<const uint8_t> body);

// Reads one plain packet (header checked) and returns its body; empty on time-out or when
// the magic is wrong. Compressed packets are returned as their raw body (word 0 = 255).
std::vector<uint8_t> ReadPacketBody(net::Handle handle, int timeoutMs = 5000);

// A raw peer: a connection made with plain sockets, for wire-level tests of masters and
// slaves. Connects to 127.0.0.1:port, or accepts one connection on a listener.
class RawPeer {
public:
    static RawPeer ConnectTo(int32_t port);
    RawPeer() = default;
    explicit RawPeer(net::Handle handle) : handle_(handle) {}
    RawPeer(RawPeer&& other) noexcept : handle_(other.handle_) { other.handle_ = net::kInvalidHandle; }
    RawPeer& operator=(RawPeer&& other) noexcept;
    ~RawPeer();

    bool Connected() const { return handle_ != net::kInvalidHandle; }
    net::Handle handle() const { return handle_; }
    bool Send(std::span<const uint8_t> rawBytes) { return WriteAll(handle_, rawBytes); }
    bool SendBody(std::span<const uint8_t> body) { return Send(Frame(body)); }
    std::vector<uint8_t> ReceiveBody(int timeoutMs = 5000) { return ReadPacketBody(handle_, timeoutMs); }
    void Close();

private:
    net::Handle handle_ = net::kInvalidHandle;
};

}  // namespace orvex::test
