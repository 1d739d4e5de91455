// @ts-check
// Reading anchors: where the reader is, as a block, a position inside it and
// the scroll position, so that the place survives a re-render. The reading
// line is the top of the visible area below the top inset.

import { isPlainObject, isInteger, isFiniteNumber, finite } from './protocol.js';

/** @typedef {import('./state.js').Geometry} Geometry */
/** @typedef {import('./view.js').AnchorView} AnchorView */
/** @typedef {import('./restore.js').Location} Location */
/** @typedef {NonNullable<import('../protocol.js').Payloads['anchor']['anchor']>} Anchor */

export const ANCHOR_VERSION = 1;

// Positions are fractional and scroll offsets whole pixels.
const SUBPIXEL_SLACK = 1;
// Room kept below the end of the document beyond what it lost (see
// createGeometry).
const END_ROOM_SPARE = 96;

// Page geometry in CSS pixels, read from the live layout.
//
// It also keeps the reader's place. WebKit has no scroll anchoring, and a
// chunk of blocks that skips its contents (content-visibility) is laid out
// at its estimated height until it comes near the screen, when it takes its
// real one and moves everything below it. When a watched chunk wholly above
// the reading line changes height, the page scrolls by as much, before the
// frame is painted, so that what the reader sees stays where it was. The
// heights it compares with are those the layout had when the page last
// placed the view, or changed a block, itself (keepPlace).
/**
 * @param {Window & typeof globalThis} win
 * @param {Document} doc
 * @returns {Geometry}
 */
