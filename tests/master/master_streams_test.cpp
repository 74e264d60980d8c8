// Streams sent by the master, against a scripted fake slave that answers every stream message.
#include <atomic>
#include <functional>
#include <numeric>
#include <thread>

#include "core/crc32.hpp"
#include "master_fixture.hpp"
#include "protocol/messages.hpp"

namespace orvex::test {
namespace {

using Body = std::vector<uint8_t>;

int32_t Word(const Body& body, size_t index) {
    return protocol::ReadLe32(body.data() + 4 * index);
}

// Reads the master's messages in a thread of its own and answers each with what `script`
// returns (nothing, or one or more bodies). Finish() collects what was read.
class ScriptedSlave {
  public:
    using Script = std::function<std::vector<Body>(const Body& body)>;
    ScriptedSlave(RawPeer& peer, Script script)
        : thread_([this, &peer, script = std::move(script)] {
              for (;;) {
                  Body body = peer.ReceiveBody(100);
                  if (body.empty()) {
                      if (finished_.load()) return;
                      continue;
                  }
                  for (const Body& reply : script(body)) peer.SendBody(reply);
                  seen_.push_back(std::move(body));
              }
          }) {}
    ~ScriptedSlave() { Finish(); }

    std::vector<Body> Finish() {
        finished_ = true;
        if (thread_.joinable()) thread_.join();
        return seen_;
    }

  private:
    std::atomic<bool> finished_{false};
    std::vector<Body> seen_;  // written by the thread until it is joined
    std::thread thread_;
};

// A slave that stores the stream and acknowledges as a correct receiver does.
ScriptedSlave::Script CorrectReceiver(Body& stored) {
    return [&stored](const Body& body) -> std::vector<Body> {
        switch (Word(body, 0)) {
            case 161:
                stored.assign(static_cast<size_t>(Word(body, 3)), 0);
                return {Words({160, 0, 1, 0})};
            case 162: {
                const size_t offset = static_cast<size_t>(Word(body, 2));
                const bool ok = Crc32(body.data() + 16, body.size() - 16) ==
                                static_cast<uint32_t>(Word(body, 3));
                if (ok) std::copy(body.begin() + 16, body.end(), stored.begin() + offset);
                return {Words({160, 0, ok ? 1 : 0, 0})};
            }
            case 163: {
                const bool ok =
                    Crc32(stored.data(), stored.size()) == static_cast<uint32_t>(Word(body, 2));
                return {Words({160, 0, ok ? 1 : 0, 0})};
            }
            default:
                return {};
        }
    };
}

struct Progress {
    std::vector<int32_t> acknowledged;
    int32_t cancelAfter = -1;  // return 0 on this call (0-based); -1 never
};

int32_t ORVEX_CALL RecordProgress(OrvexMaster*, int32_t, int32_t, int32_t acknowledged,
                                  intptr_t userData) {
    auto* progress = reinterpret_cast<Progress*>(userData);
    progress->acknowledged.push_back(acknowledged);
    return static_cast<int32_t>(progress->acknowledged.size()) - 1 == progress->cancelAfter ? 0 : 1;
}

class MasterStreamTest : public MasterWireTest {
  protected:
    int32_t Stream(const Body& data, int32_t blockSize, Progress* progress = nullptr,
                   int32_t target = 0) {
        return Orvex_Master_DoJob(
            master, T("Take").c_str(), 1, nullptr, nullptr, 0, const_cast<uint8_t*>(data.data()),
            static_cast<int32_t>(data.size()), blockSize, progress ? &RecordProgress : nullptr,
            reinterpret_cast<intptr_t>(progress), target, 0);
    }
    static Body Pattern(size_t size) {
        Body data(size);
        for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
        return data;
    }
};

TEST_F(MasterStreamTest, MegabyteInKilobyteBlocksWithProgress) {
    RawPeer peer = AddFakeSlave();
    Body stored;
    ScriptedSlave slave(peer, CorrectReceiver(stored));
    const Body data = Pattern(1 << 20);
    Progress progress;
    EXPECT_EQ(Stream(data, 1024, &progress), 1);
    const std::vector<Body> seen = slave.Finish();
    ASSERT_EQ(seen.size(), 1u + 1024u + 1u);
    EXPECT_EQ(Word(seen[0], 0), 161);
    EXPECT_EQ(Word(seen[0], 1), 1);        // job id
    EXPECT_EQ(Word(seen[0], 2), 0);        // the slave itself
    EXPECT_EQ(Word(seen[0], 3), 1 << 20);  // stream size
    for (int32_t i = 0; i < 1024; ++i) {
        const Body& block = seen[1 + static_cast<size_t>(i)];
        ASSERT_EQ(Word(block, 0), 162);
        EXPECT_EQ(Word(block, 1), 0);
        EXPECT_EQ(Word(block, 2), i * 1024);
        EXPECT_EQ(block.size(), 16u + 1024u);
    }
    EXPECT_EQ(seen.back(),
              Words({163, 0, static_cast<int32_t>(Crc32(data.data(), data.size())), 0}));
    EXPECT_EQ(stored, data);
    ASSERT_EQ(progress.acknowledged.size(), 1024u);
    for (size_t i = 0; i < 1024; ++i) EXPECT_EQ(progress.acknowledged[i], int32_t(i + 1) * 1024);
}

TEST_F(MasterStreamTest, DefaultBlockSizeAndShortLastBlock) {
    RawPeer peer = AddFakeSlave();
    Body stored;
    ScriptedSlave slave(peer, CorrectReceiver(stored));
    EXPECT_EQ(Stream(Pattern(100), 0), 1);
    EXPECT_EQ(Stream(Pattern(262144 + 5), -1), 2);
    const std::vector<Body> seen = slave.Finish();
    ASSERT_EQ(seen.size(), 3u + 4u);
    EXPECT_EQ(seen[1].size(), 16u + 100u);
    EXPECT_EQ(seen[4].size(), 16u + 262144u);
    EXPECT_EQ(seen[5].size(), 16u + 5u);
}

TEST_F(MasterStreamTest, ProgressCallbackCancels) {
    RawPeer peer = AddFakeSlave();
    Body stored;
    ScriptedSlave slave(peer, CorrectReceiver(stored));
    Progress progress;
    progress.cancelAfter = 0;
    EXPECT_EQ(Stream(Pattern(1 << 20), 1024, &progress), 0);
    EXPECT_EQ(LastError(), "Orvex_Master_DoJob(): stream canceled by callback");
    const std::vector<Body> seen = slave.Finish();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2], Words({163, 0, 0, 1}));
}

