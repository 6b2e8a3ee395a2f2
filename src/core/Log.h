#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace FB {

// Severity of a log line; the values are bit flags so an output method can filter by mask.
enum class LogLevel : int { Trace = 1, Debug = 2, Info = 4, Warn = 8, Error = 16 };

// The program's one logging facility. Every line carries a source name ("PluginCore", "BrowserHost")
// and a message. The product configures no output method, so lines go nowhere; tests and debugging
// sessions may install one.
class Log {
  public:
    using Output = std::function<void(LogLevel level, const std::string& source, const std::string& message)>;

    static void write(LogLevel level, std::string_view source, std::string_view message);
    static void info(std::string_view source, std::string_view message) {
        write(LogLevel::Info, source, message);
    }

    // Installs the output method (an empty function removes it). Lines below minLevel are dropped.
    static void setOutput(Output output, LogLevel minLevel = LogLevel::Trace);
    static bool hasOutput();
};

}  // namespace FB