export function createGeometry(win, doc) {
    const scroller = () => doc.scrollingElement ?? doc.documentElement;
    /** @type {Set<Element>} */
    const chunks = new Set();
    /** @type {WeakMap<Element, number>} */
    const heights = new WeakMap();
    let readingLine = 0;
    // Scroll offsets are whole pixels: what a correction could not scroll
    // is carried to the next one.
    let carried = 0;
    // Near the end of the document, blocks below the reading line that the
    // page makes shorter (formulas typeset, a diagram drawn) shorten the
    // page, and the browser pulls the scroll position back with it: what
    // the reader sees would slide down. The page goes back where it was,
    // with as much room below the document's end as it lost; the room goes
    // as the reader scrolls up. (Chunks that take their real heights as they
    // come near cannot do it: the last chunks are laid out as they go in,
    // view.js.)
    let endRoom = 0;
    // The room is an element of its own after the content: changing its
    // height lays out nothing of the document.
    /** @type {HTMLElement | null} */
    let spacer = null;
    /** @param {number} room */
    const setEndRoom = (room) => {
        endRoom = room;
        if (room > 0 && !spacer?.isConnected && doc.body) {
            spacer = doc.createElement('div');
            spacer.className = 'md-end-room';
            spacer.setAttribute('aria-hidden', 'true');
            doc.body.append(spacer);
        }
        if (spacer) spacer.style.height = `${Math.ceil(room)}px`;
    };
    // Where the reader was at the last scroll, and where the page last put
    // the view itself (-1: the reader moved it since).
    let seenTop = 0;
    let ownTop = -1;
    const scrolledOwn = () => {
        ownTop = scroller().scrollTop;
    };
    const onScroll = () => {
        const element = scroller();
        const top = element.scrollTop;
        const up = top < seenTop && top !== ownTop;
        seenTop = top;
        if (top !== ownTop) ownTop = -1;
        if (endRoom <= 0 || !up) return;
        // As the reader goes up, only as much room as the position needs.
        const needed = Math.max(0, top + win.innerHeight - (element.scrollHeight - endRoom));
        if (needed < endRoom - 0.5) setEndRoom(needed);
    };
    win.addEventListener?.('scroll', onScroll, { passive: true });

    const rememberHeights = () => {
        for (const chunk of chunks) heights.set(chunk, chunk.getBoundingClientRect().height);
    };

    /** @param {ResizeObserverEntry[]} entries */
    const onResized = (entries) => {
        /** @type {{chunk: Element, delta: number}[]} */
        const changed = [];
        for (const entry of entries) {
            const chunk = entry.target;
            const height = entry.borderBoxSize?.[0]?.blockSize ?? entry.contentRect.height;
            const before = heights.get(chunk);
            heights.set(chunk, height);
            if (before === undefined || height === before || !chunk.isConnected) continue;
            if (chunk.closest('.md-staging')) continue;
            changed.push({ chunk, delta: height - before });
        }
        if (changed.length === 0 || win.innerHeight <= 0) return;
        const following = win.Node?.DOCUMENT_POSITION_FOLLOWING ?? 4;
        changed.sort((a, b) => (a.chunk.compareDocumentPosition(b.chunk) & following ? -1 : 1));
        let earlier = 0;
        let shift = 0;
        for (const { chunk, delta } of changed) {
            // Where the chunk's bottom was before these changes (a pixel's
            // slack: positions are fractional, scroll offsets whole).
            const bottom = chunk.getBoundingClientRect().bottom - earlier - delta;
            if (bottom <= readingLine + 1) shift += delta;
            earlier += delta;
        }
        // The correction has to land before this frame paints, so it is made
        // here and not a frame later (the reader would see the text jump and
        // come back). Scrolling may bring a chunk near the screen, which the
        // browser then lays out at its real height within this frame: it
        // holds that chunk's notification back to the next frame and reports
        // a "ResizeObserver loop" on the window, which the page ignores.
        scrollBy(shift);
    };
    /** @param {number} shift */
    const scrollBy = (shift) => {
        if (shift === 0) return;
        carried += shift;
        const whole = Math.round(carried);
        carried -= whole;
        if (whole !== 0) {
            scroller().scrollTop += whole;
            scrolledOwn();
        }
    };
    const observer = typeof win.ResizeObserver === 'function' ? new win.ResizeObserver(onResized) : null;

    return {
        scrollTop: () => scroller().scrollTop,
        setScrollTop(value) {
            if (endRoom > 0) setEndRoom(0);
            scroller().scrollTop = Math.round(value);
            scrolledOwn();
            carried = 0;
            rememberHeights();
        },
        // The browser placed the view for the page (scrollIntoView).
        didScroll() {
            scrolledOwn();
            carried = 0;
            rememberHeights();
        },
        // Whether the view is where the page last put it itself: the scroll
        // the browser tells of is then the page's own, not the reader's.
        ownScroll: () => ownTop >= 0 && scroller().scrollTop === ownTop,
        setReadingLine(top) {
            readingLine = top;
        },
        watchChunk(chunk) {
            if (!observer) return;
            chunks.add(chunk);
            observer.observe(chunk);
        },
        // A change the page makes itself inside blocks (a diagram shown,
        // formulas typeset) is measured as it is made, at the scroll
        // position it is made at: a chunk wholly above the reading line
        // scrolls the page by as much at once. The browser reports the new
        // height only at the next frame, when the reader (or a script) may
        // have scrolled elsewhere already, and that report must move
        // nothing: the chunk's remembered height takes the change now, with
        // any change of the chunk not reported yet. A chunk that skips its
        // contents keeps its size, and moves nothing until it comes near the
        // screen. The layout is read once before the change and once after
        // it, however many blocks change. A change that replaces the blocks
        // returns their replacements, in the same order.
        keepPlace(changed, change) {
            const elements = Array.isArray(changed) ? changed : [changed];
            if (win.innerHeight <= 0) {
                change();
                return;
            }
            /**
             * By chunk: its box before the change and, for a chunk that
             * holds the reading line, the block at the line (its place in
             * `elements` if it is one of them) and its top.
             * Else the changed blocks' boxes.
             * @type {Map<Element, {before: DOMRect, line: {element: Element, at: number, top: number} | null,
             *     blocks: {at: number, was: DOMRect}[]}>}
             */
            const byChunk = new Map();
            elements.forEach((element, at) => {
                const chunk = element.closest('.md-chunk');
                if (!chunk || !chunks.has(chunk) || chunk.closest('.md-staging')) return;
                const known = byChunk.get(chunk);
                if (known) {
                    known.blocks.push({ at, was: element.getBoundingClientRect() });
                    return;
                }
                const before = chunk.getBoundingClientRect();
                let line = null;
                // A chunk that comes near the screen may hold its estimated
                // size a while, its blocks laid out past its end: the blocks
                // tell where the reading line lies, not the chunk's box.
                if (before.top <= readingLine + 1) {
                    for (const block of Array.from(chunk.children)) {
                        const box = block.getBoundingClientRect();
                        if (box.bottom > readingLine + 1) {
                            line = { element: block, at: elements.indexOf(block), top: box.top };
                            break;
                        }
                    }
                }
                byChunk.set(chunk, { before, line, blocks: [{ at, was: element.getBoundingClientRect() }] });
            });
            const wasTop = scroller().scrollTop;
            const now = change() ?? elements;
            // Blocks made shorter at the end of the document pulled the page
            // back: it goes back, with the room it lost below the end.
            const pulled = wasTop - scroller().scrollTop;
            if (pulled > 0) {
                // A few lines more than it lost: the next blocks made shorter
                // there (formula after formula) change no style.
                setEndRoom(endRoom + pulled + END_ROOM_SPARE);
                scroller().scrollTop = wasTop;
                scrolledOwn();
            }
            let shift = 0;
            for (const [chunk, { before, line, blocks }] of byChunk) {
                const height = chunk.getBoundingClientRect().height;
                const known = heights.get(chunk) ?? before.height;
                heights.set(chunk, height);
                if (line) {
                    // The chunk holds the reading line: what the reader sees
                    // moved as far as the block at the line did.
                    const block = line.at >= 0 ? now[line.at] : line.element;
                    if (block?.isConnected) shift += block.getBoundingClientRect().top - line.top;
                    continue;
                }
                // Where the chunk's bottom was at the height last remembered.
                const bottom = before.bottom - (before.height - known);
                if (bottom <= readingLine + 1) {
                    shift += height - known;
                    continue;
                }
                // The line lies in the chunk but in no block of it (between
                // them): the changed blocks above it moved what follows.
                for (const { at, was } of blocks) {
                    const block = now[at];
                    if (was.bottom <= readingLine + 1 && block?.isConnected) {
                        shift += block.getBoundingClientRect().height - was.height;
                    }
                }
            }
            scrollBy(shift);
        },
        forgetChunk(chunk) {
            if (!observer || !chunks.delete(chunk)) return;
            observer.unobserve(chunk);
            // Its document goes, and the room below its end with it.
            if (endRoom > 0) setEndRoom(0);
        },
        dispose() {
            observer?.disconnect();
            chunks.clear();
            win.removeEventListener?.('scroll', onScroll);
        },
        maxScroll: () => Math.max(0, scroller().scrollHeight - win.innerHeight),
        viewportHeight: () => win.innerHeight,
        viewportWidth: () => win.innerWidth,
        top(element) {
            return element.getBoundingClientRect().top + scroller().scrollTop;
        },
        // Blocks in a chunk off screen are not laid out (content-visibility),
        // and measuring one lays out its whole chunk: the chunk's own box
        // answers whenever y lies outside it.
        topAtOrAbove(element, y) {
            const scroll = scroller().scrollTop;
            const chunk = element.parentElement;
            if (chunk && chunk.classList.contains('md-chunk')) {
                const box = chunk.getBoundingClientRect();
                if (box.bottom + scroll <= y) return true;
                if (box.top + scroll > y) return false;
            }
            return element.getBoundingClientRect().top + scroll <= y;
        },
        height(element) {
            return element.getBoundingClientRect().height;
        },
    };
}

