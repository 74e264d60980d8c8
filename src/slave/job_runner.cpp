// Running an accepted job on a worker of the job pool.
#include <vector>

#include "core/memory.hpp"
#include "params/return_value.hpp"
#include "params/value_bytes.hpp"
#include "protocol/framing.hpp"
#include "protocol/messages.hpp"
#include "slave/job_request.hpp"
#include "slave/slave.hpp"

namespace orvex {
namespace {

OrvexReturnValue* CallJob(OrvexSlave* slave, const JobRequest& request) {
    OrvexParameterList* parameters = ToHandle(request.parameters.get());
    OrvexReceivedStream* stream = request.stream != nullptr ? &request.stream->stream : nullptr;
    if (request.job.useCdecl) {
        const auto function = reinterpret_cast<OrvexJobFunctionCdecl>(request.job.function);
        return function(slave, request.master, request.jobId, parameters, stream);
    }
    return request.job.function(slave, request.master, request.jobId, parameters, stream);
}

}  // namespace

void Slave::RunJob(JobRequest& request) {
    MasterLink& link = *request.link;
    auto done = [&] { request.entry->outstandingJobs.fetch_sub(1); };
    // The job's connection closed before the job came to run: drop it without a word.
    if (!link.IsOpen()) {
        done();
        if (request.stream != nullptr) streams_.Abandon(request.stream);
        return;
    }
    if (request.accessCheck != nullptr &&
        request.accessCheck(Handle(), request.master, request.name.c_str()) == 0) {
        // The count drops before the master can hear of the refusal.
        done();
        link.Send(protocol::BuildStatusNotice(protocol::kStatusAccessDenied, request.jobId));
        if (request.stream != nullptr) streams_.Abandon(request.stream);
        return;
    }
    link.Send(protocol::BuildStatusNotice(protocol::kStatusStarted, request.jobId));
    const ReturnValuePtr result(CallJob(Handle(), request));
    done();
    SendResult(request, result.get());
    request.parameters.reset();
}

// The result message {2, 1, job id, s, s bytes of the value}. A value that records more
// bytes than its block holds is padded with zeros; one too large for any packet is sent as
// an empty result.
void Slave::SendResult(JobRequest& request, OrvexReturnValue* result) {
    int32_t size = result != nullptr && result->size > 0 ? result->size : 0;
    if (size > protocol::kMaxBodyLength - static_cast<int32_t>(protocol::kJobPayloadHeadSize)) {
        size = 0;
    }
    const auto head = protocol::BuildJobPayloadHead(protocol::kStatusResult, request.jobId, size);
    if (size == 0) {
        request.link->Send(head);
    } else if (size <= BlockSize(result->value)) {
        request.link->Send(head,
                           {static_cast<const uint8_t*>(result->value), static_cast<size_t>(size)});
    } else {
        std::vector<uint8_t> padded(static_cast<size_t>(size));
        CopyValueBytes(padded.data(), result->value, size);
        request.link->Send(head, padded);
    }
}

}  // namespace orvex
