// stream_test: sends one job "StreamTest" with a stream of 1048576 zero bytes in blocks of
// 1024 bytes to the slave on localhost, port 444 (or N), and ends. Its progress callback
// cancels the transfer after the first acknowledged block, so exactly one block leaves before
// the stream end with the cancel word; --full lets the whole stream go instead.
//
//   stream_test [--port N] [--full] [--verbose] [--library PATH]
//
// Without --verbose it prints nothing; --verbose reports the progress calls and
// how the transfer ended. The exit status is 1 when the slave cannot be reached, else 0.
#include <cstdio>
#include <string>
#include <vector>

#include "binding/bind_library.hpp"
#include "binding/program_path.hpp"
#include "binding/required_exports.hpp"
#include "common/command_line.hpp"
#include "common/relay_refusal.hpp"

using namespace orvex::demo;

namespace {

constexpr int32_t kStreamSize = 1048576;
constexpr int32_t kBlockSize = 1024;

constexpr OptionSpec kOptions[] = {
    {"port", "N", "the slave's port on localhost (default 444)"},
    {"full", "", "let the whole stream go instead of canceling after the first block"},
    {"verbose", "", "print the progress calls and the outcome"},
    {"library", "PATH", "the library to load (default ../lib/libOrvex.so beside the program)"},
};

struct ProgressSettings {
    bool full = false;
    bool verbose = false;
};

// Called in the thread of Orvex_Master_DoJob after every acknowledged block; 0 cancels.
int32_t ORVEX_CALL OnProgress(OrvexMaster*, int32_t, int32_t streamSize, int32_t acknowledged,
                              intptr_t userData) {
    const auto* settings = reinterpret_cast<const ProgressSettings*>(userData);
    if (settings->verbose && (!settings->full || acknowledged == streamSize)) {
        std::printf("stream_test: %d of %d bytes acknowledged\n", acknowledged, streamSize);
    }
    return settings->full ? 1 : 0;
}

bool HasEveryExport(const OrvexApi& api) {
    return CheckRequiredExports(
        "stream_test",
        {ORVEX_DEMO_REQUIRE(api, Orvex_Master_Init), ORVEX_DEMO_REQUIRE(api, Orvex_Master_DeInit),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_ThreadReceive),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_AddSlave),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_DoJob),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_GetLastError)});
}

// Steps 2 to 7 of the run; returns the exit status.
int SendStream(int port, const ProgressSettings& settings) {
    const OrvexApi& api = TheApi();
    OrvexMaster* master = api.Orvex_Master_Init(RefuseRelayedStream);
    if (master == nullptr) return 1;
    api.Orvex_Master_ThreadReceive(master, 1);
    const int32_t slave = api.Orvex_Master_AddSlave(master, "localhost", port, "", 0, "", "", 0, 5);
    if (slave == 0) {
        if (settings.verbose) {
            const OrvexChar* error = api.Orvex_Master_GetLastError(master);
            std::printf("stream_test: %s\n", error != nullptr ? error : "no slave");
        }
        api.Orvex_Master_DeInit(master);  // the master's threads are stopped before the end
        return 1;
    }
    std::vector<uint8_t> buffer(kStreamSize);  // zero-filled
    // Blocks for the whole transfer; the result is not examined (only reported verbosely).
    const int32_t result = api.Orvex_Master_DoJob(
        master, "StreamTest", slave, nullptr, nullptr, 0, buffer.data(), kStreamSize, kBlockSize,
        OnProgress, reinterpret_cast<intptr_t>(&settings), 0, 1);
    if (settings.verbose) {
        const OrvexChar* error = api.Orvex_Master_GetLastError(master);
        std::printf("stream_test: Orvex_Master_DoJob returned %d%s%s\n", result,
                    result == 0 && error != nullptr ? ", last error: " : "",
                    result == 0 && error != nullptr ? error : "");
    }
    StopRefusingRelayedStreams();
    api.Orvex_Master_DeInit(master);
    return 0;  // the buffer is freed after DeInit, on leaving
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine line = ParseCommandLine(argc, argv, kOptions);
    const std::string usage =
        UsageText("stream_test [--port N] [--full] [--verbose] [--library PATH]", kOptions);
    if (line.help || !line.error.empty()) {
        if (!line.error.empty()) std::fprintf(stderr, "stream_test: %s\n", line.error.c_str());
        std::fputs(usage.c_str(), line.help ? stdout : stderr);
        return line.help ? 0 : 2;
    }
    const auto port = ParseInt(line.Get("port", "444"), 1, 65535);
    if (!port) {
        std::fprintf(stderr, "stream_test: the port must be a number from 1 to 65535\n");
        return 2;
    }
    ModuleHandle module = BindLibrary("stream_test", line.Get("library", DefaultLibraryPath()),
                                      BindingTable::StreamTest);
    if (module == nullptr) return kExitLibraryNotLoaded;
    if (!HasEveryExport(TheApi())) return kExitExportMissing;
    ProgressSettings settings;
    settings.full = line.Has("full");
    settings.verbose = line.Has("verbose");
    const int status = SendStream(*port, settings);
    FreeLibrary(module);
    return status;
}