// Whether an element's top lies at or above y.
/**
 * @param {Element} element
 * @param {number} y
 * @param {Geometry} geometry
 */
export function topAtOrAbove(element, y, geometry) {
    return geometry.topAtOrAbove ? geometry.topAtOrAbove(element, y) : geometry.top(element) <= y;
}

// Index of the last element whose top is at or above y (0 when none is).
// Elements are in document order, so their tops do not decrease.
/**
 * @param {Element[]} elements
 * @param {number} count
 * @param {number} y
 * @param {Geometry} geometry
 */
export function blockIndexAt(elements, count, y, geometry) {
    let low = 0;
    let high = count - 1;
    let found = 0;
    while (low <= high) {
        const mid = (low + high) >> 1;
        if (topAtOrAbove(elements[mid], y, geometry)) {
            found = mid;
            low = mid + 1;
        } else {
            high = mid - 1;
        }
    }
    return found;
}

/**
 * The texts of the headings a block sits under, outermost first.
 * @param {import('./state.js').Heading[]} headings
 * @param {number | undefined} headingIndex  the innermost one's; -1 or none
 *     before the first heading
 * @returns {string[]}
 */
export function headingPath(headings, headingIndex) {
    const path = [];
    let level = Infinity;
    for (let i = headingIndex ?? -1; i >= 0; i--) {
        if (headings[i].level < level) {
            path.unshift(headings[i].text);
            level = headings[i].level;
            if (level <= 1) break;
        }
    }
    return path;
}

