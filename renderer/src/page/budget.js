// @ts-check
// The page's work per frame. Insertion, dressing (highlighting and math) and
// find run on the same thread between frames; none of them owns the frame.
// Each asks this budget for a slice: at each frame the slices asked for are
// handed out one after another in order of priority, from one amount of
// time for the frame's work, so that a frame's cost is known by what took
// it. Each kind of work has at most one slice a frame; a slice asked for
// when the frame's time is spent waits for the next frame, and one that
// waited several frames behind others gets a short slice all the same, so
// that nothing waits for ever behind a long search.

// The kinds of work in order of priority (the lowest first), and the time a
// slice takes at most when its kind asks for no other.
export const KINDS = Object.freeze({
    // A search the reader waits for.
    find: { priority: 0, ms: 24 },
    // Highlighting and math of the blocks on screen (the same work as
    // `dress`, one slice of the two a frame).
    screen: { priority: 1, ms: 20, as: 'dress' },
    // The blocks of a render going in.
    insert: { priority: 2, ms: 10 },
    // Highlighting and math of the blocks near the screen.
    dress: { priority: 3, ms: 10 },
    // Text read ahead of a search.
    read: { priority: 4, ms: 4 },
});

/** @typedef {keyof typeof KINDS} Kind */

/**
 * The work a kind is part of: a frame has one slice of each.
 * @param {Kind} kind
 * @returns {Kind}
 */
function workOf(kind) {
    const entry = /** @type {{as?: Kind}} */ (KINDS[kind]);
    return entry.as ?? kind;
}

// The script's work in a frame, all slices together: more than any kind asks
// for alone but a long block's piece (insert.js). The browser's style,
// layout and paint of what they changed come on top of it, but for what a
// slice lays out itself to measure it.
export const FRAME_MS = 40;
// Less than this left in a frame is left to it.
const LEAST_MS = 2;
// A slice that waited this many frames behind others gets LEAST_MS even
// when the frame's time is spent.
const MOST_FRAMES_WAITED = 4;
// The frames whose costs are kept.
const FRAMES_KEPT = 120;

/**
 * A slice of a frame: work until left() is 0, then end() (or wait for
 * anything else, which ends it).
 * @typedef {object} Slice
 * @property {Kind} kind
 * @property {number | null} frame  the frame's time stamp; null when no frame
 *     came (the page was hidden meanwhile)
 * @property {number} ms  the time granted
 * @property {() => number} left  the time still left of it
 * @property {() => void} end  its work is done until its kind asks again
 */

/**
 * A frame's cost by the kind of work that took it.
 * @typedef {{frame: number | null, gap: number | null, spent: Partial<Record<Kind, number>>}} FrameCost
 */

/**
 * @typedef {object} Request
 * @property {Kind} kind
 * @property {number} ms
 * @property {number} waited  frames it waited behind others
 * @property {number} order  when it was asked
 * @property {(slice: Slice) => void} grant
 */

/**
 * @param {object} parts
 * @param {{nextFrame(): Promise<number | null>, yieldTask(): Promise<unknown>}} parts.scheduler
 * @param {() => number} parts.now
 * @param {number} [parts.frameMs]
 */
