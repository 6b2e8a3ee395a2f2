#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The digest algorithm of a hash the page has computed, told by its length: 16 octets MD5, 20 SHA-1,
// 32 SHA-256, 48 SHA-384, 64 SHA-512. A hash of any other length belongs to no algorithm the engines sign
// with, and is refused before any key is touched.
class HashAlgorithm {
  public:
    enum class Id { Md5, Sha1, Sha256, Sha384, Sha512 };

    static std::optional<HashAlgorithm> forLength(std::size_t octets);

    Id id() const { return id_; }
    std::size_t length() const;
    // The name users know it by ("SHA-256").
    const char* name() const;
    // The DER DigestInfo that PKCS#1 v1.5 signs: the algorithm's prefix followed by the hash.
    std::vector<std::uint8_t> digestInfo(const std::vector<std::uint8_t>& hash) const;

  private:
    explicit HashAlgorithm(Id id) : id_(id) {}
    Id id_;
};
