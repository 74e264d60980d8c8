#include "slave/slave_fixture.hpp"

#include <cstring>

#include "core/crc32.hpp"
#include "core/memory.hpp"

namespace orvex::test {
namespace {

constexpr int kWaitMs = 5000;

std::string Ascii(const OrvexChar* text) {
    return Narrow(ViewOf(text));
}

}  // namespace

Body TextBytes(const std::string& ascii) {
    const Text text = FromAscii(ascii);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    return Body(bytes, bytes + text.size() * sizeof(Char));
}

Body JobRequestBody(int32_t jobId, const std::string& name, Body params, int32_t priority) {
    protocol::JobRequestHead head;
    head.jobId = jobId;
    head.priority = priority;
    return protocol::BuildJobRequest(head, FromAscii(name), params);
}

Body StreamJobBody(int32_t jobId, const std::string& name, int32_t target, int32_t streamSize,
                   Body params) {
    protocol::JobRequestHead head;
    head.command = protocol::kCmdStreamJobRequest;
    head.jobId = jobId;
    head.target = target;
    head.streamSize = streamSize;
    Body body = protocol::BuildJobRequest(head, FromAscii(name), params);
    // The builder is for well-formed requests; hostile tests write any size.
    protocol::WriteLe32(body.data() + 12, streamSize);
    return body;
}

Body IntParams(std::initializer_list<int32_t> values) {
    Body block = Words({static_cast<int32_t>(values.size())});
    for (int32_t v : values) {
        PutWord(block, 4);
        PutWord(block, v);
    }
    return block;
}

Body IntResult(int32_t jobId, int32_t value) {
    return Words({2, 1, jobId, 4, value});
}

// ---- EventRecorder --------------------------------------------------------------------------

int32_t ORVEX_CALL EventRecorder::Callback(OrvexSlave*, int32_t master, const OrvexChar* text,
                                           int32_t type, intptr_t userData) {
    auto* self = reinterpret_cast<EventRecorder*>(userData);
    std::scoped_lock guard(self->lock_);
    self->events_.push_back({type, master, Ascii(text)});
    self->changed_.notify_all();
    return 0;
}

size_t EventRecorder::CountLocked(int32_t type, int32_t master) const {
    size_t n = 0;
    for (const Event& e : events_) {
        n += (e.type == type && (master == kAnyMaster || e.master == master)) ? 1 : 0;
    }
    return n;
}

bool EventRecorder::WaitFor(int32_t type, int32_t master, size_t count, int timeoutMs) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [&] { return CountLocked(type, master) >= count; });
}

std::vector<EventRecorder::Event> EventRecorder::Events() {
    std::scoped_lock guard(lock_);
    return events_;
}

// ---- JobProbe and job functions ---------------------------------------------------------------

JobProbe& Probe() {
    static JobProbe probe;
    return probe;
}

void JobProbe::Reset() {
    std::scoped_lock guard(lock);
    calls = 0;
    running = 0;
    gateOpen = true;
    accessNames.clear();
    accessAnswer = 1;
    streamState = 0;
    streamReceived = 0;
    streamCrc = 0;
    cancelStream = false;
}

void JobProbe::OpenGate() {
    std::scoped_lock guard(lock);
    gateOpen = true;
    changed.notify_all();
}

bool JobProbe::WaitRunning(int count, int timeoutMs) {
    std::unique_lock guard(lock);
    return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [&] { return running >= count; });
}

bool JobProbe::WaitCalls(int count, int timeoutMs) {
    std::unique_lock guard(lock);
    return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [&] { return calls >= count; });
}

namespace {
void CountCall() {
    JobProbe& probe = Probe();
    std::scoped_lock guard(probe.lock);
    ++probe.calls;
    probe.changed.notify_all();
}
}  // namespace

OrvexReturnValue* ORVEX_CALL SumJob(OrvexSlave*, int32_t, int32_t, OrvexParameterList* params,
                                    OrvexReceivedStream*) {
    CountCall();
    int32_t sum = 0;
    if (params != nullptr) {
        while (Orvex_Parameter_Count(params) > 0) sum += Orvex_Parameter_GetInteger(params);
    } else {
        sum = -1;  // tells the test that the job received no list
    }
    return Orvex_Return_Integer(sum);
}

OrvexReturnValue* ORVEX_CALL NullJob(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                     OrvexReceivedStream*) {
    CountCall();
    return nullptr;
}

OrvexReturnValue* ORVEX_CALL BlockingJob(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                         OrvexReceivedStream*) {
    JobProbe& probe = Probe();
    std::unique_lock guard(probe.lock);
    ++probe.calls;
    ++probe.running;
    probe.changed.notify_all();
    probe.changed.wait_for(guard, std::chrono::milliseconds(kWaitMs),
                           [&] { return probe.gateOpen; });
    --probe.running;
    return Orvex_Return_Integer(7);
}