/**
 * @param {AnchorView} view
 * @returns {Anchor | null}
 */
export function captureAnchor(view) {
    const { blocks, elements, count, geometry, insetTop } = view;
    if (count === 0) return null;
    const scrollTop = finite(geometry.scrollTop());
    const line = scrollTop + insetTop;
    // Scroll offsets are whole pixels and block positions are not: a block
    // scrolled to the reading line may sit a fraction of a pixel below it,
    // and is still the block being read.
    const index = blockIndexAt(elements, count, line + SUBPIXEL_SLACK, geometry);
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

/**
 * @param {unknown} anchor
 * @returns {anchor is Anchor}
 */
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
/**
 * @param {unknown} anchor  as the reader sent it
 * @param {AnchorView} view
 * @returns {Location}
 */
export function locateAnchor(anchor, view) {
    const { blocks, count, headings } = view;
    if (!isValidAnchor(anchor)) return { strategy: 'none', reason: 'invalidAnchor' };
    if (count === 0) return { strategy: 'none', reason: 'noContent' };

    const exact = view.indexOf(anchor.blockId);
    if (exact !== undefined && exact < count && blocks[exact].fp === anchor.fingerprint) {
        return withLimit({ strategy: 'exact', index: exact, fraction: anchor.relativeOffset, offsetPx: anchor.offsetPx }, anchor);
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
        if (best >= 0) return withLimit({ strategy: 'fingerprint', index: best, fraction: anchor.relativeOffset, offsetPx: anchor.offsetPx }, anchor);
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

// A reading line at or above the top of the first block (the page's own
// margin above it, at the top of the document) is kept where it was: the
// block's top alone would bring the reader back that margin lower.
/**
 * @param {Location} location
 * @param {Anchor} anchor
 * @returns {Location}
 */
function withLimit(location, anchor) {
    if (location.index !== 0 || anchor.offsetPx > 0 || anchor.relativeOffset > 0) return location;
    return { ...location, scrollLimit: Math.max(0, anchor.scrollTop) };
}

// Scrolls to a located anchor; returns the scroll position it set. A
// location of strategy "none" is never applied: every other has a ratio or
// an index.
/**
 * @param {Location} location
 * @param {AnchorView} view
 */
export function applyLocation(location, view) {
    const { elements, geometry, insetTop } = view;
    let target;
    if (location.strategy === 'ratio') {
        target = /** @type {number} */ (location.ratio) * geometry.maxScroll();
    } else {
        const index = /** @type {number} */ (location.index);
        const fraction = /** @type {number} */ (location.fraction);
        const element = elements[index];
        const top = finite(geometry.top(element));
        const height = finite(geometry.height(element));
        let offset = fraction * height;

        // A reading line in the space below a block (its margin) was taken as
        // the block's end: the pixels past the end stay, up to the next block.
        if (fraction >= 1 && isFiniteNumber(location.offsetPx) && location.offsetPx > height) {
            const next = index + 1 < view.count ? elements[index + 1] : null;
            const room = next ? finite(geometry.top(next)) - top : location.offsetPx;
            offset = Math.max(height, Math.min(location.offsetPx, room));
        }
        target = top + offset - insetTop;
        if (location.scrollLimit !== undefined) target = Math.min(target, location.scrollLimit);
    }
    target = Math.max(0, Math.min(finite(target), Math.max(0, finite(geometry.maxScroll()))));
    geometry.setScrollTop(target);
    return finite(geometry.scrollTop());
}
