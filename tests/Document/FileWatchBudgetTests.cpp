#include "Document/FileWatchBudget.hpp"

#include <gtest/gtest.h>

namespace larkspin {
namespace {

using Grant = FileWatchBudget::Grant;

TEST(FileWatchBudget, DocumentsInTheBackgroundWaitAndAShownOneTakesTheWatchShownLeastRecently) {
    FileWatchBudget budget(2);
    EXPECT_EQ(budget.request("a", false), (Grant{true, std::nullopt}));
    EXPECT_EQ(budget.request("b", false), (Grant{true, std::nullopt}));
    // Full: a document in the background waits; one holding a watch keeps it.
    EXPECT_EQ(budget.request("c", false), (Grant{false, std::nullopt}));
    EXPECT_EQ(budget.request("b", false), (Grant{true, std::nullopt}));
    // Shown, it takes the watch of the one shown (or admitted) least recently.
    EXPECT_EQ(budget.request("c", true), (Grant{true, std::string("a")}));
    EXPECT_FALSE(budget.holds("a"));
    // Showing a holder makes it the most recent: b goes before it.
    EXPECT_EQ(budget.request("c", true), (Grant{true, std::nullopt}));
    EXPECT_EQ(budget.request("b", true), (Grant{true, std::nullopt}));
    EXPECT_EQ(budget.request("a", true), (Grant{true, std::string("c")}));
    EXPECT_EQ(budget.holderCount(), 2u);
    // A closed document's watch is free for one in the background.
    budget.release("b");
    EXPECT_EQ(budget.request("d", false), (Grant{true, std::nullopt}));
    EXPECT_TRUE(budget.holds("a") && budget.holds("d"));
}

}  // namespace
}  // namespace larkspin
