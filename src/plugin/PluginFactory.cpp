#include "plugin/PluginFactory.h"

#include "plugin/Korvane.h"
#include "signature/DigitalSignatureUtil.h"

FB::PluginCorePtr PluginFactory::makePlugin(const std::string& /*mimetype*/) {
    // One allocation with its count; make_shared also sets the instance's weak self-reference.
    return std::make_shared<Korvane>();
}

std::shared_ptr<FB::FactoryBase> processFactory() {
    static const std::shared_ptr<FB::FactoryBase> factory = std::make_shared<PluginFactory>();
    return factory;
}

void PluginFactory::globalPluginDeinitialize() {
    DigitalSignatureUtil::releaseSharedState();
}
