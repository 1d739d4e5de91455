#include "Editor/BlockIndent.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace larkspin {
namespace {

TEST(BlockIndent, ShiftsWholeLines) {
    struct Case {
        const char* name;
        std::string block;
        bool outdent;
        std::optional<std::string> result;
    };
    for (const Case& c : {
             Case{"blank middle stays", "a\n  \nb\n", false, "    a\n  \n    b\n"},
             Case{"empty middle stays", "a\n\nb", false, "    a\n\n    b"},
             Case{"carriage returns kept", "a\r\n\r\nb\r\n", false, "    a\r\n\r\n    b\r\n"},
             Case{"outdent steps", "      six\n\ttab\n  two\nletter", true, "  six\ntab\ntwo\nletter"},
             Case{"outdent keeps carriage returns", "    a\r\n\tb\r\n", true, "a\r\nb\r\n"},
             Case{"outdent keeps other white space", " \tx", true, "\tx"},
             Case{"nothing to outdent", "a\nb\n", true, std::nullopt},
             Case{"only blank lines to indent", " \n\n", false, std::nullopt},
         }) {
        EXPECT_EQ(BlockIndent::shift(c.block, c.outdent), c.result) << c.name;
    }
}

}  // namespace
}  // namespace larkspin
