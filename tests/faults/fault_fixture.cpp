#include "fault_fixture.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <climits>

#include "protocol/messages.hpp"
#include "slave/slave.hpp"

namespace orvex::test {
namespace {

std::atomic<FaultSlave*> currentSlave{nullptr};

void PutInts(std::vector<uint8_t>& out, std::initializer_list<int32_t> values) {
    for (int32_t v : values) PutWord(out, v);
}

}  // namespace

const char* DeathName(Death death) {
    return death == Death::kClose ? "Close" : "Reset";
}

void Kill(RawPeer& peer, Death death) {
    if (death == Death::kReset) {
        const linger abortive{1, 0};
        setsockopt(peer.handle(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    peer.Close();
}

// ---- FaultSlave ----------------------------------------------------------------------------

FaultSlave::FaultSlave(int32_t workers) {
    currentSlave = this;
    slave_ = Orvex_Slave_Init(0, workers);
    if (slave_ == nullptr) throw std::runtime_error("slave init failed");
    port_ = Slave::FromHandle(slave_)->Port();
    Orvex_Slave_SetCallback(slave_, OnEvent, reinterpret_cast<intptr_t>(this));
    const Text none;
    Orvex_Slave_AddJob(slave_, FromAscii("gate").c_str(), none.c_str(), Gate, 0);
    Orvex_Slave_AddJob(slave_, FromAscii("echo").c_str(), none.c_str(), Echo, 0);
    Orvex_Slave_AddJob(slave_, FromAscii("stream").c_str(), none.c_str(), Stream, 0);
    Orvex_Slave_AddJob(slave_, FromAscii("big").c_str(), none.c_str(), Big, 0);
}

FaultSlave::~FaultSlave() {
    OpenGate();
    std::vector<OrvexReceivedStream*> streams;
    {
        std::scoped_lock guard(lock_);
        streams.swap(streams_);
    }
    for (OrvexReceivedStream* stream : streams) Orvex_Slave_FreeStream(slave_, stream);
    Orvex_Slave_DeInit(slave_);
    currentSlave = nullptr;
}

int32_t ORVEX_CALL FaultSlave::OnEvent(OrvexSlave*, int32_t master, const OrvexChar*, int32_t type,
                                       intptr_t userData) {
    auto* self = reinterpret_cast<FaultSlave*>(userData);
    std::scoped_lock guard(self->lock_);
    self->events_.emplace_back(type, master);
    self->changed_.notify_all();
    return 0;
}

bool FaultSlave::WaitForEvents(int32_t type, int count, int timeoutMs) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        int seen = 0;
        for (const auto& event : events_) seen += event.first == type ? 1 : 0;
        return seen >= count;
    });
}

int FaultSlave::Events(int32_t type) {
    std::scoped_lock guard(lock_);
    int seen = 0;
    for (const auto& event : events_) seen += event.first == type ? 1 : 0;
    return seen;
}

int32_t FaultSlave::MasterOfEvent(int32_t type, int n) {
    std::scoped_lock guard(lock_);
    for (const auto& event : events_) {
        if (event.first == type && --n == 0) return event.second;
    }
    return 0;
}

void FaultSlave::OpenGate() {
    std::scoped_lock guard(lock_);
    gateOpen_ = true;
    changed_.notify_all();
}

bool FaultSlave::WaitGateEntered(int count, int timeoutMs) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return gateEntered_ >= count; });
}

int FaultSlave::EchoRuns(int32_t master) {
    std::scoped_lock guard(lock_);
    const auto it = echoRuns_.find(master);
    return it == echoRuns_.end() ? 0 : it->second;
}

bool FaultSlave::WaitBigRuns(int count, int timeoutMs) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return bigRuns_ >= count; });
}

OrvexReceivedStream* FaultSlave::TakeStream(int timeoutMs) {
    std::unique_lock guard(lock_);
    if (!changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [&] { return !streams_.empty(); })) {
        return nullptr;
    }
    OrvexReceivedStream* stream = streams_.front();
    streams_.erase(streams_.begin());
    return stream;
}

int32_t FaultSlave::OpenStreams() const {
    return Slave::FromHandle(slave_)->OpenStreams();
}

OrvexReturnValue* ORVEX_CALL FaultSlave::Gate(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                              OrvexReceivedStream*) {
    FaultSlave* self = currentSlave.load();
    std::unique_lock guard(self->lock_);
    ++self->gateEntered_;
    self->changed_.notify_all();
    self->changed_.wait_for(guard, std::chrono::seconds(20), [&] { return self->gateOpen_; });
    return Orvex_Return_Integer(1);
}

OrvexReturnValue* ORVEX_CALL FaultSlave::Echo(OrvexSlave*, int32_t master, int32_t,
                                              OrvexParameterList* params, OrvexReceivedStream*) {
    FaultSlave* self = currentSlave.load();
    {
        std::scoped_lock guard(self->lock_);
        ++self->echoRuns_[master];
    }
    const int32_t value = params != nullptr ? Orvex_Parameter_GetInteger(params) : 0;
    return Orvex_Return_Integer(value + 1);
}

