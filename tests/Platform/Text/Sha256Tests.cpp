#include <gtest/gtest.h>

#include <string>

#include "Platform/Text/Sha256.hpp"

namespace larkspin {
namespace {

TEST(Sha256, KnownDigestsAndPiecewiseInput) {
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string text(100000, 'x');
    Sha256 hash;
    for (std::size_t i = 0; i < text.size(); i += 777)
        hash.update(std::string_view(text).substr(i, 777));
    EXPECT_EQ(hash.finishHex(), sha256Hex(text));
    // After finishing, the object starts afresh.
    hash.update("abc");
    EXPECT_EQ(hash.finishHex(), sha256Hex("abc"));
}

}  // namespace
}  // namespace larkspin
