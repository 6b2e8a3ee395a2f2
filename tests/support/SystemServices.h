#pragma once

// What the test support needs of the operating system, so that the tests above it run unchanged on
// every platform: loading a module, the environment, temporary folders and running programs.
// tests/support/platform/{unix,win} implement it.

#include <cstddef>
#include <string>
#include <vector>

namespace testsys {

// The path as the platform's own interfaces take it, in UTF-8. Under Wine the build's paths are paths of
// the machine that runs Wine ("/work/..."), which Windows names through a drive letter.
std::string nativePath(const std::string& path);

// A loaded module (shared object or DLL); null when loading failed, with the loader's message in error.
void* loadModule(const std::string& path, std::string& error);
// The exported entry `name`, or null.
void* moduleEntry(void* module, const char* name);
// Gives the module back to the loader; false when the loader refuses.
bool unloadModule(void* module);

// Dispatches the messages waiting for this thread's windows, as a browser's message loop would, and
// returns how many there were; Unix has no such loop (0).
std::size_t runMessageLoop();

// Whether the program runs under Wine rather than Windows or Unix.
bool underWine();

// Environment variables, as the code under test reads them (getenv on both platforms).
void setEnv(const char* name, const std::string& value);
void unsetEnv(const char* name);

// A new, empty folder under the system's temporary folder.
std::string makeTempDir();

struct ProcessResult {
    int status = -1;
    std::string output;  // standard output and standard error together
};
// Runs a program with these arguments (no shell), waits for it and collects its output. On Windows a
// program given by an absolute Unix path is a program of the machine that runs Wine.
ProcessResult runProcess(const std::vector<std::string>& argv);

}  // namespace testsys