OrvexReturnValue* ORVEX_CALL MessageJob(OrvexSlave* slave, int32_t master, int32_t jobId,
                                        OrvexParameterList*, OrvexReceivedStream*) {
    CountCall();
    const char first[] = "one";
    const int32_t second = 0x01020304;
    Orvex_Slave_Job_SendMessage(slave, master, jobId, first, 3);
    Orvex_Slave_Job_SendMessage(slave, master, jobId, &second, 4);
    Orvex_Slave_Job_SendMessage(slave, 0, jobId, first, 3);  // no such master: dropped
    return Orvex_Return_Integer(99);
}

OrvexReturnValue* ORVEX_CALL StreamJob(OrvexSlave* slave, int32_t, int32_t, OrvexParameterList*,
                                       OrvexReceivedStream* stream) {
    JobProbe& probe = Probe();
    std::unique_lock guard(probe.lock);
    ++probe.calls;
    if (stream == nullptr) return Orvex_Return_Integer(-1);
    if (probe.cancelStream) StoreStreamField(stream->cancelRequest, 1);
    // The test opens the gate once the transfer has ended.
    ++probe.running;
    probe.changed.notify_all();
    probe.changed.wait_for(guard, std::chrono::milliseconds(kWaitMs),
                           [&] { return probe.gateOpen; });
    --probe.running;
    probe.streamState = LoadStreamField(stream->state);
    probe.streamReceived = LoadStreamField(stream->received);
    probe.streamCrc = Crc32(stream->data, static_cast<size_t>(stream->size));
    const int32_t state = probe.streamState;
    guard.unlock();
    Orvex_Slave_FreeStream(slave, stream);
    return Orvex_Return_Integer(state);
}

OrvexReturnValue* ORVEX_CALL BigJob(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                    OrvexReceivedStream*) {
    CountCall();
    constexpr int32_t kSize = 16386;
    auto* block = static_cast<uint8_t*>(Orvex_AllocateMemory(kSize));
    for (int32_t i = 0; i < kSize; ++i) block[i] = static_cast<uint8_t>('a' + i % 3);
    return Orvex_Return_Memory(block, kSize);
}

int32_t ORVEX_CALL RecordingAccessCheck(OrvexSlave*, int32_t, const OrvexChar* jobName) {
    JobProbe& probe = Probe();
    std::scoped_lock guard(probe.lock);
    probe.accessNames.push_back(Ascii(jobName));
    return probe.accessAnswer;
}

// ---- Fixture ----------------------------------------------------------------------------------

void SlaveTest::SetUp() {
    Probe().Reset();
    slave = Orvex_Slave_Init(0, 4);
    ASSERT_NE(slave, nullptr);
    port = Slave::FromHandle(slave)->Port();
    if (useCallback) {
        Orvex_Slave_SetCallback(slave, &EventRecorder::Callback,
                                reinterpret_cast<intptr_t>(&recorder));
    }
}

void SlaveTest::TearDown() {
    Probe().OpenGate();
    if (slave != nullptr) Orvex_Slave_DeInit(slave);
    slave = nullptr;
}

void SlaveTest::RegisterJobs() {
    Orvex_Slave_AddJob(slave, FromAscii("Sum").c_str(), FromAscii("adds").c_str(), SumJob, 0);
    Orvex_Slave_AddJob(slave, FromAscii("Null").c_str(), FromAscii("").c_str(), NullJob, 0);
    Orvex_Slave_AddJob(slave, FromAscii("Blocking").c_str(), FromAscii("").c_str(), BlockingJob, 0);
    Orvex_Slave_AddJob(slave, FromAscii("Messages").c_str(), FromAscii("").c_str(), MessageJob, 0);
    Orvex_Slave_AddJob(slave, FromAscii("Stream").c_str(), FromAscii("").c_str(), StreamJob, 0);
    Orvex_Slave_AddJob(slave, FromAscii("Big").c_str(), FromAscii("").c_str(), BigJob, 0);
}

RawPeer SlaveTest::Connect() {
    RawPeer peer = RawPeer::ConnectTo(port);
    EXPECT_TRUE(peer.Connected());
    ++connected;
    if (useCallback) {
        // A connection that gets the handle of a closed one takes its master number over,
        // so only the count of connect events is known here.
        EXPECT_TRUE(recorder.WaitFor(2, EventRecorder::kAnyMaster, connected));
    } else {
        Sync(peer);
    }
    return peer;
}

Body SlaveTest::Next(RawPeer& peer, int timeoutMs) {
    Body body = peer.ReceiveBody(timeoutMs);
    EXPECT_FALSE(body.empty()) << "no message arrived";
    return body;
}

void SlaveTest::Sync(RawPeer& peer) {
    ASSERT_TRUE(peer.SendBody(Words({5, 4242})));
    EXPECT_EQ(Next(peer), Words({5, 4242}));
}

bool SlaveTest::StillServes() {
    RawPeer peer = RawPeer::ConnectTo(port);
    if (!peer.Connected() || !peer.SendBody(Words({5, 777}))) return false;
    return peer.ReceiveBody() == Words({5, 777});
}

}  // namespace orvex::test
