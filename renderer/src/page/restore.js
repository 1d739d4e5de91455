// @ts-check
// Returning the reader to a place after a render: a saved anchor or a source
// line. A place is set once the blocks are in; it waits for the page's first
// size when there is none yet, and is held while late images and diagrams
// still change the layout (the pin).

import { locateAnchor, applyLocation, isValidAnchor, captureAnchor } from './anchors.js';
import { finite, round1 } from './protocol.js';
import { hasSize } from './layout.js';

/** @typedef {import('./state.js').PageState} PageState */
/** @typedef {import('./view.js').View} View */

const PIN_LIMIT_MS = 4000;

/**
 * Where a place lies among the blocks in place (see anchors.js).
 * @typedef {object} Location
 * @property {string} strategy  exact, fingerprint, heading, ratio or none
 * @property {number} [index]
 * @property {number} [fraction]
 * @property {number} [offsetPx]  the reading line's pixels below the block's top when taken
 * @property {number} [ratio]
 * @property {number} [scrollLimit]  scroll no further (the reader was above the first block)
 * @property {string} [reason]  why there is none
 */

/**
 * What a render returns to: a block found by source line, or an anchor.
 * @typedef {{kind: 'source', location: Location}
 *     | {kind: 'anchor', anchor: any, startedAt: number}} Target
 */

/**
 * @typedef {object} RestoreReport
 * @property {string} strategy
 * @property {boolean} applied
 * @property {string} blockId
 * @property {number} scrollTop
 * @property {number} elapsedMs
 * @property {string} [reason]
 */

/**
 * @param {object} parts
 * @param {Window & typeof globalThis} parts.win
 * @param {import('./state.js').Geometry} parts.geometry
 * @param {() => number} parts.now
 * @param {PageState} parts.state
 * @param {import('./page.js').Post} parts.post
 * @param {{pending: number}} parts.diagrams
 * @param {(view: View) => import('./view.js').AnchorView} parts.anchorView
 */
