// korvane-host --register as an installer runs it: each browser's key of the current user names a
// manifest that names this program, and a browser following them reaches the host; --unregister takes
// keys and manifests away again.

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

#include "HostPipe.h"
#include "HostRegistration.h"
#include "SystemServices.h"
#include "scripting/utf_conversion.h"

using namespace messagingtest;
using HostRegistration::Browser;

namespace {

// The key's default value, "" when the key or value is missing.
std::string defaultValue(const std::string& key) {
    wchar_t value[4 * MAX_PATH];
    DWORD bytes = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, FB::utf8ToWide(key).c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value,
                     &bytes) != ERROR_SUCCESS)
        return std::string();
    return FB::wideToUtf8(value);
}

bool exists(const std::string& file) {
    return GetFileAttributesW(FB::utf8ToWide(file).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string folderOf(const std::string& path) {
    return path.substr(0, path.find_last_of('\\'));
}

TEST(HostRegistrationTest, BrowsersFindTheProgramThroughTheKeysUntilUnregistered) {
    const std::string program = testsys::nativePath(KORVANE_HOST_PROGRAM);
    const HostArguments::Allowed allowed = HostSetup::allowedCallers();
    const std::string chromium = "chrome-extension://" + *allowed.chromiumIds.begin() + "/";
    ASSERT_EQ(testsys::runProcess({KORVANE_HOST_PROGRAM, "--register"}).status, 0);

    std::vector<std::string> manifests;
    for (const auto& entry : HostRegistration::entries()) {
        const std::string file = defaultValue(entry.key);
        ASSERT_FALSE(file.empty()) << entry.key;
        EXPECT_EQ(folderOf(file), folderOf(program)) << "kept beside the program";
        std::ifstream in(FB::utf8ToWide(file).c_str(), std::ios::binary);
        const json manifest = json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
        EXPECT_EQ(manifest["name"], "eu.brindlemoor.korvane");
        EXPECT_EQ(manifest["type"], "stdio");
        EXPECT_EQ(manifest["path"], program);
        if (entry.browser == Browser::Chromium)
            EXPECT_EQ(manifest["allowed_origins"], json::array({chromium})) << entry.key;
        else
            EXPECT_EQ(manifest["allowed_extensions"], json::array({*allowed.geckoIds.begin()})) << entry.key;
        manifests.push_back(file);

        if (entry.browser == Browser::Firefox) {
            HostPipe host(manifest["path"].get<std::string>(), {file, *allowed.geckoIds.begin()});
            EXPECT_EQ(host.receive()["type"], "hello");
            EXPECT_EQ(host.finish(), 0);
        }
    }
    EXPECT_EQ(testsys::runProcess({KORVANE_HOST_PROGRAM, "--register"}).status, 0)
        << "again, as on an update";

    ASSERT_EQ(testsys::runProcess({KORVANE_HOST_PROGRAM, "--unregister"}).status, 0);
    for (const auto& entry : HostRegistration::entries())
        EXPECT_EQ(defaultValue(entry.key), "") << entry.key;
    for (const auto& file : manifests)
        EXPECT_FALSE(exists(file)) << file;
    EXPECT_EQ(testsys::runProcess({KORVANE_HOST_PROGRAM, "--unregister"}).status, 0)
        << "nothing left is no fault";
}

}  // namespace
