#include "core/Log.h"

#include <memory>
#include <mutex>

namespace FB {

namespace {

struct LogState {
    std::mutex lock;
    std::shared_ptr<const Log::Output> output;
    LogLevel minLevel = LogLevel::Trace;
};

LogState& state() {
    static LogState s;
    return s;
}

}  // namespace

void Log::write(LogLevel level, std::string_view source, std::string_view message) {
    std::shared_ptr<const Output> out;
    {
        LogState& s = state();
        std::lock_guard lock(s.lock);
        if (!s.output || static_cast<int>(level) < static_cast<int>(s.minLevel))
            return;
        out = s.output;
    }
    // Called outside the lock so that an output method may log itself or swap the output.
    (*out)(level, std::string(source), std::string(message));
}

void Log::setOutput(Output output, LogLevel minLevel) {
    LogState& s = state();
    std::lock_guard lock(s.lock);
    s.output = output ? std::make_shared<const Output>(std::move(output)) : nullptr;
    s.minLevel = minLevel;
}

bool Log::hasOutput() {
    LogState& s = state();
    std::lock_guard lock(s.lock);
    return static_cast<bool>(s.output);
}

}  // namespace FB
