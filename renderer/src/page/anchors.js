// Reading anchors: where the reader is, as a block, a position inside it and
// the scroll position, so that the place survives a re-render. The reading
// line is the top of the visible area below the top inset.

import { isPlainObject, isInteger, isFiniteNumber, finite } from './protocol.js';

export const ANCHOR_VERSION = 1;

// Page geometry in CSS pixels, read from the live layout.
export function createGeometry(win, doc) {
    const scroller = () => doc.scrollingElement ?? doc.documentElement;
    return {
        scrollTop: () => scroller().scrollTop,
        setScrollTop(value) {
            scroller().scrollTop = value;
        },
        maxScroll: () => Math.max(0, scroller().scrollHeight - win.innerHeight),
        viewportHeight: () => win.innerHeight,
        viewportWidth: () => win.innerWidth,
        top(element) {
            return element.getBoundingClientRect().top + scroller().scrollTop;
        },
        height(element) {
            return element.getBoundingClientRect().height;
        },
    };
}

// Index of the last element whose top is at or above y (0 when none is).
// Elements are in document order, so their tops do not decrease.
export function blockIndexAt(elements, count, y, geometry) {
    let low = 0;
    let high = count - 1;
    let found = 0;
    while (low <= high) {
        const mid = (low + high) >> 1;
        if (geometry.top(elements[mid]) <= y) {
            found = mid;
            low = mid + 1;
        } else {
            high = mid - 1;
        }
    }
    return found;
}

export function headingPath(headings, headingIndex) {
    const path = [];
    let level = Infinity;
    for (let i = headingIndex; i >= 0; i--) {
        if (headings[i].level < level) {
            path.unshift(headings[i].text);
            level = headings[i].level;
            if (level <= 1) break;
        }
    }
    return path;
}

// view: {blocks, elements, count, headings, geometry, insetTop}
export function captureAnchor(view) {
    const { blocks, elements, count, geometry, insetTop } = view;
    if (count === 0) return null;
    const scrollTop = finite(geometry.scrollTop());
    const line = scrollTop + insetTop;
    const index = blockIndexAt(elements, count, line, geometry);
    const block = blocks[index];
    const element = elements[index];
    const top = finite(geometry.top(element));
    const height = finite(geometry.height(element));
    const offsetPx = Math.max(0, line - top);
    const maxScroll = finite(geometry.maxScroll());
    return {
        version: ANCHOR_VERSION,
        blockId: block.id,
        kind: block.kind,
        fingerprint: block.fp,
        headingPath: headingPath(view.headings, block.heading),
        sourceRange: { start: block.start, end: block.end },
        relativeOffset: height > 0 ? Math.min(1, offsetPx / height) : 0,
        offsetPx,
        scrollTop,
        scrollRatio: maxScroll > 0 ? Math.min(1, Math.max(0, scrollTop / maxScroll)) : 0,
    };
}

export function isValidAnchor(anchor) {
    return isPlainObject(anchor)
        && isInteger(anchor.version)
        && typeof anchor.blockId === 'string'
        && typeof anchor.kind === 'string'
        && typeof anchor.fingerprint === 'string'
        && Array.isArray(anchor.headingPath) && anchor.headingPath.every((item) => typeof item === 'string')
        && isPlainObject(anchor.sourceRange)
        && isInteger(anchor.sourceRange.start) && isInteger(anchor.sourceRange.end)
        && ['relativeOffset', 'offsetPx', 'scrollTop', 'scrollRatio'].every((key) => isFiniteNumber(anchor[key]));
}

// Finds where an anchor points in the current blocks: exact (same id and
// fingerprint), fingerprint (the same content elsewhere, nearest to the old
// lines), heading (the innermost heading of its path), ratio, or none.
export function locateAnchor(anchor, view) {
    const { blocks, count, headings } = view;
    if (!isValidAnchor(anchor)) return { strategy: 'none', reason: 'invalidAnchor' };
    if (count === 0) return { strategy: 'none', reason: 'noContent' };

    const exact = view.indexOf(anchor.blockId);
    if (exact !== undefined && exact < count && blocks[exact].fp === anchor.fingerprint) {
        return { strategy: 'exact', index: exact, fraction: anchor.relativeOffset };
    }
    if (anchor.fingerprint !== '') {
        let best = -1;
        let distance = Infinity;
        for (let i = 0; i < count; i++) {
            if (blocks[i].fp !== anchor.fingerprint) continue;
            const d = Math.abs(blocks[i].start - anchor.sourceRange.start);
            if (d < distance) {
                best = i;
                distance = d;
            }
        }
        if (best >= 0) return { strategy: 'fingerprint', index: best, fraction: anchor.relativeOffset };
    }
    for (let p = anchor.headingPath.length - 1; p >= 0; p--) {
        const name = anchor.headingPath[p];
        let best = -1;
        let distance = Infinity;
        for (let h = 0; h < headings.length; h++) {
            if (headings[h].text !== name) continue;
            const index = view.indexOf(headings[h].id);
            if (index === undefined || index >= count) continue;
            const d = Math.abs(blocks[index].start - anchor.sourceRange.start);
            if (d < distance) {
                best = index;
                distance = d;
            }
        }
        if (best >= 0) return { strategy: 'heading', index: best, fraction: 0 };
    }
    return { strategy: 'ratio', ratio: Math.min(1, Math.max(0, anchor.scrollRatio)) };
}

// Scrolls to a located anchor; returns the scroll position it set.
export function applyLocation(location, view) {
    const { elements, geometry, insetTop } = view;
    let target;
    if (location.strategy === 'ratio') {
        target = location.ratio * geometry.maxScroll();
    } else {
        const element = elements[location.index];
        target = geometry.top(element) + location.fraction * geometry.height(element) - insetTop;
    }
    target = Math.max(0, Math.min(finite(target), Math.max(0, finite(geometry.maxScroll()))));
    geometry.setScrollTop(target);
    return finite(geometry.scrollTop());
}
