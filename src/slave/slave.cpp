#include "slave/slave.hpp"

#include <chrono>
#include <cstring>

#include "core/clock.hpp"
#include "protocol/framing.hpp"
#include "protocol/messages.hpp"

namespace orvex {
namespace {

// How long DeInit lets the goodbyes (and what was queued before them) drain.
constexpr auto kGoodbyeGrace = std::chrono::milliseconds(500);
// The server thread's wait on the poller while messages wait for a resend: they are tried
// again every millisecond. Otherwise it waits until something happens (every producer of
// work for it wakes the poller: connections and data, Add to the resend queue, a kick,
// DeInit), so an idle slave costs no processor time.
constexpr int kResendPollMs = 1;
// While kicked connections linger, the server thread looks this often whether their time is
// over. A kicked master that keeps its connection open is cut off this long after the kick
// (and not before everything queued for it was written or given up).
constexpr int kLingerPollMs = 50;
constexpr auto kKickLinger = std::chrono::seconds(5);

// The address as Orvex_Slave_GetMasterIP reports it: the first octet in the lowest byte.
int32_t AddressValue(uint32_t ipv4NetworkOrder) {
    uint8_t octets[4];
    std::memcpy(octets, &ipv4NetworkOrder, sizeof octets);
    return static_cast<int32_t>(uint32_t{octets[0]} | uint32_t{octets[1]} << 8 |
                                uint32_t{octets[2]} << 16 | uint32_t{octets[3]} << 24);
}

}  // namespace

std::unique_ptr<Slave> Slave::Create(int32_t port, int32_t workers) {
    const net::Handle server = net::Listen(port);
    if (server == net::kInvalidHandle) return nullptr;
    std::unique_ptr<Slave> slave(new Slave(server, workers));
    if (!slave->poller_.Valid() || !slave->poller_.AddListener(server)) return nullptr;
    slave->jobPool_ = std::make_unique<TaskPool>(slave->workerCount_);
    slave->events_.Start();
    slave->serverThread_ = std::thread([raw = slave.get()] { raw->ServerLoop(); });
    return slave;
}

Slave::Slave(net::Handle server, int32_t workers)
    : server_(server),
      port_(net::LocalPort(server)),
      workerCount_(workers < 1 ? 1 : workers),
      startTime_(CalendarTime()),
      receiveBlockSize_(protocol::kDefaultReceiveBlockSize),
      resend_([this] { poller_.Wake(); }),
      registry_(100),
      events_(reinterpret_cast<OrvexSlave*>(this)) {}

// Orvex_Slave_DeInit, in this order: the server thread (no connection is registered and no
// batch started afterwards), the receive threads, the statistics records of the shutdown,
// the job pool (running jobs finish, queued ones are dropped), the callback thread, the
// statistics thread, the goodbye to every master, then every stream, queue and connection.
Slave::~Slave() {
    StopServerThread();
    for (int32_t m = 1; m <= masters_.Slots(); ++m) {
        std::thread& thread = masters_.At(m).receiveThread;
        if (thread.joinable()) thread.join();
    }
    if (jobPool_) {
        Statistics().RecordShutdown({startTime_, masters_.Slots(), jobPool_->Started(),
                                     jobPool_->Pending(), jobPool_->Running()});
        jobPool_->Stop();
    }
    events_.Stop();
    Statistics().Stop();

    std::vector<std::shared_ptr<MasterLink>> links;
    const auto goodbye = protocol::BuildGoodbye();
    for (int32_t m = 1; m <= masters_.Slots(); ++m) {
        MasterEntry& entry = masters_.At(m);
        entry.connected.store(false);
        if (auto link = entry.TakeLink()) {
            link->Send(goodbye);
            links.push_back(std::move(link));
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + kGoodbyeGrace;
    for (const auto& link : links) link->WaitDrained(deadline);
    for (const auto& link : links) link->Close(false);

    resend_.Clear();
    streams_.Clear();
    links.clear();
    watched_.clear();
    net::Close(server_);
}

void Slave::StopServerThread() {
    if (!serverThread_.joinable()) return;
    serverStop_.store(true);
    poller_.Wake();
    serverThread_.join();
}

void Slave::SetError(std::string_view function, std::string_view reason) {
    const Text text = lastError_.Set(function, reason);
    Statistics().RecordError(text);
}

void Slave::SetErrorText(std::string_view text) {
    const Text copy = FromAscii(text);
    lastError_.SetText(copy);
    Statistics().RecordError(copy);
}

bool Slave::InstallStatistics(std::unique_ptr<SlaveStatisticsHook> hook) {
    std::scoped_lock guard(statisticsLock_);
    if (installedStatistics_ || !hook) return false;
    installedStatistics_ = std::move(hook);
    statistics_.store(installedStatistics_.get(), std::memory_order_release);
    return true;
}

void Slave::Event(int32_t type, int32_t master, TextView text) {
    Statistics().RecordEvent(type, master);
    events_.Produce(type, master, text);
}

// ---- Server thread ----------------------------------------------------------------------

void Slave::ServerLoop() {
    while (!serverStop_.load()) {
        pollEvents_.clear();
        const int waitMs = !resend_.IsEmpty()    ? kResendPollMs
                           : !lingering_.empty() ? kLingerPollMs
                                                 : -1;
        poller_.Wait(waitMs, pollEvents_);
        for (const net::PollEvent& event : pollEvents_) {
            // Memory exhaustion while handling one connection must not end the server thread.
            try {
                HandleEvent(event);
            } catch (...) {
            }
        }
        ForgetKicked();
        resend_.Drain();
    }
}

void Slave::HandleEvent(const net::PollEvent& event) {
    switch (event.type) {
        case net::PollEvent::Type::kConnect:
            OnConnect(event.handle);
            break;
        case net::PollEvent::Type::kData:
            OnData(event.handle);
            break;
        case net::PollEvent::Type::kClose:
            OnClose(event.handle);
            break;
    }
}

void Slave::OnConnect(net::Handle handle) {
    auto link = std::make_shared<MasterLink>(handle, sendSettings_, resend_);
    watched_[handle] = link;
    if (Register(handle, link) == 0) link->Close(false);
}

void Slave::OnData(net::Handle handle) {
    const auto it = watched_.find(handle);
    if (it == watched_.end()) return;
    std::shared_ptr<MasterLink> link = it->second;
    const int32_t m = connectionMap_.Lookup(handle);
    MasterEntry* entry = masters_.Valid(m) ? &masters_.At(m) : nullptr;
    if (entry == nullptr || !entry->connected.load() || entry->Link() != link) {
        // A master that was kicked: its bytes are not read as messages any more.
        DiscardInput(*link);
        poller_.Rearm(handle);
        return;
    }
    if (threadReceive_.load() && connectedMasters_.load() >= 2) {
        // The previous receive thread of this master re-armed the connection as its last
        // act, so it has ended or is about to.
        if (entry->receiveThread.joinable()) entry->receiveThread.join();
        entry->receiveThread = std::thread([this, link, m] {
            try {
                RunBatch(link, m);
            } catch (...) {
            }
            poller_.Rearm(link->Connection());
        });
        return;
    }
    try {
        RunBatch(link, m);
    } catch (...) {
    }
    poller_.Rearm(handle);
}

void Slave::OnClose(net::Handle handle) {
    const auto it = watched_.find(handle);
    if (it == watched_.end()) return;
    const int32_t m = connectionMap_.Lookup(handle);
    if (masters_.Valid(m) && masters_.At(m).Link() == it->second) CloseMaster(m, false);
    watched_.erase(it);
}

// Lets go of the connections of kicked masters (see lingering_): once the master has closed
// its end, or once the linger time is over and everything queued for it was written (or
// given up). Until then OnData drops whatever the master still sends.
void Slave::ForgetKicked() {
    const auto now = std::chrono::steady_clock::now();
    {
        std::scoped_lock guard(forgetLock_);
        for (auto& [handle, link] : forget_) {
            lingering_.push_back({handle, std::move(link), now + kKickLinger});
        }
        forget_.clear();
    }
    std::erase_if(lingering_, [&](const Lingering& kicked) {
        const auto it = watched_.find(kicked.handle);
        if (it == watched_.end() || it->second != kicked.link) return true;  // closed by the master
        if (now < kicked.until || !kicked.link->WaitDrained(now)) return false;
        DiscardInput(*kicked.link);
        poller_.Remove(kicked.handle);
        watched_.erase(it);
        return true;
    });
}

void Slave::DiscardInput(MasterLink& link) {
    uint8_t scratch[4096];
    while (net::Read(link.Connection(), scratch, sizeof scratch) == sizeof scratch) {
    }
}

int32_t Slave::Register(net::Handle handle, const std::shared_ptr<MasterLink>& link) {
    uint32_t address = 0;
    int32_t port = 0;
    net::PeerAddress(handle, address, port);
    const int32_t now = CalendarTime();
    int32_t m = connectionMap_.Lookup(handle);
    std::shared_ptr<MasterLink> replaced;
    {
        std::scoped_lock guard(registrationLock_);
        MasterEntry* entry = nullptr;
        if (m == 0) {
            entry = masters_.Prepare();
            if (entry == nullptr) return 0;
        } else {
            entry = &masters_.At(m);
            // The handle's previous connection was never reported closed: it is gone now.
            if (entry->connected.load()) {
                replaced = entry->TakeLink();
                connectedMasters_.fetch_sub(1);
            }
        }
        entry->connectionHandle.store(handle);
        entry->connectTime.store(now);
        entry->peerAddress.store(AddressValue(address));
        entry->peerPort.store(port);
        entry->streamRelayAllowed.store(true);
        entry->SetLink(link);
        entry->connected.store(true);
        if (m == 0) {
            masters_.Publish();
            m = masters_.Slots();
            connectionMap_.Store(handle, m);
        }
        connectedMasters_.fetch_add(1);
    }
    if (replaced) replaced->Close(false);
    Event(2, m);
    events_.Wake();
    Statistics().RecordMasterConnected(m, now, AddressValue(address), port);
    return m;
}

std::shared_ptr<MasterLink> Slave::CloseMaster(int32_t master, bool drainFirst,
                                               std::span<const uint8_t> lastBody) {
    std::shared_ptr<MasterLink> link;
    int32_t connectTime = 0;
    {
        std::scoped_lock guard(registrationLock_);
        if (!masters_.Valid(master)) return nullptr;
        MasterEntry& entry = masters_.At(master);
        if (!entry.connected.load()) return nullptr;
        entry.connected.store(false);
        link = entry.TakeLink();
        connectTime = entry.connectTime.load();
        connectedMasters_.fetch_sub(1);
    }
    // The rest of a stream still arriving from this master will never come: the job that
    // holds it sees it failed, and a stream that no job holds is released now rather than at
    // DeInit.
    MasterEntry& entry = masters_.At(master);
    if (StreamRecord* record = streams_.Pin(entry)) {
        if (LoadStreamField(record->stream.state) == kStreamReceiving) {
            StoreStreamField(record->stream.state, kStreamFailed);
        }
        streams_.EndCurrent(entry, record);
        streams_.Unpin(record);
    }
    Event(1, master);
    if (link) link->Close(drainFirst, lastBody);
    Statistics().RecordMasterClosed(master, connectTime);
    events_.Wake();
    return link;
}

// ---- Masters ------------------------------------------------------------------------------

std::shared_ptr<MasterLink> Slave::ConnectedLink(int32_t master) const {
    if (!masters_.Valid(master)) return nullptr;
    const MasterEntry& entry = masters_.At(master);
    if (!entry.connected.load()) return nullptr;
    return entry.Link();
}

void Slave::SendTo(int32_t master, std::span<const uint8_t> head, std::span<const uint8_t> tail) {
    if (auto link = ConnectedLink(master)) link->Send(head, tail);
}

void Slave::IterateMasters(OrvexSlaveMasterIterator fn, intptr_t userData) {
    if (fn == nullptr) return;
    for (int32_t m = 1; m <= masters_.Slots(); ++m) {
        if (masters_.At(m).connected.load() && fn(Handle(), m, userData) == 0) return;
    }
}

void Slave::KickMaster(int32_t master) {
    // The removal notice closes the link in the same step: a job that finishes meanwhile
    // cannot send its status after it (the master has let go of the slave by then).
    const auto notice = protocol::BuildStatusNotice(protocol::kStatusRemoved, 0);
    const std::shared_ptr<MasterLink> link = CloseMaster(master, true, notice);
    if (!link) return;
    {
        std::scoped_lock guard(forgetLock_);
        forget_.emplace_back(link->Connection(), link);
    }
    poller_.Wake();
}

// ---- Jobs -----------------------------------------------------------------------------------

void Slave::AddJob(TextView name, TextView description, OrvexJobFunction function, bool useCdecl) {
    const int32_t number = registry_.Add(name, description, function, useCdecl);
    if (number != 0) Statistics().RecordJobRegistered(number, name, description);
}

void Slave::Pause() {
    std::scoped_lock guard(pauseLock_);
    if (paused_) return;
    paused_ = true;
    jobPool_->Pause();
    const auto notice = protocol::BuildStatusNotice(protocol::kStatusPaused, 0);
    for (int32_t m = 1; m <= masters_.Slots(); ++m) SendTo(m, notice);
}

// The notices go out before the pool resumes, so a master learns of the resumption before
// any of its queued jobs reports "started".
void Slave::Resume() {
    std::scoped_lock guard(pauseLock_);
    if (!paused_) return;
    paused_ = false;
    const auto notice = protocol::BuildStatusNotice(protocol::kStatusResumed, 0);
    for (int32_t m = 1; m <= masters_.Slots(); ++m) SendTo(m, notice);
    jobPool_->Resume();
}

}  // namespace orvex
