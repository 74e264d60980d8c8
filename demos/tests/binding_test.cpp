// The binding table: filled by name, in order; null entries for what a library lacks; the
// stream test's shorter table; and what a demo does with a library it cannot use.
#include <gtest/gtest.h>

#include "binding/orvex_api.hpp"
#include "demo_fixture.hpp"

namespace orvex::demo::testing {
namespace {

constexpr milliseconds kWait(10000);

TEST(Binding, AbsentFileLeavesEveryEntryNull) {
    OrvexApi api;
    EXPECT_EQ(loadOrvexApi("/nonexistent/libOrvex.so", api), nullptr);
    EXPECT_EQ(CountBoundEntries(api), 0);
    EXPECT_FALSE(LastLoadError().empty());
}

// A library that lacks one export: that entry alone is null.
TEST(Binding, MissingExportLeavesOnlyItsEntryNull) {
    OrvexApi api;
    ModuleHandle module = loadOrvexApi(ORVEX_STUB_WITHOUT_DOJOB, api);
    ASSERT_NE(module, nullptr) << LastLoadError();
    EXPECT_EQ(api.Orvex_Master_DoJob, nullptr);
    EXPECT_EQ(CountBoundEntries(api), kFullTableEntries - 1);
    EXPECT_NE(api.Orvex_Master_AddSlave, nullptr);
    EXPECT_NE(api.Orvex_GetVersion, nullptr);
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(Binding, StreamTestTableHas134Entries) {
    OrvexApi api;
    ModuleHandle module = loadOrvexApi(ORVEX_STUB_COMPLETE, api, BindingTable::StreamTest);
    ASSERT_NE(module, nullptr) << LastLoadError();
    EXPECT_EQ(CountBoundEntries(api), kStreamTableEntries);
    EXPECT_EQ(api.Orvex_Slave_EnableStreamTransmission, nullptr);
    EXPECT_EQ(api.Orvex_Master_FreeStream, nullptr);
    OrvexApi full;
    ModuleHandle again = loadOrvexApi(ORVEX_STUB_COMPLETE, full);
    EXPECT_EQ(CountBoundEntries(full), kFullTableEntries);
    FreeLibrary(again);
    FreeLibrary(module);
}

// The real library binds every entry, and answers through the table.
TEST(Binding, RealLibraryBindsEverything) {
    OrvexApi api;
    ModuleHandle module = loadOrvexApi(LibraryPath().c_str(), api);
    ASSERT_NE(module, nullptr) << LastLoadError();
    EXPECT_EQ(CountBoundEntries(api), kFullTableEntries);
    ASSERT_NE(api.Orvex_GetVersion, nullptr);
    EXPECT_STREQ(api.Orvex_GetVersion(), ORVEX_VERSION_TEXT);
    FreeLibrary(module);
}

// A demo never calls through a null entry: it names what is missing and ends.
TEST(Binding, DemosRefuseLibrariesTheyCannotUse) {
    ChildProcess slave({ProgramPath("slave_demo"), "--headless", "--port", "1", "--library",
                        ORVEX_STUB_WITHOUT_SLAVE_INIT});
    EXPECT_EQ(slave.WaitExit(kWait), 3);
    EXPECT_EQ(slave.Output(), "slave_demo: the library lacks the export Orvex_Slave_Init\n");

    ChildProcess master({ProgramPath("master_demo"), "--headless", "--library", "/nonexistent.so"});
    EXPECT_EQ(master.WaitExit(kWait), 2);
    EXPECT_EQ(master.Count("master_demo: cannot load the library /nonexistent.so"), 1)
        << master.Output();

    ChildProcess stream({ProgramPath("stream_test"), "--library", ORVEX_STUB_WITHOUT_DOJOB});
    EXPECT_EQ(stream.WaitExit(kWait), 3);
    EXPECT_EQ(stream.Count("lacks the export Orvex_Master_DoJob"), 1);
}

TEST(Binding, EveryProgramExplainsItsCommandLine) {
    for (const char* program : {"slave_demo", "master_demo", "stream_test"}) {
        ChildProcess help({ProgramPath(program), "--help"});
        EXPECT_EQ(help.WaitExit(kWait), 0);
        EXPECT_EQ(help.Lines().front().rfind(std::string("usage: ") + program, 0), 0u)
            << help.Output();
        EXPECT_EQ(help.Count("--library PATH"), 2) << "synopsis and option line";
        ChildProcess wrong({ProgramPath(program), "--port", "0"});
        EXPECT_EQ(wrong.WaitExit(kWait), 2);
    }
}

}  // namespace
}  // namespace orvex::demo::testing
