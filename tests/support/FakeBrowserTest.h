// GoogleTest support for FakeBrowser: a fixture whose TearDown fails the test when the browser
// found leaked or over-released objects, unfreed memory or any other misuse.
//
// A derived fixture that holds plug-in objects or PageValues must drop them in its own TearDown
// before calling FakeBrowserTest::TearDown, or they are reported as leaks.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeBrowser.h"

namespace FB::Npapi {

// Success when `check()` finds nothing; otherwise a failure listing every problem.
inline ::testing::AssertionResult noBrowserProblems(FakeBrowser& browser) {
    std::vector<std::string> problems = browser.check();
    if (problems.empty()) {
        return ::testing::AssertionSuccess();
    }
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << "the fake browser found " << problems.size() << " problem(s):";
    for (const std::string& problem : problems) {
        failure << "\n  " << problem;
    }
    return failure;
}

class FakeBrowserTest : public ::testing::Test {
  protected:
    explicit FakeBrowserTest(FakeBrowser::Options options = FakeBrowser::Options())
        : browser(std::move(options)) {}

    void TearDown() override { EXPECT_TRUE(noBrowserProblems(browser)); }

    FakeBrowser browser;
};

}  // namespace FB::Npapi
