#pragma once

#include <map>
#include <string>
#include <vector>

// A parsed and normalized distinguished name: attribute key to value, in byte-wise key order.
using NameAttributes = std::map<std::string, std::string>;
using NameAttributesList = std::vector<NameAttributes>;
