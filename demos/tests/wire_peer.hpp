// The wire protocol as the tests speak it by hand: framing, a raw client, a listening fake
// slave, and builders and readers of the few messages the demo tests need. 32-bit words are
// little-endian; every packet is "XVRO", the body length, then the body.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex::demo::testing {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

// A port on 127.0.0.1 that nothing listens on right now.
int FreePort();

class WireConnection {
  public:
    explicit WireConnection(int fd);
    ~WireConnection();
    WireConnection(const WireConnection&) = delete;
    WireConnection& operator=(const WireConnection&) = delete;

    // Connects to 127.0.0.1:port, from the local address `from` when given (127.0.0.2 is
    // another host as far as the slave's access check is concerned).
    static std::unique_ptr<WireConnection> Connect(int port, const char* from = nullptr);

    bool Send(const Bytes& body);
    // The next body (a compressed packet is inflated), or nothing on time-out or close.
    std::optional<Bytes> Receive(milliseconds limit);
    // True once the peer has closed the connection (within the limit); bodies that arrive
    // first are collected in `bodies`.
    bool WaitClosed(milliseconds limit, std::vector<Bytes>* bodies = nullptr);
    bool Closed() const { return closed_; }

  private:
    std::optional<Bytes> TakeBody();

    int fd_;
    Bytes buffer_;
    bool closed_ = false;
};

class WireListener {
  public:
    static std::unique_ptr<WireListener> Listen(int port);  // on 127.0.0.1
    explicit WireListener(int fd) : fd_(fd) {}
    ~WireListener();
    std::unique_ptr<WireConnection> Accept(milliseconds limit);

  private:
    int fd_;
};

Bytes Words(std::initializer_list<int32_t> words);
// Word `index` (offset 4 * index) of a body; 0 when the body is shorter.
int32_t WordAt(const Bytes& body, size_t index);
void AppendWord(Bytes& body, int32_t word);

// A parameter block of strings (each with its terminator).
Bytes StringParameters(const std::vector<std::string>& strings);
// A job request (code 2) or stream job request (161) with the name and parameter block.
Bytes JobRequest(int32_t jobId, std::string_view name, const Bytes& parameters, int32_t code = 2,
                 int32_t target = 0, int32_t streamSize = 0);
// A job result {2, 1, id, size, payload}.
Bytes JobResult(int32_t jobId, const Bytes& payload);

// A job request as a fake slave reads it.
struct ParsedJob {
    int32_t code = 0, jobId = 0, target = 0, streamSize = 0;
    std::string name;
    std::vector<std::string> parameters;  // texts without terminator
};
std::optional<ParsedJob> ParseJob(const Bytes& body);

// What a raw client saw of one job: every status code, and the result's payload.
struct JobOutcome {
    std::vector<int32_t> statuses;
    Bytes payload;
    bool ended = false;  // a final status (1, 5, 6, 7, 159) arrived
};
// Sends the request and reads until the job's final status, at most `limit`.
JobOutcome RunJob(WireConnection& connection, int32_t jobId, std::string_view name,
                  const Bytes& parameters, milliseconds limit = milliseconds(5000));

}  // namespace orvex::demo::testing
