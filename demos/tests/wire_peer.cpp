#include "wire_peer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace orvex::demo::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kMagic = 0x4F525658;  // "XVRO"
constexpr int32_t kLargestBody = 64 << 20;

sockaddr_in Address(const char* ip, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, ip, &address.sin_addr);
    return address;
}

uint32_t ReadWord(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

bool IsFinalStatus(int32_t status) {
    return status == 1 || status == 5 || status == 6 || status == 7 || status == 159;
}

}  // namespace

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Address("127.0.0.1", 0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

WireConnection::WireConnection(int fd) : fd_(fd) {}
WireConnection::~WireConnection() {
    close(fd_);
}

std::unique_ptr<WireConnection> WireConnection::Connect(int port, const char* from) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (from != nullptr) {
        sockaddr_in local = Address(from, 0);
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            close(fd);
            return nullptr;
        }
    }
    sockaddr_in address = Address("127.0.0.1", port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return nullptr;
    }
    return std::make_unique<WireConnection>(fd);
}

bool WireConnection::Send(const Bytes& body) {
    Bytes packet;
    AppendWord(packet, int32_t(kMagic));
    AppendWord(packet, int32_t(body.size()));
    packet.insert(packet.end(), body.begin(), body.end());
    size_t sent = 0;
    while (sent < packet.size()) {
        const ssize_t n = send(fd_, packet.data() + sent, packet.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += size_t(n);
    }
    return true;
}

// A complete body from the buffer, inflated when it is a compressed packet.
std::optional<Bytes> WireConnection::TakeBody() {
    if (buffer_.size() < 8) return std::nullopt;
    const uint32_t length = ReadWord(buffer_.data() + 4);
    if (ReadWord(buffer_.data()) != kMagic || length > uint32_t(kLargestBody)) {
        closed_ = true;  // a broken stream: treat as gone
        return std::nullopt;
    }
    if (buffer_.size() < 8 + size_t(length)) return std::nullopt;
    Bytes body(buffer_.begin() + 8, buffer_.begin() + 8 + long(length));
    buffer_.erase(buffer_.begin(), buffer_.begin() + 8 + long(length));
    if (body.size() >= 8 && ReadWord(body.data()) == 255) {
        const uint32_t plainSize = ReadWord(body.data() + 4);
        if (plainSize < 8 || plainSize > uint32_t(kLargestBody)) return Bytes{};
        Bytes plain(plainSize);
        uLongf size = plainSize;
        if (uncompress(plain.data(), &size, body.data() + 8, uLong(body.size() - 8)) != Z_OK) {
            return Bytes{};
        }
        return Bytes(plain.begin() + 8, plain.begin() + long(size));
    }
    return body;
}

std::optional<Bytes> WireConnection::Receive(milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (auto body = TakeBody()) return body;
        if (closed_) return std::nullopt;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd fd{fd_, POLLIN, 0};
        if (poll(&fd, 1, int(left.count())) <= 0) continue;
        uint8_t bytes[65536];
        const ssize_t got = recv(fd_, bytes, sizeof bytes, 0);
        if (got <= 0) {
            closed_ = true;
            continue;
        }
        buffer_.insert(buffer_.end(), bytes, bytes + got);
    }
}

bool WireConnection::WaitClosed(milliseconds limit, std::vector<Bytes>* bodies) {
    const auto deadline = Clock::now() + limit;
    while (!closed_) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        auto body = Receive(left);
        if (body && bodies != nullptr) bodies->push_back(std::move(*body));
    }
    return true;
}

std::unique_ptr<WireListener> WireListener::Listen(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address = Address("127.0.0.1", port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 8) != 0) {
        close(fd);
        return nullptr;
    }
    return std::make_unique<WireListener>(fd);
}

WireListener::~WireListener() {
    close(fd_);
}

