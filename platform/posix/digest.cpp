#include "platform/digest.h"

#include <openssl/evp.h>

#include <cassert>

namespace mdb::platform {

struct Hasher::State {
    EVP_MD_CTX* context = nullptr;
    bool failed = false;
    ~State() { EVP_MD_CTX_free(context); }
};

Hasher::Hasher(DigestAlgorithm algorithm) : state_(std::make_unique<State>()) {
    state_->context = EVP_MD_CTX_new();
    const EVP_MD* md = algorithm == DigestAlgorithm::Md5 ? EVP_md5() : EVP_sha256();
    state_->failed =
        !state_->context || EVP_DigestInit_ex(state_->context, md, nullptr) != 1;
}

Hasher::~Hasher() = default;
Hasher::Hasher(Hasher&&) noexcept = default;
Hasher& Hasher::operator=(Hasher&&) noexcept = default;

bool Hasher::Add(std::span<const std::uint8_t> bytes) {
    assert(state_);
    if (!state_->failed && EVP_DigestUpdate(state_->context, bytes.data(), bytes.size()) != 1)
        state_->failed = true;
    return !state_->failed;
}

std::vector<std::uint8_t> Hasher::Finish() {
    assert(state_);
    std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    const bool ok =
        !state_->failed && EVP_DigestFinal_ex(state_->context, digest.data(), &length) == 1;
    state_.reset();
    if (!ok) return {};
    digest.resize(length);
    return digest;
}

}  // namespace mdb::platform
