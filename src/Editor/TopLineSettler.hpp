#pragma once

namespace larkspin {

// Where the editor's view stands, in the scroll adjustment's pixels: the top
// of the line wanted at the top of the view, the scroll value, and the
// adjustment's upper bound and page size.
struct ScrollMeasure {
    double lineTop = 0;
    double value = 0;
    double upper = 0;
    double pageSize = 0;
};

// Keeps a line at the top of the editor while the text view is still
// measuring lines. GTK counts lines it has not measured yet as (nearly) empty,
// so the first scroll to a line deep in a long text lands short, and the
// line's place moves each time a run of lines is measured. The view calls
// `layoutChanged` when the adjustment's size changes (it scrolls again once
// the line's place is within reach, that is, measured) and `quiet` once
// nothing else is pending on the main loop (it scrolls to where the line is
// then, or ends watching when it stands there).
// Watching ends when the line stands at the top at a quiet moment, when the
// user scrolls, clicks or types (`stop`), or after `maxCorrections` scrolls.
class TopLineSettler {
public:
    enum class Step {
        none,     // nothing to do
        scroll,   // set the scroll value to `wantedValue`
        settled,  // the line stands where it should: watching ended
        gaveUp,   // too many corrections: watching ended where it stands
    };
    static constexpr int maxCorrections = 1000;

    void begin();
    void stop() { active_ = false; }
    bool isActive() const { return active_; }
    int corrections() const { return corrections_; }

    Step layoutChanged(const ScrollMeasure& measure);
    Step quiet(const ScrollMeasure& measure);

    // The line's top within what the adjustment can reach (a line near the
    // end cannot come to the top).
    static double wantedValue(const ScrollMeasure& measure);
    // Within half a pixel of the wanted value.
    static bool isSettled(const ScrollMeasure& measure);

private:
    Step correct();

    bool active_ = false;
    int corrections_ = 0;
};

}  // namespace larkspin