std::unique_ptr<WireConnection> WireListener::Accept(milliseconds limit) {
    pollfd fd{fd_, POLLIN, 0};
    if (poll(&fd, 1, int(limit.count())) <= 0) return nullptr;
    const int connection = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) return nullptr;
    return std::make_unique<WireConnection>(connection);
}

void AppendWord(Bytes& body, int32_t word) {
    const auto value = uint32_t(word);
    for (int shift = 0; shift < 32; shift += 8) body.push_back(uint8_t(value >> shift));
}

Bytes Words(std::initializer_list<int32_t> words) {
    Bytes body;
    for (int32_t word : words) AppendWord(body, word);
    return body;
}

int32_t WordAt(const Bytes& body, size_t index) {
    if (body.size() < 4 * index + 4) return 0;
    return int32_t(ReadWord(body.data() + 4 * index));
}

Bytes StringParameters(const std::vector<std::string>& strings) {
    Bytes block;
    AppendWord(block, int32_t(strings.size()));
    for (const std::string& text : strings) {
        AppendWord(block, int32_t(text.size() + 1));
        block.insert(block.end(), text.begin(), text.end());
        block.push_back(0);
    }
    return block;
}

Bytes JobRequest(int32_t jobId, std::string_view name, const Bytes& parameters, int32_t code,
                 int32_t target, int32_t streamSize) {
    Bytes body = Words({code, jobId, target, streamSize, 1, int32_t(name.size() + 1)});
    body.insert(body.end(), name.begin(), name.end());
    body.push_back(0);
    body.insert(body.end(), parameters.begin(), parameters.end());
    return body;
}

Bytes JobResult(int32_t jobId, const Bytes& payload) {
    Bytes body = Words({2, 1, jobId, int32_t(payload.size())});
    body.insert(body.end(), payload.begin(), payload.end());
    return body;
}

std::optional<ParsedJob> ParseJob(const Bytes& body) {
    ParsedJob job;
    job.code = WordAt(body, 0);
    if ((job.code != 2 && job.code != 161) || body.size() < 24) return std::nullopt;
    job.jobId = WordAt(body, 1);
    job.target = WordAt(body, 2);
    job.streamSize = WordAt(body, 3);
    const int32_t nameSize = WordAt(body, 5);
    if (nameSize < 1 || size_t(nameSize) > body.size() - 24) return std::nullopt;
    const char* name = reinterpret_cast<const char*>(body.data() + 24);
    job.name.assign(name, strnlen(name, size_t(nameSize)));
    size_t at = 24 + size_t(nameSize);
    if (body.size() < at + 4) return job;
    const int32_t count = int32_t(ReadWord(body.data() + at));
    at += 4;
    for (int32_t i = 0; i < count && body.size() >= at + 4; ++i) {
        const uint32_t size = ReadWord(body.data() + at);
        at += 4;
        if (size > body.size() - at) return std::nullopt;
        const char* text = reinterpret_cast<const char*>(body.data() + at);
        job.parameters.emplace_back(text, strnlen(text, size));
        at += size;
    }
    return job;
}

JobOutcome RunJob(WireConnection& connection, int32_t jobId, std::string_view name,
                  const Bytes& parameters, milliseconds limit) {
    JobOutcome outcome;
    if (!connection.Send(JobRequest(jobId, name, parameters))) return outcome;
    const auto deadline = Clock::now() + limit;
    while (!outcome.ended) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        const auto body = connection.Receive(left);
        if (!body) break;
        if (WordAt(*body, 0) != 2 || WordAt(*body, 2) != jobId) continue;
        const int32_t status = WordAt(*body, 1);
        outcome.statuses.push_back(status);
        if (status == 1 && body->size() >= 16) {
            const size_t size =
                std::min<size_t>(size_t(uint32_t(WordAt(*body, 3))), body->size() - 16);
            outcome.payload.assign(body->begin() + 16, body->begin() + 16 + long(size));
        }
        outcome.ended = IsFinalStatus(status);
    }
    return outcome;
}

}  // namespace orvex::demo::testing
