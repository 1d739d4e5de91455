import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { JSDOM } from 'jsdom';
import { createGeometry } from '../src/page/anchors.js';
import { createDiagrams } from '../src/page/diagrams.js';

// Three chunks of 1000, 1000 and 3000 px, stacked from the top of the page.
// A diagram placeholder is 40 px until its diagram is shown (150 px) or has
// failed (100 px); `grown` adds pixels to a chunk as a loaded image would.
// The browser's ResizeObserver is stood in for: `frame()` reports what
// changed since its last report, as a frame does.
function pageWithChunks() {
    const dom = new JSDOM('<!doctype html><html><body><main id="content"><article class="md-doc"></article></main></body></html>');
    const doc = dom.window.document;
    const article = doc.querySelector('.md-doc');
    const base = [1000, 1000, 3000];
    const grown = [0, 0, 0];
    const chunks = base.map(() => {
        const chunk = doc.createElement('div');
        chunk.className = 'md-chunk';
        article.append(chunk);
        return chunk;
    });
    const extra = { pending: 40, done: 150, failed: 100 };
    const heightOf = (k) => base[k] + grown[k]
        + Array.from(chunks[k].querySelectorAll('[data-diagram]'), (d) => extra[d.getAttribute('data-state') ?? 'pending']).reduce((a, b) => a + b, 0);
    const scroller = doc.documentElement;
    Object.defineProperty(doc, 'scrollingElement', { get: () => scroller });
    chunks.forEach((chunk, k) => {
        chunk.getBoundingClientRect = () => {
            let top = -scroller.scrollTop;
            for (let i = 0; i < k; i++) top += heightOf(i);
            const height = heightOf(k);
            return { top, bottom: top + height, height, left: 0, right: 900, width: 900, x: 0, y: top };
        };
    });

    /** @type {{callback: Function, reported: Map<Element, number>}[]} */
    const observers = [];
    class FakeResizeObserver {
        constructor(callback) {
            this.entry = { callback, reported: new Map(), targets: [] };
            observers.push(this.entry);
        }
        observe(target) { this.entry.targets.push(target); }
        unobserve(target) { this.entry.targets = this.entry.targets.filter((t) => t !== target); }
        disconnect() { this.entry.targets = []; }
    }
    const win = { ResizeObserver: FakeResizeObserver, innerHeight: 700, innerWidth: 900, Node: dom.window.Node };
    const geometry = createGeometry(/** @type {any} */ (win), doc);
    chunks.forEach((chunk) => geometry.watchChunk(chunk));

    function frame() {
        for (const observer of observers) {
            const entries = [];
            for (const target of observer.targets) {
                const height = target.getBoundingClientRect().height;
                if (observer.reported.get(target) === height) continue;
                observer.reported.set(target, height);
                entries.push({ target, borderBoxSize: [{ blockSize: height }], contentRect: { height } });
            }
            if (entries.length > 0) observer.callback(entries);
        }
    }

    function addDiagram(k, id) {
        const element = doc.createElement('div');
        element.className = 'md-diagram';
        element.setAttribute('data-diagram', id);
        chunks[k].prepend(element);
        // At the top of its chunk.
        element.getBoundingClientRect = () => {
            const top = chunks[k].getBoundingClientRect().top;
            const height = extra[element.getAttribute('data-state') ?? 'pending'];
            return { top, bottom: top + height, height, left: 0, right: 900, width: 900, x: 0, y: top };
        };
        return element;
    }

    const diagrams = createDiagrams({
        doc,
        post: () => {},
        sanitizeSVG: (text) => new dom.window.DOMParser().parseFromString(text, 'image/svg+xml').documentElement,
        themeVariables: () => ({}),
        themeKey: () => 'theme',
        now: () => 0,
        texts: () => ({ diagramFailed: 'failed' }),
        keepPlace: geometry.keepPlace,
    });

    return { doc, geometry, scroller, grown, frame, addDiagram, diagrams };
}

const SVG = '<svg xmlns="http://www.w3.org/2000/svg"><text>A</text></svg>';

