// The engine targets run the engine's own code paths without touching the user's certificates: on Unix,
// HOME points at an empty folder made for the run, so the engine finds no NSS database and every store
// is empty. (Windows has no such switch; targets that need empty stores are not built there.)
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

inline void useEmptyHome() {
#ifndef _WIN32
    static const bool done = [] {
        std::string folder = (std::filesystem::temp_directory_path() / "korvane-fuzz-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) {
            std::abort();
        }
        ::setenv("HOME", folder.c_str(), 1);
        return true;
    }();
    (void)done;
#endif
}
