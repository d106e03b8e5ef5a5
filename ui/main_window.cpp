#include "ui/main_window.h"

#include "engine/measure_state.h"
#include "resources/resource_ids.h"
#include "sequencer/sequencer.h"
#include "ui/layout.h"
#include "ui/results_panel.h"

MainWindowState main_window_state{};

namespace {
constexpr uintptr_t COMMAND_ID_MASK = 0xFFFF;

const char* const NO_CLASS_TEXT = "Impossible d'enregistrer la classe de fenetre...";
const char* const NO_WINDOW_TEXT = "Impossible de cr\xE9"
                                   "er la fenetre...";
const char* const NO_COUNTER_TEXT = "Counter not available on this computer";
const char* const NO_COUNTER_CAPTION = "Test not possible";
const char* const ABOUT_CAPTION = "about";
const char* const ABOUT_TEXT =
    "Test ZEM (Dorvantic)\n"
    "This program Test PC power for digital audio processing applications\n"
    "Just Click on the TEST button and wait for around one minute to get results of the "
    "measure\n"
    "See README.TXT file for further informations.\n"
    "Test ZEM is made by the Dorvantic audio team.\n"
    "https://dorvantic.example/test-zem";

void on_create(WindowHandle window) {
    main_window_state.main_window = window;
    create_panel_fonts();
    main_window_state.background_bitmap =
        platform_load_bitmap(main_window_state.instance, IDB_BACKGROUND);
    platform_create_button(main_window_state.instance, window, "Test ZEM", TEST_BUTTON_LEFT,
                           BUTTON_TOP, BUTTON_WIDTH, BUTTON_HEIGHT, IDC_TEST);
    platform_create_button(main_window_state.instance, window, "About Test ZEM", ABOUT_BUTTON_LEFT,
                           BUTTON_TOP, BUTTON_WIDTH, BUTTON_HEIGHT, IDC_ABOUT);
    if (!read_counter_frequency()) {
        platform_message_box(window, NO_COUNTER_TEXT, NO_COUNTER_CAPTION, BOX_OK);
    }
}

void on_command(WindowHandle window, uintptr_t wparam) {
    switch (wparam & COMMAND_ID_MASK) {
    case IDC_TEST:
        start_test_run(window);
        break;
    case IDC_ABOUT:
        show_about();
        break;
    default:
        break;
    }
}

// Close or destroy; both may arrive, so everything released is forgotten and
// a second pass releases nothing.
void on_shutdown(WindowHandle window) {
    cancel_test_run(window);
    release_panel_fonts();
    if (main_window_state.background_bitmap != nullptr) {
        platform_delete_object(main_window_state.background_bitmap);
        main_window_state.background_bitmap = nullptr;
    }
    platform_post_quit_message(0);
}
} // namespace

WindowHandle create_main_window(InstanceHandle instance, WindowProc window_procedure,
                                const char* menu_name, const char* title) {
    main_window_state.instance = instance;
    if (!platform_register_class(instance, MAIN_CLASS_NAME, window_procedure, IDI_MAIN,
                                 menu_name)) {
        platform_message_box(nullptr, NO_CLASS_TEXT, title, BOX_OK | BOX_ICON_EXCLAMATION);
        return nullptr;
    }
    WindowHandle window = platform_create_window(instance, MAIN_CLASS_NAME, title,
                                                 MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT);
    if (window == nullptr) {
        platform_message_box(nullptr, NO_WINDOW_TEXT, title, BOX_OK | BOX_ICON_EXCLAMATION);
        return nullptr;
    }
    platform_show_window(window);
    platform_update_window(window);
    return window;
}

intptr_t WINDOW_PROC_CALL main_wnd_proc(WindowHandle window, uint32_t message, uintptr_t wparam,
                                        intptr_t lparam) {
    switch (message) {
    case MESSAGE_CREATE:
        on_create(window);
        return 0;
    case MESSAGE_PAINT:
        paint_results(window);
        return 0;
    case MESSAGE_ERASEBKGND:
        paint_background(reinterpret_cast<DrawContext*>(wparam), 0, 0,
                         main_window_state.background_bitmap);
        return 1;
    case MESSAGE_COMMAND:
        on_command(window, wparam);
        return 0;
    case MESSAGE_TIMER:
        on_tick(window);
        return 0;
    case MESSAGE_CLOSE:
    case MESSAGE_DESTROY:
        on_shutdown(window);
        return 0;
    default:
        return platform_def_window_proc(window, message, wparam, lparam);
    }
}

void paint_background(DrawContext* dc, int32_t x, int32_t y, PlatformObject* bitmap) {
    int32_t width = 0;
    int32_t height = 0;
    if (dc == nullptr || bitmap == nullptr || !platform_bitmap_size(bitmap, &width, &height)) {
        return;
    }
    DrawContext* memory = platform_create_compatible_dc(dc);
    if (memory == nullptr) {
        return;
    }
    platform_select_object(memory, bitmap);
    platform_bit_blt(dc, x, y, width, height, memory, 0, 0);
    platform_delete_dc(memory);
}

void show_about() {
    platform_message_box(main_window_state.main_window, ABOUT_TEXT, ABOUT_CAPTION, BOX_OK);
}
