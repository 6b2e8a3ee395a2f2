#include "core/FactoryBase.h"

#include <mutex>
#include <stdexcept>

namespace FB {

namespace {

struct MakerSlot {
    std::mutex lock;
    FactoryBase::NpapiInstanceMaker maker;
};

MakerSlot& makerSlot() {
    static MakerSlot slot;
    return slot;
}

}  // namespace

void FactoryBase::setNpapiInstanceMaker(NpapiInstanceMaker maker) {
    MakerSlot& slot = makerSlot();
    std::lock_guard lock(slot.lock);
    slot.maker = std::move(maker);
}

std::shared_ptr<Npapi::NpapiPlugin> FactoryBase::makeNpapiInstance(
    const std::shared_ptr<Npapi::NpapiBrowserHost>& host, const std::string& mimetype) {
    NpapiInstanceMaker maker;
    {
        MakerSlot& slot = makerSlot();
        std::lock_guard lock(slot.lock);
        maker = slot.maker;
    }
    if (!maker)
        throw std::logic_error("No NPAPI adapter registered");
    return maker(*this, host, mimetype);
}

std::unique_ptr<PluginWindow> FactoryBase::createPluginWindow(const WindowContext& context) {
    return std::make_unique<PluginWindow>(context);
}

std::unique_ptr<PluginWindowlessWindow> FactoryBase::createPluginWindowlessWindow(
    const WindowlessWindowContext& context) {
    return std::make_unique<PluginWindowlessWindow>(context);
}

}  // namespace FB
