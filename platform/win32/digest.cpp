#include "platform/digest.h"

#include <windows.h>
#include <bcrypt.h>

#include <cassert>
#include <limits>

namespace mdb::platform {

// CNG: one algorithm provider per hasher (opening one costs little next to hashing a file).
struct Hasher::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    DWORD digestLength = 0;
    bool failed = false;
    ~State() {
        if (hash) BCryptDestroyHash(hash);
        if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

static bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

Hasher::Hasher(DigestAlgorithm algorithm) : state_(std::make_unique<State>()) {
    State& s = *state_;
    const wchar_t* id = algorithm == DigestAlgorithm::Md5 ? BCRYPT_MD5_ALGORITHM
                                                          : BCRYPT_SHA256_ALGORITHM;
    ULONG written = 0;
    s.failed =
        !Succeeded(BCryptOpenAlgorithmProvider(&s.algorithm, id, nullptr, 0)) ||
        !Succeeded(BCryptGetProperty(s.algorithm, BCRYPT_HASH_LENGTH,
                                     reinterpret_cast<PUCHAR>(&s.digestLength),
                                     sizeof s.digestLength, &written, 0)) ||
        !Succeeded(BCryptCreateHash(s.algorithm, &s.hash, nullptr, 0, nullptr, 0, 0));
}

Hasher::~Hasher() = default;
Hasher::Hasher(Hasher&&) noexcept = default;
Hasher& Hasher::operator=(Hasher&&) noexcept = default;

bool Hasher::Add(std::span<const std::uint8_t> bytes) {
    assert(state_);
    // BCryptHashData takes a 32-bit length: hand larger spans over in pieces.
    constexpr std::size_t kPiece = std::numeric_limits<ULONG>::max();
    while (!state_->failed && !bytes.empty()) {
        const std::size_t n = bytes.size() < kPiece ? bytes.size() : kPiece;
        if (!Succeeded(BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes.data()),
                                      static_cast<ULONG>(n), 0)))
            state_->failed = true;
        bytes = bytes.subspan(n);
    }
    return !state_->failed;
}

std::vector<std::uint8_t> Hasher::Finish() {
    assert(state_);
    std::vector<std::uint8_t> digest(state_->digestLength);
    const bool ok = !state_->failed &&
                    Succeeded(BCryptFinishHash(state_->hash, digest.data(),
                                               static_cast<ULONG>(digest.size()), 0));
    state_.reset();
    if (!ok) return {};
    return digest;
}

}  // namespace mdb::platform
