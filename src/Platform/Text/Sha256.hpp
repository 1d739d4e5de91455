#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace larkspin {

// SHA-256 over bytes given in pieces (OpenSSL EVP underneath). A moved-from
// object must not be used again.
class Sha256 {
public:
    static constexpr std::size_t digestSize = 32;

    Sha256();
    Sha256(Sha256&&) noexcept = default;
    Sha256& operator=(Sha256&&) noexcept = default;

    void update(std::string_view bytes);
    // Ends the computation; the object starts afresh afterwards.
    std::array<unsigned char, digestSize> finish();
    // The digest as 64 lower-case hexadecimal digits.
    std::string finishHex();

    static std::string toHex(const std::array<unsigned char, digestSize>& digest);

private:
    struct Free {
        void operator()(evp_md_ctx_st* ctx) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> ctx_;
};

// The lower-case hexadecimal SHA-256 of `bytes`.
std::string sha256Hex(std::string_view bytes);

}  // namespace larkspin
