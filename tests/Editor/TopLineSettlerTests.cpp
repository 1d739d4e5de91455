#include "Editor/TopLineSettler.hpp"

#include <gtest/gtest.h>

namespace larkspin {
namespace {

using Step = TopLineSettler::Step;

TEST(TopLineSettler, WantsTheLineTopWithinReach) {
    struct Case {
        ScrollMeasure measure;
        double wanted;
        bool settled;
    };
    for (const Case c : {Case{{5400, 5400.4, 90000, 400}, 5400, true},
                         Case{{5400, 1658, 90000, 400}, 5400, false},
                         Case{{8118, 7760, 8160, 400}, 7760, true},  // near the end
                         Case{{30, 0, 200, 400}, 0, true}}) {         // shorter than the view
        SCOPED_TRACE(c.measure.lineTop);
        EXPECT_EQ(TopLineSettler::wantedValue(c.measure), c.wanted);
        EXPECT_EQ(TopLineSettler::isSettled(c.measure), c.settled);
    }
}

TEST(TopLineSettler, FollowsMeasuringUntilTheLineStandsAtAQuietMoment) {
    TopLineSettler settler;
    EXPECT_EQ(settler.layoutChanged({5400, 0, 8000, 400}), Step::none);  // nothing asked
    settler.begin();
    // Not laid out yet, then the lines after it not measured: place unknown.
    EXPECT_EQ(settler.quiet({0, 0, 0, 0}), Step::none);
    EXPECT_EQ(settler.layoutChanged({8118, 1658, 8160, 400}), Step::none);
    // Measured past it: scrolled there, and again when it moves.
    EXPECT_EQ(settler.layoutChanged({53964, 1658, 60576, 400}), Step::scroll);
    EXPECT_EQ(settler.layoutChanged({53976, 53964, 62000, 400}), Step::scroll);
    EXPECT_EQ(settler.layoutChanged({53976, 53976, 68640, 400}), Step::none);
    EXPECT_TRUE(settler.isActive());
    // A quiet moment away from the line scrolls once more; in place, it ends.
    EXPECT_EQ(settler.quiet({53980, 53976, 108042, 400}), Step::scroll);
    EXPECT_EQ(settler.quiet({53980, 53980, 108042, 400}), Step::settled);
    EXPECT_FALSE(settler.isActive());
    EXPECT_EQ(settler.quiet({100, 53980, 108042, 400}), Step::none);
}

TEST(TopLineSettler, TheUserOrTheBoundEndsWatching) {
    TopLineSettler settler;
    settler.begin();
    settler.stop();  // the user scrolled
    EXPECT_EQ(settler.layoutChanged({5400, 0, 8000, 400}), Step::none);
    EXPECT_EQ(settler.quiet({5400, 0, 8000, 400}), Step::none);

    // A line that never holds still is let go after the bound; a new line
    // starts a new count.
    for (int round = 0; round < 2; ++round) {
        settler.begin();
        int scrolls = 0;
        Step step = Step::scroll;
        for (int i = 0; step == Step::scroll && i < 2 * TopLineSettler::maxCorrections; ++i) {
            const ScrollMeasure moving{5400.0 + i, 0, 90000, 400};
            step = (i % 2 == 0) ? settler.layoutChanged(moving) : settler.quiet(moving);
            if (step == Step::scroll) ++scrolls;
        }
        EXPECT_EQ(step, Step::gaveUp);
        EXPECT_EQ(scrolls, TopLineSettler::maxCorrections);
        EXPECT_FALSE(settler.isActive());
    }
}

}  // namespace
}  // namespace larkspin
