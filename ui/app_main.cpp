#include "ui/app_main.h"

#include "resources/version.h"
#include "ui/main_window.h"

int app_main(InstanceHandle instance) {
    WindowHandle window = create_main_window(instance, main_wnd_proc, nullptr, ZEM_WINDOW_TITLE);
    if (window == nullptr) {
        return 0;
    }
    PlatformMessage message{};
    while (platform_get_message(&message)) {
        platform_translate_message(&message);
        platform_dispatch_message(&message);
    }
    return static_cast<int>(message.wparam);
}
