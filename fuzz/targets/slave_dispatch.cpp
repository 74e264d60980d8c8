// Fuzz target: a slave reading what a master sends.
//
// Input: byte 0 chooses options, the rest is the byte stream that a master sends.
//   bit 0  receive batches in threads of their own (two masters are connected)
//   bit 1  the slave compresses everything it sends
//   bit 2  receive block size 16 bytes (else the default), so packets arrive in many reads
//   bit 3  job limit 1 for the master that sends the bytes
//   bit 4  an access check that refuses every job whose name starts with 'n'
//   bit 5  the slave is paused (jobs are queued but do not start)
//   bit 6  the master may not relay streams
// A new slave per input (two job workers, jobs "echo", "stream" and "note") has two raw
// masters connected: master 1, a bystander that only reads (the target of relayed streams),
// and master 2, which writes the bytes and closes its sending side. The slave must read
// everything, answer, see the close and close master 2's connection within a bounded time;
// then it is released with its jobs, streams and queues.
#include <sys/socket.h>

#include <condition_variable>
#include <mutex>

#include "../fuzz_socket.hpp"
#include "../fuzz_target.hpp"
#include "Orvex.h"
#include "core/text.hpp"
#include "slave/slave.hpp"

namespace orvex::fuzz {
namespace {

// Connections the slave has registered, counted by its event callback.
struct Connections {
    std::mutex lock;  // guards count
    std::condition_variable changed;
    int count = 0;

    bool WaitFor(int wanted) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(10), [&] { return count >= wanted; });
    }
};

int32_t ORVEX_CALL CountConnections(OrvexSlave*, int32_t, const OrvexChar*, int32_t type,
                                    intptr_t userData) {
    if (type != 2) return 0;
    auto* connections = reinterpret_cast<Connections*>(userData);
    std::scoped_lock guard(connections->lock);
    ++connections->count;
    connections->changed.notify_all();
    return 0;
}

// Every value back as one memory block: the parameters read as the job's callers would.
OrvexReturnValue* ORVEX_CALL Echo(OrvexSlave*, int32_t, int32_t, OrvexParameterList* params,
                                  OrvexReceivedStream*) {
    if (params == nullptr) return nullptr;
    OrvexParameterElement* first = Orvex_Parameter_GetMem(params);
    if (first == nullptr) return nullptr;
    // The result takes the value block over; only the element record is freed here.
    OrvexReturnValue* result = Orvex_Return_Memory(first->value, first->size);
    Orvex_FreeMemory(first);
    while (Orvex_Parameter_Count(params) > 0) Orvex_FreeMemory(Orvex_Parameter_GetString(params));
    return result;
}

// Looks at the stream as it is (it may still be arriving) and frees it.
OrvexReturnValue* ORVEX_CALL ReadStream(OrvexSlave* slave, int32_t, int32_t, OrvexParameterList*,
                                        OrvexReceivedStream* stream) {
    if (stream == nullptr) return Orvex_Return_Integer(-1);
    const int32_t size = stream->size;
    Orvex_Slave_FreeStream(slave, stream);
    return Orvex_Return_Integer(size);
}

// Sends a job message before its text result.
OrvexReturnValue* ORVEX_CALL Note(OrvexSlave* slave, int32_t master, int32_t jobId,
                                  OrvexParameterList* params, OrvexReceivedStream* stream) {
    const int32_t count = Orvex_Parameter_Count(params);
    Orvex_Slave_Job_SendMessage(slave, master, jobId, &count, sizeof count);
    if (stream != nullptr) Orvex_Slave_FreeStream(slave, stream);
    static const Text text = FromAscii("noted");
    return Orvex_Return_String(text.c_str());
}

int32_t ORVEX_CALL RefuseN(OrvexSlave*, int32_t, const OrvexChar* jobName) {
    return jobName[0] == 'n' || jobName[0] == 'N' ? 0 : 1;
}

void AddJobs(OrvexSlave* slave) {
    const Text none;
    const Text echo = FromAscii("echo");
    const Text stream = FromAscii("stream");
    const Text note = FromAscii("note");
    Orvex_Slave_AddJob(slave, echo.c_str(), none.c_str(), Echo, 0);
    Orvex_Slave_AddJob(slave, stream.c_str(), none.c_str(), ReadStream, 0);
    Orvex_Slave_AddJob(slave, note.c_str(), none.c_str(), Note, 0);
}

void ApplyOptions(OrvexSlave* slave, uint8_t options) {
    constexpr int32_t kSender = 2;
    if ((options & 1) != 0) Orvex_Slave_ThreadReceive(slave, 1);
    if ((options & 2) != 0) Orvex_Slave_SetCompressionOptions(slave, 1, 1);
    if ((options & 4) != 0) Orvex_Slave_SetReceiveBlockSize(slave, 16);
    if ((options & 8) != 0) Orvex_Slave_SetMasterJobLimit(slave, kSender, 1);
    if ((options & 16) != 0) Orvex_Slave_SetMasterJobAccessCheck(slave, kSender, RefuseN);
    if ((options & 32) != 0) Orvex_Slave_Pause(slave);
    if ((options & 64) != 0) Orvex_Slave_EnableStreamTransmission(slave, kSender, 0);
}

}  // namespace

int SlaveDispatchInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t options = data[0];
    const std::span<const uint8_t> stream(data + 1, size - 1);

    Connections connections;
    OrvexSlave* slave = Orvex_Slave_Init(0, 2);
    FUZZ_CHECK(slave != nullptr);
    Orvex_Slave_SetCallback(slave, CountConnections, reinterpret_cast<intptr_t>(&connections));
    AddJobs(slave);
    const int32_t port = Slave::FromHandle(slave)->Port();

    const net::Handle bystander = net::Connect("127.0.0.1", port);
    FUZZ_CHECK(bystander != net::kInvalidHandle && connections.WaitFor(1));
    const net::Handle sender = net::Connect("127.0.0.1", port);
    FUZZ_CHECK(sender != net::kInvalidHandle && connections.WaitFor(2));
    ApplyOptions(slave, options);

    FUZZ_CHECK(WriteAll(sender, stream));
    shutdown(sender, SHUT_WR);
    // The slave reads everything, then sees the close and closes the connection: bounded.
    FUZZ_CHECK(ReadUntilClosed(sender));

    Orvex_Slave_DeInit(slave);
    DrainInput(bystander);
    net::Close(sender);
    net::Close(bystander);
    return 0;
}

}  // namespace orvex::fuzz

ORVEX_FUZZ_ENTRY(SlaveDispatchInput)
