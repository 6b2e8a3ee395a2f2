#pragma once

#include <string>
#include <vector>

namespace testsys {

// The command line CreateProcessW takes for argv: the program (argv[0]) named the Windows way, each
// argument quoted so that the C runtime splits the line back into the same arguments.
std::wstring windowsCommandLine(const std::vector<std::string>& argv);

}  // namespace testsys
