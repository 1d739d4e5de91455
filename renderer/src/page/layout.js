// @ts-check
// The page's layout as the reader sees it: the layout report (overflowing
// and wide blocks), the active heading, the width full-width blocks are
// sized from, and the warm-up layout before the first document.

import { blockIndexAt, topAtOrAbove } from './anchors.js';
import { finite } from './protocol.js';

/** @typedef {import('./state.js').PageState} PageState */
/** @typedef {import('./state.js').Geometry} Geometry */

const OVERFLOW_CANDIDATES = new Set(['code', 'table', 'math', 'diagram', 'html', 'plain', 'paragraph']);
const LAYOUT_DELAY_MS = 50;
const SCROLL_DELAY_MS = 80;
// KaTeX's faces. Each face that finishes loading while a long document is
// on the page makes the browser restyle the whole document; loaded before,
// they cost nothing then.
const MATH_FACES = [
    '1em KaTeX_Main', 'italic 1em KaTeX_Main', 'bold 1em KaTeX_Main', 'bold italic 1em KaTeX_Main',
    'italic 1em KaTeX_Math', 'bold italic 1em KaTeX_Math', '1em KaTeX_AMS',
    '1em KaTeX_Size1', '1em KaTeX_Size2', '1em KaTeX_Size3', '1em KaTeX_Size4',
    '1em KaTeX_Caligraphic', '1em KaTeX_Fraktur', '1em KaTeX_SansSerif', '1em KaTeX_Script', '1em KaTeX_Typewriter',
];
// Typeset math (an inline and a display formula, as the worker makes them),
// laid out with the warm-up document; the build puts it in.
const MATH_WARMUP = typeof __MATH_WARMUP__ === 'string' ? __MATH_WARMUP__ : '';

/** @param {Geometry} geometry */
export function hasSize(geometry) {
    return geometry.viewportHeight() > 0 && geometry.viewportWidth() > 0;
}

/**
 * @param {Document} doc
 * @param {Geometry} geometry
 */
export function isHidden(doc, geometry) {
    return doc.visibilityState === 'hidden' || !hasSize(geometry);
}

/**
 * @param {object} parts
 * @param {Window & typeof globalThis} parts.win
 * @param {Document} parts.doc
 * @param {Geometry} parts.geometry
 * @param {{settings: {wideBlocks: string}}} parts.typography
 * @param {PageState} parts.state
 * @param {import('./page.js').Post} parts.post
 */
