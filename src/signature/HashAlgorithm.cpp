#include "signature/HashAlgorithm.h"

#include <array>
#include <span>

namespace {

struct Entry {
    HashAlgorithm::Id id;
    std::size_t length;
    const char* name;
    std::span<const std::uint8_t> prefix;
};

// DigestInfo prefixes of RFC 8017, section 9.2, note 1.
constexpr std::array<std::uint8_t, 18> kMd5 = {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                               0x86, 0xf7, 0x0d, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
constexpr std::array<std::uint8_t, 15> kSha1 = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                                0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
constexpr std::array<std::uint8_t, 19> kSha256 = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                                  0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
constexpr std::array<std::uint8_t, 19> kSha384 = {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                                  0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30};
constexpr std::array<std::uint8_t, 19> kSha512 = {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                                  0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};

constexpr std::array<Entry, 5> kEntries = {{
    {HashAlgorithm::Id::Md5, 16, "MD5", kMd5},
    {HashAlgorithm::Id::Sha1, 20, "SHA-1", kSha1},
    {HashAlgorithm::Id::Sha256, 32, "SHA-256", kSha256},
    {HashAlgorithm::Id::Sha384, 48, "SHA-384", kSha384},
    {HashAlgorithm::Id::Sha512, 64, "SHA-512", kSha512},
}};

const Entry& entryOf(HashAlgorithm::Id id) {
    return kEntries[static_cast<std::size_t>(id)];
}

}  // namespace

std::optional<HashAlgorithm> HashAlgorithm::forLength(std::size_t octets) {
    for (const Entry& entry : kEntries) {
        if (entry.length == octets) {
            return HashAlgorithm(entry.id);
        }
    }
    return std::nullopt;
}

std::size_t HashAlgorithm::length() const {
    return entryOf(id_).length;
}

const char* HashAlgorithm::name() const {
    return entryOf(id_).name;
}

std::vector<std::uint8_t> HashAlgorithm::digestInfo(const std::vector<std::uint8_t>& hash) const {
    const Entry& entry = entryOf(id_);
    std::vector<std::uint8_t> out(entry.prefix.begin(), entry.prefix.end());
    out.insert(out.end(), hash.begin(), hash.end());
    return out;
}
