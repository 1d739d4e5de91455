// @ts-check
// The insertion of a render's blocks: in slices, a visible page's first
// screen first, sized by the frames seen; a long block's items a piece per
// frame; a new document built out of sight while the old one is on screen.

import { PageError } from './protocol.js';
import { locateAnchor } from './anchors.js';
import { isHidden } from './layout.js';
import { LONG_BLOCK_CHARS, longBlockShare } from './blocks.js';
import { FRAME_MS } from './budget.js';

/** @typedef {import('./state.js').ParseResult} ParseResult */
/** @typedef {import('./view.js').View} View */
/** @typedef {import('./restore.js').Target} Target */

// The first screen: what fills this many times the view's height, by the
// blocks' estimated heights (with room to spare, as estimates are rough).
export const FIRST_SCREEN_FACTOR = 1.5;
// A visible page inserts a slice of blocks per frame, of the time the
// page's frame budget grants it (budget.js). The browser's own work for a
// slice (style, layout, paint) comes on top of it and costs several times
// the slice for heavy markup such as typeset math, so the time it asks for
// follows the frames actually seen: a frame longer than this shrinks it, a
// short one lets it grow again.
const FRAME_TARGET_MS = 34;
const SLICE_MS = { initial: 6, min: 3, max: 10 };
// The browser's own work for the blocks of a slice, at most this many times
// the slice (typeset math and tables near the screen).
const SLICE_LAYOUT_FACTOR = 3;
// The items of a long block (a table's rows) go in one piece per frame, laid
// out in the slice that adds them, so that the slice's clock holds the
// browser's work for them: that for the new items (their style and layout,
// far more than parsing them) and a part that grows with the block already
// in place (a table is laid out again whole). The piece's size follows the
// slices seen, never the frames: a frame also waits for paint and for a
// busy machine, which a smaller piece would not make shorter, only the
// block slower to go in. The least time per character of a piece stands for
// the new items' share; the rest of the slice is the block's own. Pieces
// fill the frame's time while they can; once the block's own part passes
// half of it, a piece costs about as much as that part, so that a long
// table takes frames of about twice it rather than very many.
const LONG_PIECE_CHARS = { initial: 16 * 1024, min: 2048, max: 256 * 1024 };
// The time a long block's piece asks of the frame: all of it.
const LONG_PIECE_MS = FRAME_MS;

/**
 * The size of a long block's next piece, to take `target` ms, after a
 * slice of `spent` ms (the piece laid out) that added `piece` characters of
 * it. `seen` carries what the slices so far told: the least time per
 * character of a piece (the new items' share), and the block's own part of
 * a slice, smoothed (a busy machine makes single slices longer). A piece
 * grows at most twofold.
 * @param {number} spent
 * @param {number} piece
 * @param {{perChar: number, own: number} | null} seen
 * @param {number} target  the time granted to the next piece
 * @returns {{bytes: number, seen: {perChar: number, own: number}}}
 */
export function nextPieceSize(spent, piece, seen, target) {
    const perChar = Math.max(1e-6, Math.min(seen?.perChar ?? Infinity, spent / Math.max(1, piece)));
    const measured = Math.max(0, spent - perChar * piece);
    const own = seen ? seen.own * 0.7 + measured * 0.3 : measured;
    const wanted = Math.max(target - own, own) / perChar;
    const bytes = Math.max(LONG_PIECE_CHARS.min, Math.min(LONG_PIECE_CHARS.max, piece * 2, wanted));
    return { bytes: Math.round(bytes), seen: { perChar, own } };
}

/**
 * Whether block i goes in piece by piece (see blocks.js).
 * @param {ParseResult} result
 * @param {number} i
 */
export function isLong(result, i) {
    return !result.blocks[i].raw && result.offsets[i + 1] - result.offsets[i] > LONG_BLOCK_CHARS;
}

/**
 * The time for the next slice of insertion: less after a frame that came
 * late because of the slice, more after one that came early. A frame late
 * by far more than the slice and the browser's work for it could make it
 * (a slow paint, a busy machine) keeps the budget: a smaller slice would
 * not bring the frames back, only make the insertion take more of them.
 * @param {number} budget
 * @param {number | null} frame  this frame's time stamp
 * @param {number | null} lastFrame  the one before
 * @param {number} spent  the time the slice took
 */
function nextSliceBudget(budget, frame, lastFrame, spent) {
    if (frame === null || lastFrame === null) return budget;
    const gap = frame - lastFrame;
    if (gap > FRAME_TARGET_MS && gap - FRAME_TARGET_MS > spent * (1 + SLICE_LAYOUT_FACTOR)) return budget;
    if (gap > FRAME_TARGET_MS) return Math.max(SLICE_MS.min, budget * 0.7);
    if (gap < FRAME_TARGET_MS * 0.6) return Math.min(SLICE_MS.max, budget * 1.2);
    return budget;
}

export function supersededError() {
    return new PageError('superseded', 'a newer render replaced this one');
}

