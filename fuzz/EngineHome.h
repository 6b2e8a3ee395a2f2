// The engine targets run the engine's own code paths without touching the user's certificates: HOME
// points at an empty folder made for the run, so the Unix engine finds no NSS database and every store
// is empty. The Windows engine reads the current user's system stores, which HOME does not move; there
// the targets check nothing that depends on what the stores hold.
#pragma once

#include "SystemServices.h"

inline void useEmptyHome() {
    static const bool done = [] {
        testsys::setEnv("HOME", testsys::makeTempDir());
        return true;
    }();
    (void)done;
}