describe('a late diagram keeps the reader where they are', () => {
    const cases = [
        // Above the reading line: the page scrolls by the growth at once.
        { name: 'a diagram shown above the reading line', chunk: 0, scroll: 1500, result: { svg: SVG }, moved: 110 },
        { name: 'a diagram that failed above the reading line', chunk: 1, scroll: 2500, result: { error: { message: 'bad' } }, moved: 60 },
        // In the chunk the reader is in, above the reading line: the page
        // scrolls by the diagram's growth (a heading just scrolled to stays).
        { name: 'a diagram above the reading line in its chunk', chunk: 0, scroll: 500, result: { svg: SVG }, moved: 110 },
        // In the chunk the reader is in, below the reading line, or below
        // it, nothing moves.
        { name: 'a diagram in the chunk of the reading line', chunk: 0, scroll: 0, result: { svg: SVG }, moved: 0 },
        { name: 'a diagram below the reading line', chunk: 2, scroll: 1200, result: { svg: SVG }, moved: 0 },
        // The chunk had grown before the diagram came (an image), and the
        // browser has not reported it yet: it is taken with the diagram,
        // where the reader is then.
        { name: 'an unreported change above the reading line', chunk: 0, grown: 50, scroll: 1500, result: { svg: SVG }, moved: 160 },
        { name: 'an unreported change holding the reading line', chunk: 0, grown: 50, scroll: 0, result: { svg: SVG }, moved: 0 },
    ];
    for (const c of cases) {
        test(c.name, () => {
            const p = pageWithChunks();
            const element = p.addDiagram(c.chunk, 'D1');
            p.frame();
            p.geometry.setScrollTop(c.scroll);
            p.grown[c.chunk] = c.grown ?? 0;
            p.diagrams.setTotal(1);
            p.diagrams.request([element], new Map([['D1', 'graph TD']]));
            assert.equal(p.diagrams.apply({ diagramID: 'D1', ...c.result }).accepted, true);
            assert.equal(p.scroller.scrollTop, c.scroll + c.moved);

            // Before the browser reports the new height, something else
            // places the view: the report must not move it again.
            p.scroller.scrollTop = 3200;
            p.frame();
            assert.equal(p.scroller.scrollTop, 3200);
        });
    }
});

// One chunk of blocks stacked from the top of the page, each as tall as its
// data-height; a block taken out of the page has no box, as in a browser.
function pageWithBlocks(heights) {
    const dom = new JSDOM('<!doctype html><html><body><main id="content"><article class="md-doc"><div class="md-chunk"></div></article></main></body></html>');
    const doc = dom.window.document;
    const scroller = doc.documentElement;
    Object.defineProperty(doc, 'scrollingElement', { get: () => scroller });
    const chunk = doc.querySelector('.md-chunk');
    const box = (top, height) => ({ top, bottom: top + height, height, left: 0, right: 900, width: 900, x: 0, y: top });
    const heightOf = (element) => Number(element.getAttribute('data-height'));
    const block = (height) => {
        const element = doc.createElement('p');
        element.setAttribute('data-height', String(height));
        element.getBoundingClientRect = () => {
            if (!element.isConnected) return box(0, 0);
            let top = -scroller.scrollTop;
            for (let other = element.previousElementSibling; other; other = other.previousElementSibling) top += heightOf(other);
            return box(top, heightOf(element));
        };
        return element;
    };
    chunk.getBoundingClientRect = () => box(-scroller.scrollTop, Array.from(chunk.children, heightOf).reduce((a, b) => a + b, 0));
    const blocks = heights.map((height) => chunk.appendChild(block(height)));
    const win = { ResizeObserver: class { observe() {} unobserve() {} disconnect() {} }, innerHeight: 700, innerWidth: 900, Node: dom.window.Node };
    const geometry = createGeometry(/** @type {any} */ (win), doc);
    geometry.watchChunk(chunk);
    return { geometry, scroller, blocks, block };
}

describe('blocks replaced in the chunk of the reading line keep the reader where they are', () => {
    // Blocks of 100, 300 and 200 px; the reading line 150 px down, in the
    // second block. Each case replaces some blocks (by index) with blocks of
    // the given heights, all in one change, as dressing does.
    const cases = [
        // The block at the line and a block above it that grows by 200:
        // the text at the line moves down 200, and the page with it.
        { name: 'the block at the line and a taller one above it', replaced: { 0: 300, 1: 300 }, moved: 200 },
        { name: 'the block at the line grown taller with a taller one above it', replaced: { 0: 300, 1: 500 }, moved: 200 },
        { name: 'a taller block above the line alone', replaced: { 0: 300 }, moved: 200 },
        // Growth below the line's top moves nothing the reader sees.
        { name: 'the block at the line alone, taller', replaced: { 1: 500 }, moved: 0 },
        { name: 'the block at the line and a taller one below it', replaced: { 1: 300, 2: 400 }, moved: 0 },
    ];
    for (const c of cases) {
        test(c.name, () => {
            const p = pageWithBlocks([100, 300, 200]);
            p.geometry.setScrollTop(150);
            const indexes = Object.keys(c.replaced).map(Number);
            p.geometry.keepPlace(indexes.map((i) => p.blocks[i]), () => indexes.map((i) => {
                const replacement = p.block(c.replaced[i]);
                p.blocks[i].replaceWith(replacement);
                return replacement;
            }));
            assert.equal(p.scroller.scrollTop, 150 + c.moved);
        });
    }
});