/**
 * @param {object} parts
 * @param {Document} parts.doc
 * @param {HTMLElement} parts.content  holds the articles
 * @param {import('./state.js').Geometry} parts.geometry
 * @param {() => number} parts.now
 * @param {ReturnType<typeof import('./scheduler.js').createScheduler>} parts.scheduler
 * @param {ReturnType<typeof import('./budget.js').createFrameBudget>} parts.budget  grants the slices of frames
 * @param {import('./state.js').PageState} parts.state
 * @param {ReturnType<typeof import('./view.js').createViews>} parts.views
 * @param {ReturnType<typeof import('./diagrams.js').createDiagrams>} parts.diagrams
 * @param {{forget(): void}} parts.find  forgets a document taken off the page
 * @param {ReturnType<typeof import('./restore.js').createRestore>} parts.restore
 */
export function createInserter({ doc, content, geometry, now, scheduler, budget, state, views, diagrams, find, restore }) {
    /** @param {object} token */
    function superseded(token) {
        return state.activeRender !== token;
    }

    /**
     * Inserts the view's blocks; returns the time it took.
     * @param {View} view
     * @param {object} token
     * @param {boolean} hidden
     * @param {Target | null} target
     * @param {() => void} onShown  called once the view is the page's and its first screen is in
     */
    async function insertTimed(view, token, hidden, target, onShown) {
        const domStarted = now();
        await insertView(view, token, hidden, target, onShown);
        return now() - domStarted;
    }

    /**
     * The block the reader returns to, if the target names one already.
     * @param {View} view
     * @param {Target | null} target
     */
    function targetIndexOf(view, target) {
        if (target?.kind === 'source') return target.location.index ?? -1;
        if (target?.kind === 'anchor') {
            const early = locateAnchor(target.anchor, { ...views.anchorView(view), count: view.result.blocks.length });
            if (early.index !== undefined) return early.index;
        }
        return -1;
    }

    /**
     * Where a view's new article stands: built out of sight while an older
     * document is on screen (staging), then put in its place (commit).
     * @param {View} view
     * @param {boolean} hidden
     */
    function stage(view, hidden) {
        const { article } = view;
        const adopted = state.view === view;
        const old = adopted ? null : state.view;
        const staging = Boolean(old && old.article.isConnected && !hidden);
        if (staging) article.classList.add('md-staging');
        if (!article.isConnected) content.append(article);
        const stand = {
            adopted,
            staging,
            committed: adopted,
            commit() {
                if (stand.committed) return;
                stand.committed = true;
                if (old) {
                    views.removeArticle(old.article);
                    find.forget();
                }
                article.classList.remove('md-staging');
                state.view = view;
                state.activeHeading = -1;
            },
        };
        return stand;
    }

    /**
     * Whether the blocks in place fill a screen from the top, or from the
     * block the reader returns to. By the blocks' estimated heights, with
     * room to spare: the chunks are sized by estimates, and measuring the
     * blocks would lay out every chunk being filled.
     * @param {View} view
     * @param {number} targetIndex
     * @returns {() => boolean}
     */
    function firstScreenWatch(view, targetIndex) {
        const from = Math.max(0, targetIndex);
        let filledTo = from;
        let filledHeight = 0;
        /** @param {number} i */
        const est = (i) => view.result.blocks[i].est || 40;
        return () => {
            const height = geometry.viewportHeight();
            if (height <= 0) return true;
            if (view.count <= from) return false;
            // A long block still going in counts by the share of it in place.
            const long = view.long && view.long.index >= from ? view.long : null;
            const complete = long ? long.index : view.count;
            for (; filledTo < complete; filledTo++) filledHeight += est(filledTo);
            const partial = long ? est(long.index) * longBlockShare(long) : 0;
            return filledHeight + partial >= height * FIRST_SCREEN_FACTOR;
        };
    }

    // The characters of markup of the last piece of a long block appended.
    let lastPiece = 0;

    /**
     * Appends the next batch of blocks, of about `batchBytes` of markup, and
     * asks for their diagrams; returns the time it took.
     * @param {View} view
     * @param {(i: number) => number} sizeOf
     * @param {number} batchBytes
     * @param {number} pieceBytes  for the next items of a long block
     * @param {boolean} layOut  a long block's piece is laid out in the time
     */
    function appendBatch(view, sizeOf, batchBytes, pieceBytes, layOut) {
        const batchStarted = now();
        /** @type {Element[]} */
        let placeholders;
        if (view.long) {
            // The next items of a long block, a change to a block in place.
            const long = view.long;
            const from = long.cuts[long.next];
            placeholders = view.builder.continueLong(pieceBytes);
            lastPiece = long.cuts[long.next] - from;
            if (layOut) geometry.height(view.elements[long.index]);
        } else if (isLong(view.result, view.count) && view.builder.startLong(view.count, batchBytes)) {
            placeholders = [];
            view.count += 1;
        } else {
            const total = view.result.blocks.length;
            let to = view.count + 1;
            let size = sizeOf(view.count);
            while (to < total && !isLong(view.result, to) && size + sizeOf(to) <= batchBytes) size += sizeOf(to++);
            placeholders = view.builder.append(view.count, to);
            view.count = to;
        }
        if (placeholders.length > 0) diagrams.request(placeholders, view.diagramSources);
        return now() - batchStarted;
    }

    /**
     * Inserts the blocks in slices. A visible page fills its first screen
     * first and yields to frames; a hidden one yields through the channel.
     * While an older document is on screen, the new one is built out of
     * sight and takes its place once the first screen (and the block the
     * reader returns to) is ready.
     * @param {View} view
     * @param {object} token  the render's; a newer render replaces it
     * @param {boolean} hidden
     * @param {Target | null} target
     * @param {() => void} onShown  called once the view is the page's and its first screen is in
     */
    async function insertView(view, token, hidden, target, onShown) {
        const { result, article } = view;
        const stand = stage(view, hidden);
        const targetIndex = targetIndexOf(view, target);
        const firstScreenReady = firstScreenWatch(view, targetIndex);

        const total = result.blocks.length;
        let batchBytes = 16 * 1024;
        // A raw block's markup is sanitised on its own, which costs about as
        // much as 2 KB of plain markup.
        /** @param {number} i */
        const sizeOf = (i) => (result.offsets[i + 1] - result.offsets[i]) + (result.blocks[i].raw ? 2048 : 0);
        let sliceBudget = SLICE_MS.initial;
        let pieceBytes = LONG_PIECE_CHARS.initial;
        /** @type {{perChar: number, own: number} | null} */
        let pieceSeen = null;
        // The time the last slice's piece of a long block took, laid out;
        // -1 when the last slice added none.
        let pieceSpent = -1;
        /** @type {number | null} */
        let lastFrame = null;
        /** @type {import('./budget.js').Slice | null} */
        let slice = null;
        // The frame's slice for what comes next; the next piece of a long
        // block is sized to it.
        const nextSlice = async () => {
            const granted = await budget.next('insert', view.long !== null ? LONG_PIECE_MS : sliceBudget);
            if (pieceSpent >= 0) {
                const next = nextPieceSize(pieceSpent, lastPiece, pieceSeen, granted.ms);
                pieceBytes = next.bytes;
                pieceSeen = next.seen;
            }
            return granted;
        };
        const endSlice = () => {
            slice?.end();
            slice = null;
        };

        if (total === 0 || !stand.staging) stand.commit();
        // The first slice of a visible page runs until its first screen is
        // filled (within reason), then yields so that the screen paints. A
        // head already on screen was that first slice.
        let firstSlice = !hidden && !stand.adopted;
        let previewed = false;
        const more = () => view.count < total || view.long !== null;
        // Receiving a long document's parse already took a good part of this
        // frame: the head on screen waits a frame for the rest.
        if (stand.adopted && more() && !isHidden(doc, geometry)) {
            slice = await nextSlice();
            lastFrame = slice.frame;
            if (superseded(token)) {
                endSlice();
                throw supersededError();
            }
        }
        while (more()) {
            const sliceStarted = now();
            const granted = /** @type {import('./budget.js').Slice | null} */ (slice);
            const budgetMs = hidden ? 40 : firstSlice ? 150 : granted?.ms ?? sliceBudget;
            pieceSpent = -1;
            do {
                const inLong = view.long !== null;
                const layOut = inLong && !hidden && !isHidden(doc, geometry);
                const spent = appendBatch(view, sizeOf, batchBytes, hidden ? batchBytes : pieceBytes, layOut);
                if (!inLong) {
                    if (spent > Math.min(4, budgetMs / 2) && batchBytes > 2048) batchBytes = Math.floor(batchBytes / 2);
                    else if (spent < 1 && batchBytes < 512 * 1024) batchBytes *= 2;
                }
                if (firstSlice || !stand.committed) {
                    const ready = firstScreenReady();
                    if (!stand.committed && ready) stand.commit();
                    if (ready && firstSlice) {
                        firstSlice = false;
                        break;
                    }
                }
                if (stand.committed && !previewed && target && view.count > targetIndex && targetIndex >= 0) {
                    previewed = true;
                    restore.preview(view, target, targetIndex);
                }
                // A piece of a long block per frame (as many as a hidden
                // page's slice takes).
                if (inLong && !hidden) {
                    if (layOut) pieceSpent = spent;
                    break;
                }
            } while (more() && now() - sliceStarted < budgetMs);
            const sliceSpent = now() - sliceStarted;
            endSlice();
            firstSlice = false;
            if (!more()) break;
            if (stand.committed) onShown();
            if (hidden || isHidden(doc, geometry)) {
                await scheduler.yieldTask();
                pieceSpent = -1;
                lastFrame = null;
            } else {
                const grew = pieceSpent >= 0;
                slice = await nextSlice();
                const frame = slice.frame;
                if (!grew) sliceBudget = nextSliceBudget(sliceBudget, frame, lastFrame, sliceSpent);
                lastFrame = frame;
            }
            if (superseded(token)) {
                endSlice();
                if (!stand.committed) views.removeArticle(article);
                throw supersededError();
            }
        }
        endSlice();
        stand.commit();
        onShown();
    }

    return { insertTimed };
}
