#pragma once

#include <string>
#include <vector>

// The browsers' records of korvane-host. Chromium, Chrome, Edge and Firefox find a native host through a
// manifest that names the program by its absolute path. On Windows they find the manifest itself through
// a registry key, of the current user or of the machine, whose default value is the manifest's path; there
// the installed program writes both itself (`korvane-host --register`, with `--machine` from the
// installer), because only it knows where it was put, and it keeps the manifests beside itself. Elsewhere
// `cmake --install` or the package writes the manifests into the browsers' folders and the options are
// refused.
namespace HostRegistration {

enum class Browser { Chromium, Firefox };
// Whose keys: the current user's (HKCU) or the machine's (HKLM, what a per-machine installer writes).
enum class Scope { User, Machine };

// The manifest for that browser's kind, naming program (UTF-8) and the extension ids the host serves.
std::string manifest(Browser browser, const std::string& program);

struct Entry {
    std::string key;  // under the scope's root, "\"-separated
    Browser browser;
};
// The registry keys the browsers read: Chrome's, Chromium's, Edge's and Firefox's.
std::vector<Entry> entries();

// The file name of a browser kind's manifest beside the program.
std::string manifestFileName(Browser browser);

// Writes the manifests beside the running program and the scope's keys naming them; 0, or 1 with a
// message on standard error.
int registerHost(Scope scope);
// Removes the scope's keys and the manifests they name; keys that are missing already are no fault.
int unregisterHost(Scope scope);

}  // namespace HostRegistration