export function createFrameBudget({ scheduler, now, frameMs = FRAME_MS }) {
    /** @type {Request[]} */
    let waiting = [];
    let asked = 0;
    let turnComing = false;
    // The frame under way: from its animation frame (or, on a page that was
    // idle, from the first slice asked for) to the next.
    // `had`: the work that had its slice in it.
    /** @type {{stamp: number | null, used: number, had: Set<Kind>, cost: FrameCost} | null} */
    let frame = null;
    /** @type {Slice | null} */
    let running = null;
    /** @type {(() => void) | null} */
    let finishRunning = null;
    /** @type {FrameCost[]} */
    const costs = [];
    /** @type {number | null} */
    let lastStamp = null;
    let disposed = false;

    /**
     * A slice for `kind`, of `ms` at most (the kind's own time when not
     * given): in the frame under way if its work had none in it and time is
     * left, else in the next. A slice of the same work still running ends.
     * @param {Kind} kind
     * @param {number} [ms]
     * @returns {Promise<Slice>}
     */
    function next(kind, ms) {
        if (running && workOf(running.kind) === workOf(kind)) running.end();
        return new Promise((grant) => {
            if (disposed) return;
            waiting.push({ kind, ms: Math.max(0, ms ?? KINDS[kind].ms), waited: 0, order: asked++, grant });
            // A page with no frame under way starts its work at once.
            if (!frame && !turnComing) beginFrame(null);
            grantNext();
        });
    }

    // The next animation frame begins the next frame's slices; one that
    // finds none asked for leaves the page idle.
    function awaitTurn() {
        if (turnComing || disposed) return;
        turnComing = true;
        void scheduler.nextFrame().then((stamp) => {
            turnComing = false;
            if (disposed) return;
            // A slice not ended by now is counted in the frame it had.
            finishRunning?.();
            if (waiting.length === 0) {
                frame = null;
                return;
            }
            beginFrame(stamp);
            grantNext();
        });
    }

    /** @param {number | null} stamp */
    function beginFrame(stamp) {
        /** @type {FrameCost} */
        const cost = { frame: stamp, gap: stamp !== null && lastStamp !== null ? stamp - lastStamp : null, spent: {} };
        if (stamp !== null) lastStamp = stamp;
        frame = { stamp, used: 0, had: new Set(), cost };
        costs.push(cost);
        if (costs.length > FRAMES_KEPT) costs.shift();
        awaitTurn();
    }

    /** @param {Request} request */
    function rank(request) {
        return request.waited >= MOST_FRAMES_WAITED ? -1 : KINDS[request.kind].priority;
    }

    // Hands the frame's next slice to the first in order that had none in
    // it yet; the others wait for the next frame.
    function grantNext() {
        const current = frame;
        if (running || waiting.length === 0 || disposed || !current) return;
        waiting.sort((a, b) => rank(a) - rank(b) || a.order - b.order);
        const at = waiting.findIndex((request) => !current.had.has(workOf(request.kind)));
        if (at < 0) return;
        const request = waiting[at];
        const left = frameMs - current.used;
        if (left < LEAST_MS && request.waited < MOST_FRAMES_WAITED) {
            // Counted once a frame.
            for (const other of waiting) {
                if (current.had.has(workOf(other.kind))) continue;
                other.waited += 1;
                current.had.add(workOf(other.kind));
            }
            return;
        }
        waiting.splice(at, 1);
        current.had.add(workOf(request.kind));
        const ms = Math.max(Math.min(request.ms, left), Math.min(request.ms, LEAST_MS));
        const started = now();
        const finish = () => {
            running = null;
            finishRunning = null;
            const spent = Math.max(0, now() - started);
            current.used += spent;
            current.cost.spent[request.kind] = (current.cost.spent[request.kind] ?? 0) + spent;
        };
        /** @type {Slice} */
        const slice = {
            kind: request.kind,
            frame: current.stamp,
            ms,
            left: () => Math.max(0, started + ms - now()),
            end() {
                if (running !== slice) return;
                finish();
                grantNext();
            },
        };
        running = slice;
        finishRunning = finish;
        request.grant(slice);
        // Work in a slice runs on without a turn for the page between: its
        // owner that waits for anything else is done with it.
        void scheduler.yieldTask().then(() => slice.end());
    }

    /**
     * The costs of the last frames, the oldest first.
     * @returns {FrameCost[]}
     */
    function frames() {
        return costs.map((cost) => ({ ...cost, spent: { ...cost.spent } }));
    }

    // The page is closing: the work waiting for a slice gets none.
    function dispose() {
        disposed = true;
        waiting = [];
        running = null;
        finishRunning = null;
    }

    return { next, frames, dispose };
}
