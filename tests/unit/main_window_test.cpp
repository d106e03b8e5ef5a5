// The main window against the recording window system: creation and its
// failures, the messages the procedure handles, the about box, and shutdown
// arriving twice.
#include "desktop/app_main.h"
#include "engine/measure_state.h"
#include "resources/version.h"
#include "sequencer/sequencer.h"
#include "tests/fakes/recording_platform.h"
#include "ui/main_window.h"
#include "ui/results_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {
using Calls = std::vector<std::string>;

const Calls CREATION = {
    "register_class w_principale icon 100",
    "create_window w_principale 'Test ZEM (Dorvantic)' 300x380",
    "create_font 16/600 Arial",
    "create_font 12/400 Arial",
    "load_bitmap 200",
    "create_button 'Test ZEM' 5 5 140 30 id 100",
    "create_button 'About Test ZEM' 150 5 140 30 id 200",
    "show_window",
    "update_window",
};

const Calls BACKGROUND = {"create_compatible_dc", "select bitmap 200 into memory",
                          "bit_blt 0 0 300 380 from memory 0 0", "delete_dc"};

class MainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_recording();
        sequencer_state = SequencerState{};
        main_window_state = MainWindowState{};
        panel_fonts = PanelFonts{};
    }
    void TearDown() override {
        if (window != nullptr) {
            main_wnd_proc(window, MESSAGE_DESTROY, 0, 0);
        }
    }
    void create() {
        window = create_main_window(nullptr, main_wnd_proc, nullptr, ZEM_WINDOW_TITLE);
        ASSERT_NE(window, nullptr);
    }
    intptr_t send(uint32_t message, uintptr_t wparam = 0) {
        return main_wnd_proc(window, message, wparam, 0);
    }

    WindowHandle window = nullptr;
};
} // namespace

TEST_F(MainWindow, CreationMakesFontsPictureAndButtonsThenShowsTheWindow) {
    create();
    EXPECT_EQ(take_calls(), CREATION);
    EXPECT_TRUE(recording.boxes.empty()) << "the counter is there: no warning";
    EXPECT_GT(measure_state.counter_frequency, 0);
}

TEST_F(MainWindow, FailedRegistrationOrCreationSaysSoWithTheTitleAsCaption) {
    recording.fail_register_class = true;
    EXPECT_EQ(create_main_window(nullptr, main_wnd_proc, nullptr, ZEM_WINDOW_TITLE), nullptr);
    recording.fail_register_class = false;
    recording.fail_create_window = true;
    EXPECT_EQ(create_main_window(nullptr, main_wnd_proc, nullptr, ZEM_WINDOW_TITLE), nullptr);
    ASSERT_EQ(recording.boxes.size(), 2u);
    EXPECT_EQ(recording.boxes[0].text, "Impossible d'enregistrer la classe de fenetre...");
    EXPECT_EQ(recording.boxes[1].text, "Impossible de cr\xE9"
                                       "er la fenetre...");
    for (const RecordedBox& box : recording.boxes) {
        EXPECT_FALSE(box.owned);
        EXPECT_EQ(box.caption, "Test ZEM (Dorvantic)");
        EXPECT_EQ(box.flags, uint32_t{BOX_OK | BOX_ICON_EXCLAMATION});
    }
    EXPECT_EQ(app_main(nullptr), 0) << "no window: the entry returns 0";
}

TEST_F(MainWindow, CommandsStartARunShowTheAboutBoxOrDoNothing) {
    create();
    take_calls();
    EXPECT_EQ(send(MESSAGE_COMMAND, 300), 0);
    EXPECT_EQ(send(MESSAGE_COMMAND, 0), 0);
    EXPECT_EQ(take_calls(), Calls{}) << "ids other than 100 and 200 do nothing";

    EXPECT_EQ(send(MESSAGE_COMMAND, IDC_ABOUT), 0);
    ASSERT_EQ(recording.boxes.size(), 1u);
    const RecordedBox& about = recording.boxes[0];
    EXPECT_TRUE(about.owned);
    EXPECT_EQ(about.caption, "about");
    EXPECT_EQ(about.flags, uint32_t{BOX_OK});
    EXPECT_TRUE(about.text.starts_with("Test ZEM (Dorvantic)\nThis program Test PC power"));
    EXPECT_EQ(std::count(about.text.begin(), about.text.end(), '\n'), 5) << "six lines";
    take_calls();

    // The notification code in the high 16 bits does not matter.
    EXPECT_EQ(send(MESSAGE_COMMAND, (uintptr_t{1} << 16) | IDC_TEST), 0);
    EXPECT_EQ(take_calls(), (Calls{"enable_window 0", "set_timer 100 500"}));
    EXPECT_EQ(send(MESSAGE_TIMER, RUN_TIMER_ID), 0);
    EXPECT_NE(sequencer_state.worker_handle, nullptr) << "the first tick starts ZEM-1";
}

TEST_F(MainWindow, PaintCopiesThePictureWhenThereIsOneAndOtherMessagesGoToTheDefault) {
    create();
    take_calls();
    EXPECT_EQ(send(MESSAGE_PAINT), 0);
    Calls paint = take_calls();
    EXPECT_EQ(Calls(paint.begin() + 1, paint.begin() + 5), BACKGROUND);
    EXPECT_EQ(send(0x0084), 0);
    EXPECT_EQ(take_calls(), Calls{"def_window_proc 132"});
    main_wnd_proc(window, MESSAGE_DESTROY, 0, 0);

    recording.fail_load_bitmap = true;
    create();
    take_calls();
    EXPECT_EQ(send(MESSAGE_ERASEBKGND, 1), 1);
    EXPECT_EQ(take_calls(), Calls{}) << "no picture: nothing to copy";
}

TEST_F(MainWindow, CloseDuringARunStopsItAndASecondShutdownReleasesNothing) {
    create();
    send(MESSAGE_COMMAND, IDC_TEST);
    send(MESSAGE_TIMER, RUN_TIMER_ID);
    ASSERT_NE(sequencer_state.worker_handle, nullptr);
    take_calls();

    EXPECT_EQ(send(MESSAGE_CLOSE), 0);
    EXPECT_EQ(take_calls(),
              (Calls{"kill_timer 100", "delete font 16/600 Arial", "delete font 12/400 Arial",
                     "delete bitmap 200", "post_quit 0"}));
    EXPECT_EQ(sequencer_state.worker_handle, nullptr);
    EXPECT_EQ(measure_state.running.load(), 0);

    EXPECT_EQ(send(MESSAGE_DESTROY), 0);
    EXPECT_EQ(take_calls(), Calls{"post_quit 0"});
    EXPECT_EQ(send(MESSAGE_ERASEBKGND, 1), 1) << "a late paint after shutdown must not fail";
    EXPECT_EQ(take_calls(), Calls{});
    window = nullptr;
}

TEST_F(MainWindow, TheEntryRunsTheLoopUntilTheCloseAndReturnsItsCode) {
    recording.script = {PlatformMessage{recorded_window(), MESSAGE_COMMAND, IDC_ABOUT, 0},
                        PlatformMessage{recorded_window(), MESSAGE_CLOSE, 0, 0},
                        PlatformMessage{recorded_window(), MESSAGE_COMMAND, IDC_ABOUT, 0}};
    EXPECT_EQ(app_main(nullptr), 0);
    EXPECT_EQ(recording.boxes.size(), 1u) << "nothing is dispatched after the quit";
    EXPECT_EQ(recording.calls.back(), "post_quit 0");
}
