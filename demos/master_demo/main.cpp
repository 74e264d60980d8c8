// master_demo: plays the master against the slave demo.
//
//   master_demo [--headless] [--polling] [--port N] [--text T] [--checks K] [--library PATH]
//
// Connects to localhost, port 444 (or N). The callback variant is the default; --polling
// selects the polling variant. --headless runs without a window: the demo presses the check
// button K times (default 1) with the text T (default "Demotext"), prints log lines, label
// contents and message boxes, and exits 0 when the local and the slave's values agree.
#include <cstdio>
#include <string>

#include "binding/bind_library.hpp"
#include "binding/program_path.hpp"
#include "binding/required_exports.hpp"
#include "common/command_line.hpp"
#include "master_demo/master_demo.hpp"

using namespace orvex::demo;

namespace {

constexpr OptionSpec kOptions[] = {
    {"headless", "", "run without a window: press the check button, print what it shows"},
    {"polling", "", "the polling variant (default: the callback variant)"},
    {"port", "N", "the slave's port on localhost (default 444)"},
    {"text", "T", "the text to check (default \"Demotext\")"},
    {"checks", "K", "headless: press the check button K times (default 1)"},
    {"library", "PATH", "the library to load (default ../lib/libOrvex.so beside the program)"},
};

bool HasEveryExport(const OrvexApi& api) {
    return CheckRequiredExports(
        "master_demo",
        {ORVEX_DEMO_REQUIRE(api, Orvex_Master_Init), ORVEX_DEMO_REQUIRE(api, Orvex_Master_DeInit),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_SetReceiveBlockSize),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_SetCallback),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_ThreadReceive),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_AddSlave),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_GetLastError),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_DoJob), ORVEX_DEMO_REQUIRE(api, Orvex_Master_Event),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_Event_Type),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_Event_JobId),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_Event_JobMem),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_Event_JobMemSize),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_Event_JobLong),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_Event_JobString),
         ORVEX_DEMO_REQUIRE(api, Orvex_Master_FreeStream),
         ORVEX_DEMO_REQUIRE(api, Orvex_Parameter_New),
         ORVEX_DEMO_REQUIRE(api, Orvex_Parameter_AddString),
         ORVEX_DEMO_REQUIRE(api, Orvex_FreeMemory)});
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine line = ParseCommandLine(argc, argv, kOptions);
    const std::string usage = UsageText(
        "master_demo [--headless] [--polling] [--port N] [--text T] [--checks K] [--library PATH]",
        kOptions);
    if (line.help || !line.error.empty()) {
        if (!line.error.empty()) std::fprintf(stderr, "master_demo: %s\n", line.error.c_str());
        std::fputs(usage.c_str(), line.help ? stdout : stderr);
        return line.help ? 0 : 2;
    }
    MasterDemoOptions options;
    options.headless = line.Has("headless");
    options.polling = line.Has("polling");
    options.text = line.Get("text", "Demotext");
    const auto port = ParseInt(line.Get("port", "444"), 1, 65535);
    const auto checks = ParseInt(line.Get("checks", "1"), 1, 1000);
    if (!port || !checks) {
        std::fprintf(stderr, "master_demo: --port takes 1 to 65535, --checks 1 to 1000\n");
        return 2;
    }
    options.port = *port;
    options.checks = *checks;

    ModuleHandle module =
        BindLibrary("master_demo", line.Get("library", DefaultLibraryPath()), BindingTable::Full);
    if (module == nullptr) return kExitLibraryNotLoaded;
    if (!HasEveryExport(TheApi())) return kExitExportMissing;

    auto window = options.headless ? gui::OpenHeadlessWindow("Master Demo", 300, 340, stdout, false)
                                   : gui::OpenRealWindow("Master Demo", 300, 340);
    if (window == nullptr) return 1;
    int status = 1;
    {
        MasterDemo demo(std::move(window), options);
        if (demo.Start()) status = demo.Run();
    }
    FreeLibrary(module);
    return status;
}
