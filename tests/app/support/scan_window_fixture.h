#pragma once
// The scans' window: the real window offscreen on the virtual clock with the scans' settings,
// actions at moments of that clock, the notes shown while a run sleeps through them, and the
// state every ended scan leaves.

#include "app/command_ids.h"
#include "app/main_window.h"
#include "platform/allocations.h"
#include "platform/sound_simulated.h"
#include "platform_scopes.h"
#include "temp_dir.h"
#include "window_setup.h"

#include <QApplication>
#include <QPushButton>
#include <QSet>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace korv::test {

class ScanWindowTest : public ::testing::Test {
  protected:
    // Opens the window with the devices of `o` and the scans' settings at `rate`.
    void openScanWindow(const MainWindowOptions& o, int rate) {
        window = openWindow(o);
        scanSettings(window->state().settings, rate);
        clock.addListener([this](std::int64_t) {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->isVisible() && !w->objectName().isEmpty() && w != window.get()) {
                    notesSeen.insert(w->objectName());
                }
            }
        });
    }
    // `action` once, when the virtual clock reaches `ms` (the clock calls a copy of the
    // listener, so the flag lives outside it).
    void at(std::int64_t ms, std::function<void()> action) {
        clock.addListener([ms, action = std::move(action),
                           done = std::make_shared<bool>(false)](std::int64_t now) {
            if (!*done && now >= ms) {
                *done = true;
                action();
            }
        });
    }
    bool noted(const char* note) const { return notesSeen.contains(QString::fromLatin1(note)); }
    // The menus and buttons of an ended scan, and the allocations still open when given.
    void expectScanEnded(int allocations) const {
        EXPECT_FALSE(window->state().control.modeRunning);
        EXPECT_TRUE(window->menu().enabled(cmd::kScanFile));
        EXPECT_FALSE(window->button(cmd::kStop)->isEnabled());
        if (allocations >= 0) {
            EXPECT_EQ(openAllocations(), allocations);
        }
    }

    TempDir dir;
    ScriptedPromptsScope prompts;
    VirtualClock clock;
    SimulatedFailure failNewDevice = SimulatedFailure::None;
    std::unique_ptr<MainWindow> window;
    QSet<QString> notesSeen;
};

} // namespace korv::test
