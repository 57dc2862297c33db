#pragma once
// MD5 and SHA-256 digests from the system's cryptographic library (libcrypto here, CNG on
// Windows); no digest is written by hand.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mdb::platform {

enum class DigestAlgorithm { Md5, Sha256 };

// Digest of data handed over in pieces: Add any number of times, then Finish once.
class Hasher {
  public:
    explicit Hasher(DigestAlgorithm algorithm);
    ~Hasher();
    Hasher(Hasher&&) noexcept;
    Hasher& operator=(Hasher&&) noexcept;
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    // False when the library refused the data (the digest is then lost).
    // REQUIRES: Finish has not been called.
    bool Add(std::span<const std::uint8_t> bytes);
    // The digest of everything added, empty when the library failed at any step.
    // REQUIRES: Finish has not been called.
    std::vector<std::uint8_t> Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Lower-case hexadecimal of `bytes`.
std::string HexOf(std::span<const std::uint8_t> bytes);

// Lower-case hexadecimal digest of `bytes`; empty on failure.
std::string DigestHex(DigestAlgorithm algorithm, std::span<const std::uint8_t> bytes);
std::string DigestHex(DigestAlgorithm algorithm, std::string_view text);

}  // namespace mdb::platform
