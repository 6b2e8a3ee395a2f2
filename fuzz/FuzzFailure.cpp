#include <cstdio>
#include <cstdlib>

#include "FuzzInput.h"

void fuzzFailure(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}
