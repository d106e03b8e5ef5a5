// A program built with every hardening switched off, for the hardening
// check to reject: it formats into a stack buffer, which the stack guard and
// the fortified calls would cover in a hardened build.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    char line[64];
    std::snprintf(line, sizeof line, "%d %s", argc, argv[0]);
    std::printf("%zu\n", std::strlen(line));
    return 0;
}