export function createRestore({ win, geometry, now, state, post, diagrams, anchorView }) {
    /** @type {{view: View, location: Location, startedAt: number, timer: ReturnType<typeof setTimeout> | null} | null} */
    let pin = null;
    /**
     * A place to apply once the page has a size.
     * @type {({kind: 'source', location: Location, generation: number}
     *     | {kind: 'anchor', anchor: any, startedAt: number, generation: number}) | null}
     */
    let deferred = null;

    /**
     * @param {Location} location
     * @param {View} view
     * @param {number} startedAt
     * @param {number} scrollTop
     * @returns {RestoreReport}
     */
    function report(location, view, startedAt, scrollTop) {
        /** @type {RestoreReport} */
        const result = {
            strategy: location.strategy,
            applied: location.strategy !== 'none',
            blockId: location.index !== undefined ? view.blocks[location.index].id : '',
            scrollTop: finite(scrollTop),
            elapsedMs: round1(now() - startedAt),
        };
        if (location.reason) result.reason = location.reason;
        return result;
    }

    /**
     * Sets a render's source line target once the blocks are in, or when
     * the page gets a size.
     * @param {Location} location
     * @param {View} view
     */
    function applySource(location, view) {
        if (hasSize(geometry)) applyLocation(location, anchorView(view));
        else deferred = { kind: 'source', location, generation: view.generation };
    }

    /**
     * Restores an anchor after a render. Returns the report for the reply,
     * or undefined when the report comes later as an event (the page has no
     * size yet, or images and diagrams may still move the layout).
     * @param {View} view
     * @param {{anchor: any, startedAt: number}} target
     * @returns {RestoreReport | undefined}
     */
    function restoreAnchor(view, target) {
        cancelPin();
        if (!isValidAnchor(target.anchor)) {
            return report({ strategy: 'none', reason: 'invalidAnchor' }, view, target.startedAt, geometry.scrollTop());
        }
        if (!hasSize(geometry)) {
            deferred = { kind: 'anchor', anchor: target.anchor, startedAt: target.startedAt, generation: view.generation };
            return undefined;
        }
        const location = locateAnchor(target.anchor, anchorView(view));
        const scrollTop = location.strategy === 'none' ? geometry.scrollTop() : applyLocation(location, anchorView(view));
        if (location.strategy !== 'none' && lateLayoutPending(view)) {
            startPin(view, location, target.startedAt);
            return undefined;
        }
        return report(location, view, target.startedAt, scrollTop);
    }

    /**
     * Shows the reader's place as soon as its block exists; the final
     * position is set once every block is in.
     * @param {View} view
     * @param {Target} target
     * @param {number} targetIndex
     */
    function preview(view, target, targetIndex) {
        if (targetIndex < 0 || targetIndex >= view.count || !hasSize(geometry)) return;
        if (target.kind === 'source') applyLocation(target.location, anchorView(view));
        else {
            const location = locateAnchor(target.anchor, anchorView(view));
            if (location.index !== undefined) applyLocation(location, anchorView(view));
        }
    }

    /** @param {View} view */
    function lateLayoutPending(view) {
        if (diagrams.pending > 0) return true;
        for (const img of view.article.querySelectorAll('img')) if (!img.complete) return true;
        return false;
    }

    /**
     * Keeps the restored place while late images and diagrams change the
     * layout, until they are done, the reader scrolls, or time runs out.
     * @param {View} view
     * @param {Location} location
     * @param {number} startedAt
     */
    function startPin(view, location, startedAt) {
        const started = { view, location, startedAt, timer: /** @type {ReturnType<typeof setTimeout> | null} */ (null) };
        started.timer = win.setTimeout(() => finishPin(started), PIN_LIMIT_MS);
        pin = started;
    }

    /** @param {NonNullable<typeof pin>} finished */
    function finishPin(finished) {
        if (pin !== finished) return;
        pin = null;
        if (finished.timer !== null) win.clearTimeout(finished.timer);
        const scrollTop = state.view === finished.view
            ? applyLocation(finished.location, anchorView(finished.view)) : geometry.scrollTop();
        post('anchorRestored', report(finished.location, finished.view, finished.startedAt, scrollTop));
    }

    // The reader took over: the place is reported where it is now.
    function cancelPin() {
        const cancelled = pin;
        if (!cancelled) return;
        pin = null;
        if (cancelled.timer !== null) win.clearTimeout(cancelled.timer);
        post('anchorRestored', report(cancelled.location, cancelled.view, cancelled.startedAt, geometry.scrollTop()));
    }

    // A newer render replaces the document: the older one's place, held or
    // waiting for a size, is no longer wanted and is not reported (the
    // reader would take the report for the newer render's).
    function forget() {
        deferred = null;
        const dropped = pin;
        pin = null;
        if (dropped && dropped.timer !== null) win.clearTimeout(dropped.timer);
    }

    // An image or a diagram came in.
    function lateLayoutChanged() {
        const held = pin;
        if (!held || state.view !== held.view) return;
        applyLocation(held.location, anchorView(held.view));
        if (!lateLayoutPending(held.view)) finishPin(held);
    }

    // The page got a size.
    function runDeferred() {
        const waiting = deferred;
        if (!waiting || !hasSize(geometry)) return;
        deferred = null;
        const view = state.view;
        if (!view || view.generation !== waiting.generation) return;
        if (waiting.kind === 'source') {
            applyLocation(waiting.location, anchorView(view));
            return;
        }
        const location = locateAnchor(waiting.anchor, anchorView(view));
        const scrollTop = location.strategy === 'none' ? geometry.scrollTop() : applyLocation(location, anchorView(view));
        if (location.strategy !== 'none' && lateLayoutPending(view)) startPin(view, location, waiting.startedAt);
        else post('anchorRestored', report(location, view, waiting.startedAt, scrollTop));
    }

    /**
     * Runs a change of the page's look (text size, fonts, widths, theme)
     * and keeps the text at the reading line where it was: the block there
     * is placed again at the same share of its height, since every block
     * above it may have changed height too.
     * @template T
     * @param {() => T} change
     * @returns {T}
     */
    function keepThrough(change) {
        const view = state.view;
        const anchor = view && hasSize(geometry) ? captureAnchor(anchorView(view)) : null;
        const result = change();
        if (view && anchor && state.view === view) {
            const location = locateAnchor(anchor, anchorView(view));
            if (location.strategy !== 'none') applyLocation(location, anchorView(view));
        }
        return result;
    }

    function dispose() {
        if (pin?.timer != null) win.clearTimeout(pin.timer);
    }

    return { applySource, restoreAnchor, preview, cancelPin, forget, lateLayoutChanged, runDeferred, keepThrough, dispose };
}
