#include "Platform/Text/Sha256.hpp"

#include <openssl/evp.h>

#include <new>
#include <stdexcept>

namespace larkspin {

namespace {
// Fetched once: an implicit fetch on every init costs a provider lookup.
const EVP_MD* sha256Method() {
    static const EVP_MD* method = [] {
        const EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        return fetched != nullptr ? fetched : EVP_sha256();
    }();
    return method;
}

void initialise(EVP_MD_CTX* ctx) {
    if (EVP_DigestInit_ex(ctx, sha256Method(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 initialisation failed");
    }
}
}  // namespace

void Sha256::Free::operator()(evp_md_ctx_st* ctx) const {
    EVP_MD_CTX_free(ctx);
}

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_) throw std::bad_alloc();
    initialise(ctx_.get());
}

void Sha256::update(std::string_view bytes) {
    if (bytes.empty()) return;
    if (EVP_DigestUpdate(ctx_.get(), bytes.data(), bytes.size()) != 1) {
        throw std::runtime_error("SHA-256 update failed");
    }
}

std::array<unsigned char, Sha256::digestSize> Sha256::finish() {
    std::array<unsigned char, digestSize> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx_.get(), digest.data(), &length) != 1 || length != digestSize) {
        throw std::runtime_error("SHA-256 finalisation failed");
    }
    initialise(ctx_.get());
    return digest;
}

std::string Sha256::finishHex() {
    return toHex(finish());
}

std::string Sha256::toHex(const std::array<unsigned char, digestSize>& digest) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex(digestSize * 2, '0');
    for (std::size_t i = 0; i < digestSize; ++i) {
        hex[2 * i] = digits[digest[i] >> 4];
        hex[2 * i + 1] = digits[digest[i] & 0x0F];
    }
    return hex;
}

std::string sha256Hex(std::string_view bytes) {
    Sha256 hash;
    hash.update(bytes);
    return hash.finishHex();
}

}  // namespace larkspin
