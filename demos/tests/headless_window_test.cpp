// The headless window: what it prints, the newest-first log, and scripted presses.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "gui/window.hpp"

namespace orvex::demo::gui {
namespace {

class HeadlessWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        out_ = std::tmpfile();
        ASSERT_NE(out_, nullptr);
        window_ = OpenHeadlessWindow("Test", 300, 200, out_, false);
    }
    void TearDown() override {
        window_.reset();
        std::fclose(out_);
    }
    std::string Output() {
        std::fflush(out_);
        std::rewind(out_);
        std::string text;
        for (int c; (c = std::fgetc(out_)) != EOF;) text += char(c);
        return text;
    }

    std::FILE* out_ = nullptr;
    std::unique_ptr<Window> window_;
};

TEST_F(HeadlessWindowTest, PrintsChangesOnly) {
    const ControlId label = window_->AddLabel("pending", {}, "Ausstehende Jobs: 0");
    const ControlId button = window_->AddButton("pause", {}, "Pause");
    const ControlId view = window_->AddImageView("logo", {});
    window_->Show();
    window_->SetText(label, "Ausstehende Jobs: 0");  // unchanged: nothing printed
    window_->SetText(label, "Ausstehende Jobs: 3");
    window_->SetEnabled(button, true);  // unchanged
    window_->SetEnabled(button, false);
    window_->SetImage(view, Image{224, 130, {}});
    window_->MessageBox("", "Job verweigert");
    EXPECT_EQ(Output(),
              "window \"Test\" 300x200\n"
              "label pending: Ausstehende Jobs: 3\n"
              "button Pause: disabled\n"
              "image logo: 224x130\n"
              "message box \"\": Job verweigert\n");
    EXPECT_EQ(window_->Text(label), "Ausstehende Jobs: 3");
    EXPECT_FALSE(window_->Enabled(button));
}

TEST_F(HeadlessWindowTest, LogHasNewestLineOnTop) {
    const ControlId log = window_->AddLog("log", {});
    window_->AddLogLine(log, "before the window is shown");  // kept, not printed
    window_->Show();
    window_->AddLogLine(log, "first");
    window_->AddLogLine(log, "second");
    EXPECT_EQ(window_->LogLines(log),
              (std::vector<std::string>{"second", "first", "before the window is shown"}));
    // Printed in the order they happened.
    EXPECT_EQ(Output(), "window \"Test\" 300x200\nfirst\nsecond\n");
}

TEST_F(HeadlessWindowTest, PressesOfDisabledButtonsAreDropped) {
    const ControlId pause = window_->AddButton("pause", {}, "Pause");
    const ControlId resume = window_->AddButton("resume", {}, "Resume");
    window_->SetEnabled(resume, false);
    window_->Press(resume);
    window_->Press(pause);
    const Event event = window_->WaitEvent(1000);
    EXPECT_EQ(event.kind, EventKind::Click);
    EXPECT_EQ(event.control, pause);
    EXPECT_NE(Output().find("press ignored: Resume is disabled"), std::string::npos);
    EXPECT_EQ(window_->WaitEvent(0).kind, EventKind::Timeout);
}

// A close asked for by another thread wakes a wait without time limit.
TEST_F(HeadlessWindowTest, CloseFromAnotherThreadEndsTheWait) {
    std::thread closer([&] { window_->RequestClose(); });
    EXPECT_EQ(window_->WaitEvent(-1).kind, EventKind::Close);
    closer.join();
}

}  // namespace
}  // namespace orvex::demo::gui
