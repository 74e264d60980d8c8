// slave_demo: plays the slave for the master demo.
//
//   slave_demo [--headless] [--port N] [--library PATH]
//
// Listens on port 444 (or N) with 32 workers. --headless runs without a window: log lines
// and label changes go to standard output, lines "press Pause" / "press Resume" / "close" on
// standard input press the buttons or close it, and SIGINT/SIGTERM close it as closing the
// window would.
#include <cstdio>
#include <string>

#include "binding/bind_library.hpp"
#include "binding/program_path.hpp"
#include "binding/required_exports.hpp"
#include "common/command_line.hpp"
#include "slave_demo/slave_demo.hpp"

using namespace orvex::demo;

namespace {

constexpr OptionSpec kOptions[] = {
    {"headless", "", "run without a window: print log lines and label changes, read presses"},
    {"port", "N", "listen on port N (default 444)"},
    {"library", "PATH", "the library to load (default ../lib/libOrvex.so beside the program)"},
};

bool HasEveryExport(const OrvexApi& api) {
    return CheckRequiredExports(
        "slave_demo",
        {ORVEX_DEMO_REQUIRE(api, Orvex_Slave_Init), ORVEX_DEMO_REQUIRE(api, Orvex_Slave_DeInit),
         ORVEX_DEMO_REQUIRE(api, Orvex_Slave_SetCallback),
         ORVEX_DEMO_REQUIRE(api, Orvex_Slave_AddJob),
         ORVEX_DEMO_REQUIRE(api, Orvex_Slave_SetCompressionOptions),
         ORVEX_DEMO_REQUIRE(api, Orvex_Slave_Pause), ORVEX_DEMO_REQUIRE(api, Orvex_Slave_Resume),
         ORVEX_DEMO_REQUIRE(api, Orvex_Slave_CountJobs),
         ORVEX_DEMO_REQUIRE(api, Orvex_Slave_GetMasterIP),
         ORVEX_DEMO_REQUIRE(api, Orvex_Slave_SetMasterJobAccessCheck),
         ORVEX_DEMO_REQUIRE(api, Orvex_Slave_FreeStream),
         ORVEX_DEMO_REQUIRE(api, Orvex_Parameter_GetMem),
         ORVEX_DEMO_REQUIRE(api, Orvex_Return_Long), ORVEX_DEMO_REQUIRE(api, Orvex_Return_String),
         ORVEX_DEMO_REQUIRE(api, Orvex_Return_Memory),
         ORVEX_DEMO_REQUIRE(api, Orvex_AllocateMemory), ORVEX_DEMO_REQUIRE(api, Orvex_FreeMemory)});
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine line = ParseCommandLine(argc, argv, kOptions);
    const std::string usage =
        UsageText("slave_demo [--headless] [--port N] [--library PATH]", kOptions);
    if (line.help || !line.error.empty()) {
        if (!line.error.empty()) std::fprintf(stderr, "slave_demo: %s\n", line.error.c_str());
        std::fputs(usage.c_str(), line.help ? stdout : stderr);
        return line.help ? 0 : 2;
    }
    const auto port = ParseInt(line.Get("port", "444"), 1, 65535);
    if (!port) {
        std::fprintf(stderr, "slave_demo: the port must be a number from 1 to 65535\n");
        return 2;
    }

    ModuleHandle module =
        BindLibrary("slave_demo", line.Get("library", DefaultLibraryPath()), BindingTable::Full);
    if (module == nullptr) return kExitLibraryNotLoaded;
    if (!HasEveryExport(TheApi())) return kExitExportMissing;

    const std::string title = SlaveDemo::Title(*port);
    auto window = line.Has("headless") ? gui::OpenHeadlessWindow(title, 400, 300, stdout, true)
                                       : gui::OpenRealWindow(title, 400, 300);
    if (window == nullptr) return 1;
    int status = 0;
    {
        SlaveDemo demo(std::move(window), *port);
        if (demo.Start()) {
            demo.Run();
        } else {
            // The window stays hidden; the command line still learns why.
            std::fprintf(
                stderr,
                "slave_demo: cannot listen on port %d (in use, or below 1024 without root)\n",
                *port);
            status = 1;
        }
    }
    FreeLibrary(module);
    return status;
}
