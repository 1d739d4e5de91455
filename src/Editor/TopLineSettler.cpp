#include "Editor/TopLineSettler.hpp"

#include <algorithm>
#include <cmath>

namespace larkspin {

void TopLineSettler::begin() {
    active_ = true;
    corrections_ = 0;
}

TopLineSettler::Step TopLineSettler::layoutChanged(const ScrollMeasure& measure) {
    // Not laid out yet: GTK scrolls to the line once it has a size.
    if (!active_ || !(measure.pageSize > 0) || isSettled(measure)) return Step::none;
    // Out of reach: the lines after it are not measured yet (or it is near
    // the end), so its place is not known. Following the measuring edge would
    // make GTK measure a screenful at a time there; the quiet moment decides.
    if (measure.lineTop > measure.upper - measure.pageSize) return Step::none;
    return correct();
}

TopLineSettler::Step TopLineSettler::quiet(const ScrollMeasure& measure) {
    if (!active_ || !(measure.pageSize > 0)) return Step::none;
    if (isSettled(measure)) {
        active_ = false;
        return Step::settled;
    }
    return correct();
}

TopLineSettler::Step TopLineSettler::correct() {
    if (corrections_ >= maxCorrections) {
        active_ = false;
        return Step::gaveUp;
    }
    ++corrections_;
    return Step::scroll;
}

double TopLineSettler::wantedValue(const ScrollMeasure& measure) {
    const double last = std::max(0.0, measure.upper - measure.pageSize);
    return std::clamp(measure.lineTop, 0.0, last);
}

bool TopLineSettler::isSettled(const ScrollMeasure& measure) {
    return std::abs(wantedValue(measure) - measure.value) < 0.5;
}

}  // namespace larkspin
