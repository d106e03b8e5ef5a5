// The program as each window-system backend starts it.
#include "desktop/app_main.h"

int program_main(InstanceHandle instance) {
    provide_artwork();
    return app_main(instance);
}
