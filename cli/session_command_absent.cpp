// Where sessions cannot be read (no pugixml in this build), the subcommand
// says so.
#include "cli/session_command.h"

#include <cstdio>

int run_session_command(const CliOptions*) {
    std::fputs("test_zem_cli: this build cannot read sessions (it was built without pugixml)\n",
               stderr);
    return 1;
}
