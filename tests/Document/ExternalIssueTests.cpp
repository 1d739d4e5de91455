#include "Document/ExternalIssue.hpp"

#include <gtest/gtest.h>

namespace larkspin {
namespace {

TEST(ExternalIssue, KindsAndClearing) {
    EXPECT_EQ(ExternalIssue::unreadable(DocumentLoadFailure::permissionDenied()).kind(), ExternalIssueKind::permission);
    EXPECT_EQ(ExternalIssue::unreadable(DocumentLoadFailure::notFound()).kind(), ExternalIssueKind::unreadable);
    EXPECT_EQ(ExternalIssue::missing().kind(), ExternalIssueKind::missing);
    EXPECT_TRUE(clears({}, ExternalIssueKind::saveFailed));
    EXPECT_TRUE(clears({ExternalIssueKind::permission, ExternalIssueKind::missing}, ExternalIssueKind::permission));
    EXPECT_FALSE(clears({ExternalIssueKind::unreadable}, ExternalIssueKind::permission));
}

}  // namespace
}  // namespace larkspin
