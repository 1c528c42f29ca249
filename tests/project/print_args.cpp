// Test helper: writes each argument after the program name as its byte length, a colon and
// the bytes, so that the tests see exactly what the shell passed.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::printf("%zu:", std::strlen(argv[i]));
        std::fwrite(argv[i], 1, std::strlen(argv[i]), stdout);
    }
    return 0;
}
