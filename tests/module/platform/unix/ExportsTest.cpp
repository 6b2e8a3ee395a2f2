// The module's dynamic symbol table holds the NPAPI entry points and nothing else.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "LoadedModule.h"

namespace {

TEST(ModuleExportsTest, OnlyTheNpapiEntryPointsAreExported) {
    const std::string command = "nm -D --defined-only '" + moduletest::modulePath() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> names;
    char line[1024];
    while (fgets(line, sizeof(line), pipe.get()) != nullptr) {
        std::istringstream fields(line);
        std::string address, kind, name;
        fields >> address >> kind >> name;
        names.push_back(name);
    }
    EXPECT_EQ(pclose(pipe.release()), 0) << command;
    EXPECT_THAT(names, ::testing::UnorderedElementsAre("NP_GetMIMEDescription", "NP_GetValue",
                                                       "NP_Initialize", "NP_GetEntryPoints", "NP_Shutdown"));
}

}  // namespace