TEST_F(MasterStreamTest, EveryCrcFailureRetriesThenShrinksTheBlockUntilItGivesUp) {
    RawPeer peer = AddFakeSlave();
    ScriptedSlave slave(peer, [](const Body& body) -> std::vector<Body> {
        if (Word(body, 0) == 161) return {Words({160, 0, 1, 0})};
        if (Word(body, 0) == 162) return {Words({160, 0, 0, 0})};
        return {};
    });
    EXPECT_EQ(Stream(Pattern(300000), 0), 0);
    EXPECT_EQ(LastError(), "Orvex_Master_DoJob(): error while sending data, too many crc errors");
    const std::vector<Body> seen = slave.Finish();
    std::vector<size_t> expected(7, 262144);
    for (size_t size = 262144; size > 128;) {
        size = size * 3 / 4;
        expected.push_back(size);
    }
    EXPECT_EQ(expected[expected.size() - 2], 146u);
    EXPECT_EQ(expected.back(), 109u);
    ASSERT_EQ(seen.size(), 1 + expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(Word(seen[1 + i], 2), 0);  // always from the start
        EXPECT_EQ(seen[1 + i].size(), 16 + expected[i]) << i;
    }
    EXPECT_EQ(seen.back(), Words({163, 0, 0, 0}));  // given up: no CRC, no cancel
}

TEST_F(MasterStreamTest, RefusalsAndTimeouts) {
    struct Case {
        std::string name;
        std::function<std::vector<Body>(const Body&, int& blocks)> script;
        std::string error;
        size_t messages;  // what the slave reads
    };
    const std::vector<Case> cases = {
        {"target missing",
         [](const Body&, int&) {
             return std::vector<Body>{Words({160, 0, 0, 0})};
         },
         "stream target not found", 1},
        {"relay refused",
         [](const Body&, int&) {
             return std::vector<Body>{Words({160, 0, 0, 1})};
         },
         "you are not allowed to send streams via this slave", 1},
        {"silent", [](const Body&, int&) { return std::vector<Body>{}; }, "could not init stream",
         1},
        {"blocks unanswered",
         [](const Body& b, int&) {
             return Word(b, 0) == 161 ? std::vector<Body>{Words({160, 0, 1, 0})}
                                      : std::vector<Body>{};
         },
         "error while sending data, timeout reached", 1 + 5 + 1},
        {"receiver cancels",
         [](const Body& b, int&) {
             return std::vector<Body>{Words({160, 0, 1, Word(b, 0) == 162 ? 1 : 0})};
         },
         "stream canceled by other side", 2},
        {"whole crc fails",
         [](const Body& b, int&) {
             return std::vector<Body>{Words({160, 0, Word(b, 0) == 163 ? 0 : 1, 0})};
         },
         "mayor crc error", 3},
        {"slave lost a block",
         [](const Body& b, int& blocks) {
             if (Word(b, 0) == 162 && blocks++ == 0) return std::vector<Body>{Words({2, 255, 0})};
             return std::vector<Body>{Words({160, 0, 1, 0})};
         },
         "", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int32_t number = 0;
        RawPeer peer = AddFakeSlave(&number);
        int blocks = 0;
        ScriptedSlave slave(peer, [&](const Body& b) { return c.script(b, blocks); });
        Orvex_Master_SetStreamOptions(master, 30, 3);
        const Body data = Pattern(1000);
        const int32_t result =
            Orvex_Master_DoJob(master, T("Take").c_str(), number, nullptr, nullptr, 0,
                               const_cast<uint8_t*>(data.data()), 1000, 0, nullptr, 0, 0, 0);
        EXPECT_EQ(result == 0, !c.error.empty());
        if (!c.error.empty()) {
            EXPECT_EQ(LastError(), "Orvex_Master_DoJob(): " + c.error);
        }
        EXPECT_EQ(slave.Finish().size(), c.messages);
        Orvex_Master_RemoveSlave(master, number);
    }
}

TEST_F(MasterStreamTest, RelayedThroughTheSlaveReturnsOneAndFreesTheJobId) {
    RawPeer peer = AddFakeSlave();
    Body stored;
    ScriptedSlave slave(peer, CorrectReceiver(stored));
    const Body data = Pattern(5000);
    EXPECT_EQ(Stream(data, 2048, nullptr, 3), 1);
    const std::vector<Body> seen = slave.Finish();
    ASSERT_EQ(seen.size(), 1u + 3u + 1u);
    EXPECT_EQ(Word(seen[0], 2), 3);  // target master
    for (const Body& message : seen) EXPECT_EQ(Word(message, 1), Word(message, 0) == 161 ? 1 : 3);
    EXPECT_EQ(stored, data);
    EXPECT_EQ(Job("next", 1), 1);  // the stream's job id was released
}

}  // namespace
}  // namespace orvex::test
