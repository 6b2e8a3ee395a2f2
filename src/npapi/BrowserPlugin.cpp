#include "npapi/BrowserPlugin.h"

#include <stdexcept>

namespace FB {

BrowserPlugin::BrowserPlugin(FactoryBase& factory, const std::string& mimetype)
    : core_(factory.makePlugin(mimetype)) {
    // Every operation of the adapter goes through the core; an instance without one is useless.
    if (!core_) {
        throw std::runtime_error("The factory made no plug-in for " + mimetype);
    }
}

BrowserPlugin::~BrowserPlugin() = default;

void BrowserPlugin::setFilesystemPath(const std::string& path) {
    filesystemPath_ = path;
    core_->setFilesystemPath(path);
}

}  // namespace FB
