// The parse worker: Markdown text in, block list out. The same module can be
// imported by the page itself when module workers are unavailable.
//
// highlight.js and KaTeX are not part of this module: they come as chunks of
// their own, loaded when a document needs them (see parse/highlight.js).

import { parseDocument } from './parse/document.js';
import { headCut } from './parse/head.js';
import { loadLanguages } from './parse/highlight.js';
import { loadMath, MATH } from './parse/markdown.js';
import { shownText } from './parse/text.js';

/** @typedef {import('./parse/document.js').Deferred} Deferred */

// Loads the code behind `keys` (MATH and highlight.js languages).
/** @param {Set<string>} keys */
export async function loadNeeds(keys) {
    const languages = [...keys].filter((key) => key !== MATH);
    await Promise.all([keys.has(MATH) ? loadMath() : null, loadLanguages(languages)]);
}

// parseDocument with the code it needs loaded: a parse that lacked some loads
// it and runs again (once; the same source needs the same code). The entries
// of `later`, when given, need `needs.later` loaded before they are called.
/**
 * @param {string} source
 * @param {import('./parse/document.js').ParseOptions} options
 * @param {Deferred[]} [later]
 * @returns {Promise<{result: import('./page/state.js').ParseResult, needs: import('./parse/document.js').Needs}>}
 */
export async function parseLoaded(source, options, later) {
    for (let attempt = 0; ; attempt++) {
        /** @type {import('./parse/document.js').Needs} */
        const needs = { missing: new Set(), later: new Set() };
        /** @type {Deferred[] | undefined} */
        const entries = later ? [] : undefined;
        const result = parseDocument(source, options, entries, needs);
        if (needs.missing.size === 0) {
            if (later && entries) later.push(...entries);
            return { result, needs };
        }
        if (attempt > 0) throw new Error('highlighting or math code missing after loading it');
        await loadNeeds(needs.missing);
    }
}

// How long a new worker waits for a document before it loads KaTeX.
const IDLE_PRELOAD_MS = 1000;

const inWorker = typeof WorkerGlobalScope !== 'undefined' && globalThis instanceof WorkerGlobalScope;

// The first use of the parser is several times slower than later ones. A
// worker parses this once as it starts (the page is prewarmed long before a
// document arrives), so that the head of the first document comes back
// quickly. Without highlighting and math: those load only for a document
// that has some, and come after its plain first pass.
const WARM_UP = [
    '# Warm-up', '', '## Section', '', '### Part', '',
    'Some *text* with **weight**, `code`, a [link](https://example.org) and $x^2 + y_1 = \\log n$.', '',
    '- item', '  - nested', '- [x] done', '', '1. first', '', '| a | b |', '|---|--:|', '| 1 | 2 |', '',
    '> quote', '', '---', '',
    '```js', 'const x = 1; // note', '```', '', '```python', 'def f(x):', '    return "x"', '```', '',
    '```cpp', 'int f() { return 0; }', '```', '',
    '$$', '\\frac{a}{b} = \\sum_{k=1}^{n} k^2 = \\int_0^1 f(t)\\,dt', '$$', '',
].join('\n');

/**
 * The entries still to render, those of the blocks the reader has on screen
 * first, then those below them, then those above them, nearest first.
 * @template {{index: number}} T
 * @param {T[]} entries  in the document's order
 * @param {{from: number, to: number}} screen  block indexes
 * @returns {T[]}
 */
export function inReadingOrder(entries, screen) {
    const on = entries.filter((entry) => entry.index >= screen.from && entry.index <= screen.to);
    const below = entries.filter((entry) => entry.index > screen.to);
    const above = entries.filter((entry) => entry.index < screen.from).reverse();
    return [...on, ...below, ...above];
}

// The worker's side of the parse protocol: answers `ping`, `parse` (head,
// result, then the deferred blocks' highlighting and math in batches) and
// `prefer` (the blocks on screen first) through `post`. `yieldTask` lets a
// newer message in between batches.
/**
 * @param {object} parts
 * @param {(message: object) => void} parts.post
 * @param {() => Promise<unknown>} parts.yieldTask
 * @returns {{handle: (message: any) => Promise<void>, busy: () => boolean}}
 */
