#include "signature/platform/nss/X500NameText.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>

namespace X500NameText {
namespace {

const std::map<std::string_view, std::string_view>& labels() {
    static const std::map<std::string_view, std::string_view> table = {
        {"2.5.4.3", "CN"},
        {"2.5.4.4", "SN"},
        {"2.5.4.5", "SERIALNUMBER"},
        {"2.5.4.6", "C"},
        {"2.5.4.7", "L"},
        {"2.5.4.8", "S"},
        {"2.5.4.9", "STREET"},
        {"2.5.4.10", "O"},
        {"2.5.4.11", "OU"},
        {"2.5.4.12", "T"},
        {"2.5.4.13", "Description"},
        {"2.5.4.17", "PostalCode"},
        {"2.5.4.18", "POBox"},
        {"2.5.4.20", "Phone"},
        {"2.5.4.42", "G"},
        {"2.5.4.43", "I"},
        {"2.5.4.46", "dnQualifier"},
        {"1.2.840.113549.1.9.1", "E"},
        {"0.9.2342.19200300.100.1.25", "DC"},
    };
    return table;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool isValidUtf8(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        std::size_t extra = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
        } else if (c >= 0x80) {
            return false;
        }
        if (i + extra >= n && extra > 0) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) {
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}

std::string hexOf(const unsigned char* data, std::size_t size) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "#";
    for (std::size_t i = 0; i < size; ++i) {
        out += kHex[data[i] >> 4];
        out += kHex[data[i] & 0xF];
    }
    return out;
}

struct DerValue {
    unsigned char tag;
    const unsigned char* content;
    std::size_t length;
};

std::optional<DerValue> splitDer(const unsigned char* data, std::size_t size) {
    if (size < 2) {
        return std::nullopt;
    }
    std::size_t length = data[1];
    std::size_t header = 2;
    if (length & 0x80) {
        const std::size_t octets = length & 0x7F;
        if (octets == 0 || octets > 4 || size < 2 + octets) {
            return std::nullopt;
        }
        length = 0;
        for (std::size_t i = 0; i < octets; ++i) {
            length = (length << 8) | data[2 + i];
        }
        header += octets;
    }
    if (length > size - header) {
        return std::nullopt;
    }
    return DerValue{data[0], data + header, length};
}

bool needsQuotes(const std::string& value) {
    if (value.empty() || value.front() == ' ' || value.back() == ' ') {
        return true;
    }
    return value.find_first_of(",+=\"\n<>#;") != std::string::npos;
}

std::string quoted(const std::string& value) {
    if (!needsQuotes(value)) {
        return value;
    }
    std::string out = "\"";
    for (char c : value) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
    return out;
}

std::string label(const SECItem& type) {
    const std::string dotted = dottedOid(type.data, type.len);
    auto it = labels().find(dotted);
    if (it != labels().end()) {
        return std::string(it->second);
    }
    return "OID." + dotted;
}

}  // namespace

std::string dottedOid(const unsigned char* data, std::size_t size) {
    if (size == 0 || (data[size - 1] & 0x80)) {
        return {};
    }
    std::string out;
    std::uint64_t value = 0;
    bool first = true;
    for (std::size_t i = 0; i < size; ++i) {
        if (value > (UINT64_MAX >> 7)) {
            return {};
        }
        value = (value << 7) | (data[i] & 0x7F);
        if (data[i] & 0x80) {
            continue;
        }
        if (first) {
            const std::uint64_t head = value < 40 ? 0 : value < 80 ? 1 : 2;
            out = std::to_string(head) + "." + std::to_string(value - head * 40);
            first = false;
        } else {
            out += "." + std::to_string(value);
        }
        value = 0;
    }
    return out;
}

std::string valueText(const unsigned char* data, std::size_t size) {
    const auto der = splitDer(data, size);
    if (!der) {
        return hexOf(data, size);
    }
    const unsigned char* p = der->content;
    const std::size_t n = der->length;
    std::string out;
    switch (der->tag) {
        case 0x0C:  // UTF8String
        case 0x12:  // NumericString
        case 0x13:  // PrintableString
        case 0x16:  // IA5String
        case 0x1A:  // VisibleString
            return std::string(reinterpret_cast<const char*>(p), n);
        case 0x14:  // TeletexString: taken as UTF-8 when it is valid UTF-8, else as Latin-1
            if (isValidUtf8(p, n)) {
                return std::string(reinterpret_cast<const char*>(p), n);
            }
            for (std::size_t i = 0; i < n; ++i) {
                appendUtf8(out, p[i]);
            }
            return out;
        case 0x1E:  // BMPString, UTF-16 big-endian
            for (std::size_t i = 0; i + 1 < n; i += 2) {
                std::uint32_t unit = (p[i] << 8) | p[i + 1];
                if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < n) {
                    const std::uint32_t low = (p[i + 2] << 8) | p[i + 3];
                    if (low >= 0xDC00 && low < 0xE000) {
                        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                        i += 2;
                    }
                }
                appendUtf8(out, unit);
            }
            return out;
        case 0x1C:  // UniversalString, UCS-4 big-endian
            for (std::size_t i = 0; i + 3 < n; i += 4) {
                appendUtf8(out, (static_cast<std::uint32_t>(p[i]) << 24) | (p[i + 1] << 16) |
                                    (p[i + 2] << 8) | p[i + 3]);
            }
            return out;
        default:
            return hexOf(data, size);
    }
}

std::string render(const CERTName& name) {
    std::string out;
    if (name.rdns) {
        for (CERTRDN** rdn = name.rdns; *rdn; ++rdn) {
            if (!(*rdn)->avas) {
                continue;
            }
            bool firstAva = true;
            for (CERTAVA** ava = (*rdn)->avas; *ava; ++ava) {
                if (!firstAva) {
                    out += " + ";
                } else if (!out.empty()) {
                    out += ", ";
                }
                firstAva = false;
                out += label((*ava)->type);
                out += '=';
                out += quoted(valueText((*ava)->value.data, (*ava)->value.len));
            }
        }
    }
    if (out.size() > kMaxLength) {
        out.resize(kMaxLength);
    }
    return out;
}

}  // namespace X500NameText
