#include "support/loopback.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <stdexcept>

namespace orvex::test {

LoopbackPair::LoopbackPair() {
    const net::Handle listener = net::Listen(0, true);
    if (listener == net::kInvalidHandle) throw std::runtime_error("listen failed");
    client = net::Connect("127.0.0.1", net::LocalPort(listener));
    for (int i = 0; i < 5000 && server == net::kInvalidHandle; ++i) {
        pollfd p{listener, POLLIN, 0};
        poll(&p, 1, 1);
        server = net::Accept(listener);
    }
    net::Close(listener);
    if (client == net::kInvalidHandle || server == net::kInvalidHandle) {
        throw std::runtime_error("loopback pair failed");
    }
}

LoopbackPair::~LoopbackPair() {
    net::Close(client);
    net::Close(server);
}

bool WriteAll(net::Handle handle, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const iovec part{const_cast<uint8_t*>(bytes.data() + done), bytes.size() - done};
        const int32_t r = net::WriteSome(handle, &part, 1);
        if (r < 0) return false;
        if (r == 0 && !net::WaitWritable(handle, 5000)) return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

std::vector<uint8_t> ReadExactly(net::Handle handle, size_t n, int timeoutMs) {
    std::vector<uint8_t> out(n);
    size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        const int32_t r = net::ReadWait(handle, out.data() + got, static_cast<int32_t>(n - got),
                                        static_cast<int>(left));
        if (r == net::kClosed) break;
        got += static_cast<size_t>(r);
    }
    out.resize(got);
    return out;
}

bool NothingArrives(net::Handle handle, int waitMs) {
    pollfd p{handle, POLLIN, 0};
    return poll(&p, 1, waitMs) == 0;
}

void PutWord(std::vector<uint8_t>& out, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> Words(std::initializer_list<int32_t> words) {
    std::vector<uint8_t> out;
    for (int32_t w : words) PutWord(out, w);
    return out;
}

std::vector<uint8_t> Frame(std::span<const uint8_t> body) {
    std::vector<uint8_t> out = Words({0x4F525658, static_cast<int32_t>(body.size())});
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> ReadPacketBody(net::Handle handle, int timeoutMs) {
    const std::vector<uint8_t> header = ReadExactly(handle, 8, timeoutMs);
    if (header.size() != 8) return {};
    const auto word = [&](size_t at) {
        return static_cast<int32_t>(header[at] | header[at + 1] << 8 | header[at + 2] << 16 |
                                    static_cast<uint32_t>(header[at + 3]) << 24);
    };
    if (word(0) != 0x4F525658 || word(4) < 0) return {};
    return ReadExactly(handle, static_cast<size_t>(word(4)), timeoutMs);
}

RawPeer RawPeer::ConnectTo(int32_t port) { return RawPeer(net::Connect("127.0.0.1", port)); }

RawPeer& RawPeer::operator=(RawPeer&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = net::kInvalidHandle;
    }
    return *this;
}

RawPeer::~RawPeer() { Close(); }

void RawPeer::Close() {
    net::Close(handle_);
    handle_ = net::kInvalidHandle;
}

}  // namespace orvex::test