export function createLayout({ win, doc, geometry, typography, state, post }) {
    const root = doc.documentElement;
    let availableWidth = -1;
    /** @type {ReturnType<typeof setTimeout> | null} */
    let layoutTimer = null;
    let layoutReason = 'resize';
    /** @type {ReturnType<typeof setTimeout> | null} */
    let scrollTimer = null;
    /** @type {HTMLElement | null} */
    let warmBox = null;

    /** @param {boolean} [force]  reports the heading even when unchanged */
    function updateActiveHeading(force = false) {
        const view = state.view;
        if (!view || view.headingBlocks.length === 0) return;
        const line = geometry.scrollTop() + state.insets.top + 1;
        let active = -1;
        let low = 0;
        let high = view.headingBlocks.length - 1;
        while (low <= high) {
            const mid = (low + high) >> 1;
            const element = view.elements[view.headingBlocks[mid]];
            if (element && topAtOrAbove(element, line, geometry)) {
                active = mid;
                low = mid + 1;
            } else {
                high = mid - 1;
            }
        }
        if (active < 0 && view.headingBlocks.length > 0 && view.elements[view.headingBlocks[0]]) active = 0;
        if (active < 0 || (active === state.activeHeading && !force)) return;
        state.activeHeading = active;
        post('activeHeading', { id: view.headings[active].id, index: active });
    }

    /** @param {string} id */
    function cssEscape(id) {
        return win.CSS && typeof win.CSS.escape === 'function' ? win.CSS.escape(id) : id.replace(/[^A-Za-z0-9_-]/g, (c) => `\\${c}`);
    }

    // Full-width blocks are sized from the available width. Writing the
    // property on the root restyles every element of the page (most of a
    // second on a long document), so it is written only while wide blocks
    // are full, and only when it changed; before any measurement.
    function syncAvailableWidth() {
        const available = Math.max(0, root.clientWidth);
        if (available > 0 && available !== availableWidth && typography.settings.wideBlocks === 'full') {
            availableWidth = available;
            root.style.setProperty('--md-available-width', `${available}px`);
        }
        return available;
    }

    /** @param {string} reason */
    function sendReport(reason) {
        // A page without a size has no layout to speak of; it reports once
        // it gets one.
        if (!hasSize(geometry)) return;
        const view = state.view;
        const available = syncAvailableWidth();
        const overflowing = [];
        const wide = [];
        const proseWidth = view ? view.article.clientWidth : 0;
        if (view && view.count > 0) {
            // Only blocks on screen are measured: measuring inside a block
            // that is off screen (and so not laid out) costs a layout of its
            // own, each time.
            const top = geometry.scrollTop();
            const first = Math.max(0, blockIndexAt(view.elements, view.count, top, geometry) - 2);
            const last = Math.min(view.count - 1, blockIndexAt(view.elements, view.count, top + geometry.viewportHeight(), geometry) + 2);
            for (let i = first; i <= last; i++) {
                const block = view.blocks[i];
                if (!OVERFLOW_CANDIDATES.has(block.kind)) continue;
                const element = view.elements[i];
                const scroller = element.querySelector(':scope > pre') ?? element;
                const selector = `#${cssEscape(block.id)}`;
                if (scroller.scrollWidth > scroller.clientWidth + 1 && overflowing.length < 50) {
                    overflowing.push({ kind: block.kind, selector, scrollWidth: scroller.scrollWidth, clientWidth: scroller.clientWidth });
                }
                const width = geometry.width ? geometry.width(element) : element.getBoundingClientRect().width;
                if (width > proseWidth + 1 && wide.length < 50) wide.push({ kind: block.kind, selector, width: finite(width) });
            }
        }
        post('layoutReport', {
            pageScrollWidth: finite(root.scrollWidth),
            clientWidth: finite(root.clientWidth),
            overflowingBlocks: overflowing,
            proseWidth: finite(proseWidth),
            availableWidth: finite(available),
            wideBlocks: wide,
            reason,
        });
    }

    /**
     * A report shortly, for the latest reason.
     * @param {string} reason
     */
    function scheduleReport(reason) {
        layoutReason = reason;
        if (layoutTimer !== null) return;
        layoutTimer = win.setTimeout(() => {
            layoutTimer = null;
            sendReport(layoutReason);
        }, LAYOUT_DELAY_MS);
    }

    function onScroll() {
        if (scrollTimer !== null) return;
        scrollTimer = win.setTimeout(() => {
            scrollTimer = null;
            updateActiveHeading();
        }, SCROLL_DELAY_MS);
    }

    /**
     * The first layout in a new web process (fonts, text shaping, the
     * page's style rules) costs several times a later one, and so does the
     * first layout in each language (fonts are chosen per language). The
     * parse worker's warm-up document is laid out once in each language the
     * reader asks for, out of sight, as soon as it arrives, so that the
     * first screen of the first document does not pay for it. Typeset math
     * comes with it, with KaTeX's faces: the first formulas a page lays
     * out cost a frame of about a tenth of a second otherwise.
     * @param {{html?: unknown} | null | undefined} result
     */
    function warm(result) {
        if (state.view || state.activeRender || !result || typeof result.html !== 'string') return;
        endWarm();
        preloadMathFonts();
        const box = doc.createElement('div');
        box.className = 'md-warm';
        box.setAttribute('aria-hidden', 'true');
        for (const language of ['en', 'zh-Hans']) {
            const article = doc.createElement('article');
            article.className = 'md-doc';
            article.lang = language;
            const chunk = doc.createElement('div');
            chunk.className = 'md-chunk';
            chunk.innerHTML = result.html + MATH_WARMUP;
            article.append(chunk);
            box.append(article);
        }
        doc.body.append(box);
        warmBox = box;
        box.getBoundingClientRect();
        // The math fonts it asked for load meanwhile; once they are in, the
        // text is laid out again with them.
        const fonts = doc.fonts?.ready;
        if (!fonts) {
            endWarm();
            return;
        }
        fonts.then(() => {
            if (warmBox !== box) return;
            box.getBoundingClientRect();
            endWarm();
        }, endWarm);
    }

    let mathFontsAsked = false;
    /**
     * A document with math: the faces its formulas use most start loading
     * now, while the worker typesets them, rather than when the typeset
     * blocks are first laid out, which would show them blank for a moment.
     */
    function preloadMathFonts() {
        if (mathFontsAsked || typeof doc.fonts?.load !== 'function') return;
        mathFontsAsked = true;
        for (const face of MATH_FACES) doc.fonts.load(face).catch(() => {});
    }

    function endWarm() {
        warmBox?.remove();
        warmBox = null;
    }

    function dispose() {
        if (layoutTimer !== null) win.clearTimeout(layoutTimer);
        if (scrollTimer !== null) win.clearTimeout(scrollTimer);
    }

    return {
        updateActiveHeading, syncAvailableWidth, sendReport, scheduleReport, onScroll, warm, endWarm, preloadMathFonts, dispose,
    };
}
