// Fuzz target: a master reading what a slave sends.
//
// Input: byte 0 chooses options, the rest is the byte stream that arrives from slave 1.
//   bit 0  events go to a master-wide callback (else to the polled event queue)
//   bit 1  receive block size 16 bytes (else the default), so packets arrive in many reads
//   bit 2  the relay handler keeps relayed streams (else it frees them at once)
// A master is connected to a fake slave (a listener of this program that never answers) and
// has sent it three jobs (ids 1 to 3; 1 and 3 with a job callback). The bytes go through the
// master's receive batch and dispatch, batch after batch until none is left, exactly as the
// network thread runs them; then the events are drained and the master is released. Every
// input starts from a new master, so a finding replays on its own.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include "../fuzz_socket.hpp"
#include "../fuzz_target.hpp"
#include "Orvex.h"
#include "core/text.hpp"
#include "master/master.hpp"
#include "protocol/framing.hpp"

namespace orvex::fuzz {
namespace {

std::atomic<bool> keepRelayedStreams{false};

int32_t ORVEX_CALL FreeEventMemory(OrvexMaster*, int32_t, int32_t, int32_t, void* memory, int32_t,
                                   intptr_t) {
    Orvex_FreeMemory(memory);
    return 0;
}

int32_t ORVEX_CALL HandleRelay(OrvexMaster* master, int32_t, int32_t, const OrvexChar* jobName,
                               OrvexParameterList* params, OrvexReceivedStream* stream) {
    // Read what an application would read; a stream kept here is released by DeInit.
    (void)TextLength(jobName);
    (void)Orvex_Parameter_Count(params);
    if (!keepRelayedStreams.load()) Orvex_Master_FreeStream(master, stream);
    return 0;
}

void DrainEvents(OrvexMaster* master) {
    while (Orvex_Master_Event(master) != 0) {
        (void)Orvex_Master_Event_Type(master);
        (void)Orvex_Master_Event_JobMemSize(master);
        if (Orvex_Master_Event_JobId(master) % 2 == 0) {
            Orvex_FreeMemory(Orvex_Master_Event_JobString(master));
        } else {
            (void)Orvex_Master_Event_JobQuad(master);  // reads and frees the memory, if any
        }
    }
}

// Three jobs to the fake slave, so that results and messages find job ids to go to.
void SendJobs(OrvexMaster* master) {
    const Text name = FromAscii("job");
    for (int32_t i = 1; i <= 3; ++i) {
        OrvexParameterList* params = Orvex_Parameter_New();
        Orvex_Parameter_AddInteger(params, i);
        const OrvexMasterCallback callback = i == 2 ? nullptr : FreeEventMemory;
        FUZZ_CHECK(Orvex_Master_DoJob(master, name.c_str(), 1, params, callback, 0, nullptr, 0, 0,
                                      nullptr, 0, 0, 0) == i);
    }
}

// Runs receive batches over `connection` until it holds nothing more and its writer closed.
void ReceiveAll(Master& master, net::Handle connection, int32_t blockSize) {
    for (;;) {
        bool hasData = false;
        const bool closed = net::PeekClosed(connection, hasData);
        if (!hasData) {
            FUZZ_CHECK(closed);  // everything was written before the batches started
            return;
        }
        protocol::RunReceiveBatch(connection, 1, blockSize, master);
    }
}

}  // namespace

int MasterDispatchInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t options = data[0];
    const std::span<const uint8_t> stream(data + 1, size - 1);
    keepRelayedStreams = (options & 4) != 0;

    const net::Handle listener = net::Listen(0, true);
    FUZZ_CHECK(listener != net::kInvalidHandle);
    OrvexMaster* master = Orvex_Master_Init(HandleRelay);
    FUZZ_CHECK(master != nullptr);
    if ((options & 1) != 0) Orvex_Master_SetCallback(master, FreeEventMemory, 0);
    const Text host = FromAscii("127.0.0.1");
    const Text none;
    FUZZ_CHECK(Orvex_Master_AddSlave(master, host.c_str(), net::LocalPort(listener), none.c_str(),
                                     0, none.c_str(), none.c_str(), 0, 0) == 1);
    const net::Handle fakeSlave = AcceptOne(listener);
    FUZZ_CHECK(fakeSlave != net::kInvalidHandle);
    SendJobs(master);

    int pair[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) == 0);
    FUZZ_CHECK(WriteAll(pair[0], stream));
    shutdown(pair[0], SHUT_WR);
    ReceiveAll(*Master::From(master), pair[1], (options & 2) != 0 ? 16 : 524288);

    DrainEvents(master);
    Orvex_Master_DeInit(master);
    close(pair[0]);
    close(pair[1]);
    net::Close(fakeSlave);
    net::Close(listener);
    return 0;
}

}  // namespace orvex::fuzz

ORVEX_FUZZ_ENTRY(MasterDispatchInput)