export function createParseService({ post, yieldTask }) {
    // The blocks' highlighting and math, when the page asked for them
    // later: in batches of about BATCH_MS of work, each posted as it is
    // done, yielding between them so that a newer request (which ends this
    // one) is read.
    const BATCH_MS = 20;
    let current = 0;
    // The blocks the reader has on screen, when the page asked for them
    // first (it was scrolled away from where the work had got to).
    /** @type {{from: number, to: number} | null} */
    let wanted = null;
    /**
     * @param {number} id  the request's
     * @param {import('./parse/document.js').Deferred[]} later
     * @param {Set<string>} needs  what the entries of `later` need loaded
     */
    const enhance = async (id, later, needs) => {
        try {
            await loadNeeds(needs);
        } catch {
            // The blocks stay as they are, without highlighting and math.
            post({ type: 'enhanced', id, items: [], done: true });
            return;
        }
        let next = 0;
        while (next < later.length) {
            await yieldTask();
            if (current !== id) return;
            if (wanted !== null) {
                later.splice(next, later.length - next, ...inReadingOrder(later.slice(next), wanted));
                wanted = null;
            }
            const started = performance.now();
            const items = [];
            do {
                const entry = later[next++];
                // With the text it shows, so that find can search it
                // before the page puts it in place.
                const html = entry.render();
                items.push({ index: entry.index, html, text: shownText(html) });
            } while (next < later.length && performance.now() - started < BATCH_MS);
            post({ type: 'enhanced', id, items, done: next >= later.length });
        }
    };

    /** @param {any} message */
    const handle = async (message) => {
        message = message ?? {};
        if (message.type === 'ping') {
            post({ type: 'pong', id: message.id });
            return;
        }
        if (message.type === 'prefer') {
            if (message.id === current && Number.isInteger(message.from) && Number.isInteger(message.to)) {
                wanted = { from: message.from, to: message.to };
            }
            return;
        }
        if (message.type !== 'parse') return;
        current = message.id;
        wanted = null;
        try {
            // A long document's head first, so that its first screen can be
            // shown while the rest is parsed.
            const options = message.options ?? {};
            const later = message.later ? [] : undefined;
            const cut = message.head ? headCut(message.source) : 0;
            if (cut > 0) {
                const head = await parseLoaded(message.source.slice(0, cut), options, later ? [] : undefined);
                post({ type: 'head', id: message.id, result: head.result, math: head.needs.later.has(MATH) });
                // What the first screen's highlighting and math need starts
                // loading now, while the whole is parsed, instead of after.
                if (later && head.needs.later.size > 0) loadNeeds(head.needs.later).catch(() => {});
            }
            const { result, needs } = await parseLoaded(message.source, options, later);
            post({
                type: 'result', id: message.id, result, later: later?.length ?? 0, math: needs.later.has(MATH),
            });
            if (later && later.length > 0) void enhance(message.id, later, needs.later);
        } catch (error) {
            post({ type: 'failure', id: message.id, message: String(error?.message ?? error) });
        }
    };

    return { handle, busy: () => current !== 0 };
}

if (inWorker) {
    try {
        // The page lays the result out once, out of sight, for the same
        // reason.
        const result = parseDocument(WARM_UP, { highlight: false, math: false, diagrams: false, language: 'en' });
        globalThis.postMessage({ type: 'warm', result });
    } catch {
        // A warm-up that fails changes nothing.
    }
    const tick = new MessageChannel();
    /** @type {((value?: unknown) => void)[]} */
    const queued = [];
    tick.port1.onmessage = () => queued.shift()?.();
    const yieldTask = () => new Promise((resolve) => {
        queued.push(resolve);
        tick.port2.postMessage(0);
    });
    const service = createParseService({ post: (message) => globalThis.postMessage(message), yieldTask });
    // A document's first screen is shown with its math typeset when KaTeX
    // is loaded by then: a worker that nobody gave a document for a while
    // (a spare page's) loads it, and typesets once. Not at once: loading it
    // holds the worker up, and a document that comes soon would wait.
    setTimeout(() => {
        if (service.busy()) return;
        loadNeeds(new Set([MATH]))
            .then(() => parseDocument('$x^2 + \\frac{a}{b}$', { highlight: false, diagrams: false, language: 'en' }))
            .catch(() => {});
    }, IDLE_PRELOAD_MS);
    globalThis.onmessage = (event) => service.handle(event.data);
}