// Chunks of 1000, 1000 and 3000 px in a window 700 px high. The page's
// height is the chunks' and the room below #content; like a browser, the
// scroll position is pulled back when the page gets shorter.
function pageWithAnEnd() {
    const dom = new JSDOM('<!doctype html><html><body><main id="content"><article class="md-doc"></article></main></body></html>');
    const doc = dom.window.document;
    const content = /** @type {HTMLElement} */ (doc.getElementById('content'));
    const heights = [1000, 1000, 3000];
    const chunks = heights.map(() => /** @type {Element} */ (content.firstElementChild).appendChild(doc.createElement('div')));
    const room = () => parseFloat(/** @type {HTMLElement | null} */ (doc.querySelector('.md-end-room'))?.style.height ?? '') || 0;
    const pageHeight = () => heights.reduce((a, b) => a + b, 0) + room();
    const scroller = doc.documentElement;
    let stored = 0;
    Object.defineProperty(doc, 'scrollingElement', { get: () => scroller });
    Object.defineProperty(scroller, 'scrollHeight', { get: pageHeight });
    Object.defineProperty(scroller, 'scrollTop', {
        get: () => (stored = Math.max(0, Math.min(stored, pageHeight() - 700))),
        set: (value) => { stored = Math.max(0, Math.min(value, pageHeight() - 700)); },
    });
    chunks.forEach((chunk, k) => {
        chunk.className = 'md-chunk';
        chunk.getBoundingClientRect = () => {
            const top = heights.slice(0, k).reduce((a, b) => a + b, 0) - scroller.scrollTop;
            return /** @type {DOMRect} */ ({ top, bottom: top + heights[k], height: heights[k], left: 0, right: 900, width: 900, x: 0, y: top });
        };
    });
    /** @type {Record<string, () => void>} */
    const listeners = {};
    const win = {
        ResizeObserver: class { observe() {} unobserve() {} disconnect() {} },
        addEventListener: (/** @type {string} */ type, /** @type {() => void} */ fn) => { listeners[type] = fn; },
        removeEventListener: () => {},
        innerHeight: 700,
        innerWidth: 900,
        Node: dom.window.Node,
    };
    const geometry = createGeometry(/** @type {any} */ (win), doc);
    chunks.forEach((chunk) => geometry.watchChunk?.(chunk));
    return {
        geometry, scroller, chunks, heights, room,
        // The reader scrolls there; the browser tells the page.
        /** @param {number} top */
        scrollTo(top) {
            scroller.scrollTop = top;
            listeners.scroll();
        },
        // The browser tells of a scroll, whoever made it.
        told: () => listeners.scroll(),
    };
}

describe('at the end of the document the text under the reader stays where it is', () => {
    test('while blocks below the reading line are made shorter; the room it takes goes as the reader scrolls up', () => {
        const p = pageWithAnEnd();
        p.scrollTo(4300);
        const block = p.chunks[2].appendChild(p.chunks[2].ownerDocument.createElement('p'));
        block.getBoundingClientRect = () => /** @type {DOMRect} */ ({ top: -300, bottom: 2700, height: 3000, left: 0, right: 900, width: 900, x: 0, y: -300 });
        p.geometry.keepPlace?.([block], () => { p.heights[2] = 2600; });
        assert.equal(p.scroller.scrollTop, 4300);
        const room = p.room();
        assert.ok(room >= 400 && room <= 600, `${room} px`);
        // Made shorter again by less than the spare room: nothing changes.
        p.geometry.keepPlace?.([block], () => { p.heights[2] = 2590; });
        assert.equal(p.scroller.scrollTop, 4300);
        assert.equal(p.room(), room);
        // The page scrolls itself, keeping the reading line while a block
        // above it gets shorter: its own scroll, which takes no room.
        p.geometry.keepPlace?.([p.chunks[0]], () => { p.heights[0] = 990; });
        assert.equal(p.scroller.scrollTop, 4290);
        p.told();
        assert.equal(p.geometry.ownScroll?.(), true);
        assert.equal(p.room(), room);
        // Scrolling down keeps it; as the reader goes up, it goes.
        p.scrollTo(4400);
        assert.equal(p.geometry.ownScroll?.(), false);
        assert.equal(p.room(), room);
        p.scrollTo(4090);
        assert.equal(p.room(), 210);
        p.scrollTo(1000);
        assert.equal(p.room(), 0);
        // A new document's chunks replace these: no room is left below it.
        p.scrollTo(4300);
        p.geometry.keepPlace?.([block], () => { p.heights[2] = 2500; });
        assert.ok(p.room() > 0);
        p.geometry.forgetChunk?.(p.chunks[2]);
        assert.equal(p.room(), 0);
    });
});
