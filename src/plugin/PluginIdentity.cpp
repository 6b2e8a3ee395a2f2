#include "plugin/PluginIdentity.h"

#include <map>
#include <mutex>
#include <vector>

#include <boost/algorithm/string/split.hpp>

namespace {

using DescriptionTable = std::map<std::string, std::string>;

// MIME type -> description, from the entries of the MIME description string that have all three fields.
DescriptionTable parseMimeDescription(const std::string& text) {
    DescriptionTable table;
    std::vector<std::string> entries;
    boost::algorithm::split(entries, text, [](char c) { return c == ';'; });
    for (const auto& entry : entries) {
        std::vector<std::string> fields;
        boost::algorithm::split(fields, entry, [](char c) { return c == ':'; });
        if (fields.size() >= 3)
            table.emplace(fields[0], fields[2]);
    }
    return table;
}

// Built once per process; read-only afterwards, so lookups from any thread need no lock.
const DescriptionTable& descriptionTable() {
    static std::once_flag built;
    static DescriptionTable table;
    std::call_once(built, [] { table = parseMimeDescription(PluginIdentity::kMimeDescription); });
    return table;
}

}  // namespace

const char* pluginMimeDescription() {
    return PluginIdentity::kMimeDescription;
}

const char* pluginModuleDescription() {
    // The module serves one MIME type, so it describes itself as that type's description.
    return PluginIdentity::kDescription;
}

std::string nameOfPlugin() {
    return PluginIdentity::kName;
}

std::string descriptionForMime(const std::string& mimetype) {
    try {
        const DescriptionTable& table = descriptionTable();
        auto it = table.find(mimetype);
        return it != table.end() ? it->second : std::string();
    } catch (...) {
        return PluginIdentity::kUnknownDescription;
    }
}
