#pragma once

#include <cstddef>
#include <string>

#include <certt.h>

// Renders an encoded name the way Windows CertNameToStrA does with CERT_X500_NAME_STR, so that the same
// certificate gets the same name text, and so the same identifier, on every platform: relative names in
// encoded order joined by ", ", multi-valued ones by " + ", Windows labels, quoted values, UTF-8 text.
namespace X500NameText {

constexpr std::size_t kMaxLength = 2047;

std::string render(const CERTName& name);

// The dotted form of DER-encoded object identifier content octets ("2.5.4.3"); empty when malformed.
std::string dottedOid(const unsigned char* data, std::size_t size);

// A DER string value (tag, length, content) as UTF-8; other value types as "#" and the hex of their DER.
std::string valueText(const unsigned char* data, std::size_t size);

}  // namespace X500NameText