OrvexReturnValue* ORVEX_CALL FaultSlave::Big(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                             OrvexReceivedStream*) {
    FaultSlave* self = currentSlave.load();
    OrvexReturnValue* result = Orvex_Return_Memory(Orvex_AllocateMemory(kBigResult), kBigResult);
    std::scoped_lock guard(self->lock_);
    ++self->bigRuns_;
    self->changed_.notify_all();
    return result;
}

OrvexReturnValue* ORVEX_CALL FaultSlave::Stream(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                                OrvexReceivedStream* stream) {
    FaultSlave* self = currentSlave.load();
    if (stream != nullptr) {
        std::scoped_lock guard(self->lock_);
        self->streams_.push_back(stream);
        self->changed_.notify_all();
    }
    return nullptr;
}

// ---- Raw masters ---------------------------------------------------------------------------

RawPeer ConnectRawMaster(FaultSlave& slave) {
    const int before = slave.Events(2);
    RawPeer peer = RawPeer::ConnectTo(slave.port());
    EXPECT_TRUE(peer.Connected());
    EXPECT_TRUE(slave.WaitForEvents(2, before + 1));
    return peer;
}

std::vector<uint8_t> JobRequest(int32_t jobId, const std::string& name,
                                std::initializer_list<int32_t> integers, int32_t command,
                                int32_t streamSize) {
    std::vector<uint8_t> params;
    PutWord(params, static_cast<int32_t>(integers.size()));
    for (int32_t value : integers) PutInts(params, {4, value});
    protocol::JobRequestHead head;
    head.command = command;
    head.jobId = jobId;
    head.streamSize = streamSize;
    return protocol::BuildJobRequest(head, FromAscii(name), params);
}

std::vector<uint8_t> ReceiveUntil(RawPeer& peer, int32_t type, int32_t code, int timeoutMs) {
    const Stopwatch watch;
    while (watch.ElapsedMs() < timeoutMs) {
        std::vector<uint8_t> body =
            peer.ReceiveBody(static_cast<int>(timeoutMs - watch.ElapsedMs()));
        if (body.size() < 4) return {};
        if (WordAt(body, 0) == type &&
            (code < 0 || (body.size() >= 8 && WordAt(body, 1) == code))) {
            return body;
        }
    }
    return {};
}

int32_t WordAt(const std::vector<uint8_t>& body, size_t index) {
    const size_t at = index * 4;
    if (body.size() < at + 4) return INT32_MIN;
    return static_cast<int32_t>(body[at] | body[at + 1] << 8 | body[at + 2] << 16 |
                                static_cast<uint32_t>(body[at + 3]) << 24);
}

// ---- Fake slaves ---------------------------------------------------------------------------

FakeSlave::FakeSlave() : listener_(net::Listen(0, true)), port_(net::LocalPort(listener_)) {}

FakeSlave::~FakeSlave() {
    net::Close(listener_);
}

bool FakeSlave::Accept() {
    pollfd entry{listener_, POLLIN, 0};
    if (poll(&entry, 1, 10000) <= 0) return false;
    peer_ = RawPeer(net::Accept(listener_));
    return peer_.Connected();
}

// ---- Masters -------------------------------------------------------------------------------

OrvexMaster* ConnectMaster(int32_t port) {
    OrvexMaster* master =
        Orvex_Master_Init([](OrvexMaster*, int32_t, int32_t, const OrvexChar*, OrvexParameterList*,
                             OrvexReceivedStream*) -> int32_t { return 0; });
    const Text host = FromAscii("127.0.0.1");
    const Text none;
    EXPECT_EQ(Orvex_Master_AddSlave(master, host.c_str(), port, none.c_str(), 0, none.c_str(),
                                    none.c_str(), 0, 0),
              1);
    return master;
}

int32_t EchoThroughQueue(OrvexMaster* master, int32_t value, int timeoutMs) {
    OrvexParameterList* params = Orvex_Parameter_New();
    Orvex_Parameter_AddInteger(params, value);
    const int32_t jobId = Orvex_Master_DoJob(master, FromAscii("echo").c_str(), 1, params, nullptr,
                                             0, nullptr, 0, 0, nullptr, 0, 0, 0);
    if (jobId == 0) return INT32_MIN;
    const Stopwatch watch;
    while (watch.ElapsedMs() < timeoutMs) {
        if (Orvex_Master_Event(master) == 0) {
            // A time-out of 0 would wait without limit.
            const int64_t left = std::max<int64_t>(timeoutMs - watch.ElapsedMs(), 1);
            Orvex_Master_WaitEvent(master, static_cast<int32_t>(left));
            continue;
        }
        if (Orvex_Master_Event_JobId(master) == jobId && Orvex_Master_Event_Type(master) == 1) {
            return Orvex_Master_Event_JobInteger(master);
        }
    }
    return INT32_MIN;
}

std::string LastError(OrvexMaster* master) {
    const OrvexChar* text = Orvex_Master_GetLastError(master);
    return text == nullptr ? std::string() : Narrow(ViewOf(text));
}

}  // namespace orvex::test
