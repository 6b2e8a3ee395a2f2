#include "messaging/MessagingBrowserHost.h"

#include <stdexcept>

#include "scripting/script_error.h"

namespace FB {

namespace {
[[noreturn]] void noPageObjects(const char* what) {
    throw std::runtime_error(std::string("No ") + what +
                             " through native messaging: the page is behind the extension");
}
}  // namespace

MessagingBrowserHost::~MessagingBrowserHost() {
    // A posted call's record is freed when it is delivered: deliver what is left so nothing leaks
    // (after the shutdown, delivery only frees the records).
    runPostedCalls();
}

DOM::DocumentPtr MessagingBrowserHost::getPageDocument() {
    noPageObjects("page document");
}

DOM::WindowPtr MessagingBrowserHost::getPageWindow() {
    noPageObjects("page window");
}

DOM::ElementPtr MessagingBrowserHost::getPluginElement() {
    noPageObjects("plug-in element");
}

void MessagingBrowserHost::evaluateScript(const std::string& /*script*/) {
    throw script_error("No page script through native messaging");
}

bool MessagingBrowserHost::postToMainThread(MainThreadFunction func, void* userData) {
    std::lock_guard lock(queueLock_);
    queue_.emplace_back(func, userData);
    return true;
}

int MessagingBrowserHost::runPostedCalls() {
    int ran = 0;
    for (;;) {
        std::pair<MainThreadFunction, void*> call;
        {
            std::lock_guard lock(queueLock_);
            if (queue_.empty())
                return ran;
            call = queue_.front();
            queue_.pop_front();
        }
        call.first(call.second);
        ++ran;
    }
}

}  // namespace FB
