// @ts-check
// Diagram placeholders: the page asks the reader to render each one
// ("diagramRequest") and puts the returned SVG, sanitised, into a shadow root
// of the placeholder, so that the diagram's own styles stay inside it.

import { PageError, isPlainObject, round1 } from './protocol.js';

const CACHE_LIMIT = 64;

/**
 * @param {object} parts
 * @param {Document} parts.doc
 * @param {import('./page.js').Post} parts.post
 * @param {(svgText: string) => SVGSVGElement | null} parts.sanitizeSVG
 * @param {() => import('../protocol.js').Payloads['diagramRequest']['themeVariables']} parts.themeVariables
 * @param {() => string} parts.themeKey  changes with the theme's diagram colours
 * @param {() => number} parts.now
 * @param {() => ReturnType<typeof import('../texts.js').textsFor>} parts.texts
 * @param {(element: Element, change: () => void) => void} [parts.keepPlace]  a late
 *     diagram changes its block's height: the reading line stays where it is
 */
export function createDiagrams({ doc, post, sanitizeSVG, themeVariables, themeKey, now, texts, keepPlace = (_, change) => change() }) {
    /**
     * diagramID → its placeholder awaiting an answer. `outstanding`: requests
     * made and not yet answered (answers come in order, so all but the last
     * are of an earlier theme and are not shown); `redraw`: it shows a drawing
     * of an earlier theme, kept until the new one comes; `satisfied`: the
     * page's cache drew it meanwhile, its answers are not shown.
     * @typedef {{element: Element, source: string, outstanding: number, redraw?: boolean, satisfied?: boolean}} Waiting
     * @type {Map<string, Waiting>}
     */
    let waiting = new Map();
    /** @type {Map<string, {element: Element, source: string}>} every placeholder of this render */
    let placed = new Map();
    /** the theme key of the diagrams drawn or asked for */
    let drawnKey = '';
    let totals = { total: 0, done: 0, failed: 0, generation: 0, startedAt: 0, diagramMs: 0 };
    /** @type {Map<string, string>} source + theme → sanitised SVG markup */
    const cache = new Map();

    /**
     * @param {string} source
     * @param {string} key  the theme's
     */
    function cacheKey(source, key = themeKey()) {
        return `${key}\n${source}`;
    }

    /**
     * @param {Element} element
     * @param {SVGSVGElement} svg
     */
    function showSVG(element, svg) {
        const root = element.shadowRoot ?? element.attachShadow({ mode: 'open' });
        root.replaceChildren();
        const style = doc.createElement('style');
        style.textContent = ':host{display:block}svg{display:block;max-width:100%;height:auto;margin:0 auto}';
        root.append(style, svg);
        element.setAttribute('data-state', 'done');
    }

    /**
     * @param {Element} element
     * @param {string} message
     */
    function showFailure(element, message) {
        element.setAttribute('data-state', 'failed');
        const status = element.querySelector('.md-diagram-status');
        if (status) status.textContent = message ? `${texts().diagramFailed}: ${message}` : texts().diagramFailed;
    }

    function progress() {
        const { total, done, failed } = totals;
        post('diagramsProgress', {
            total,
            done,
            failed,
            mode: 'isolated',
            inline: 0,
            isolated: done,
            complete: done + failed >= total,
            diagramMs: round1(totals.diagramMs),
            maxFrameGapMs: 0,
            frameCount: 0,
        });
    }

    /** @type {Set<string>} */
    let settled = new Set();

    // A new render: forget what the previous one waited for.
    /** @param {number} generation */
    function reset(generation) {
        waiting = new Map();
        placed = new Map();
        settled = new Set();
        totals = { total: 0, done: 0, failed: 0, generation, startedAt: now(), diagramMs: 0 };
    }

    /** @param {number} total */
    function setTotal(total) {
        totals.total = total;
    }

    // Placeholders just inserted; cached diagrams are shown at once. A
    // placeholder that replaces one already asked for takes over its request.
    /**
     * @param {Element[]} elements
     * @param {Map<string, string>} sources  by diagram id
     */
    function request(elements, sources) {
        const key = themeKey();
        for (const element of elements) {
            const id = element.getAttribute('data-diagram');
            if (id === null) continue;
            const source = sources.get(id);
            if (source === undefined) continue;
            placed.set(id, { element, source });
            drawnKey = key;
            const entry = waiting.get(id);
            if (entry && entry.source === source) {
                entry.element = element;
                continue;
            }
            const cached = cache.get(cacheKey(source, key));
            if (cached) {
                const svg = sanitizeSVG(cached);
                if (svg) {
                    showSVG(element, svg);
                    waiting.delete(id);
                    if (!settled.has(id)) {
                        settled.add(id);
                        totals.done += 1;
                    }
                    continue;
                }
            }
            waiting.set(id, { element, source, outstanding: 1 });
            post('diagramRequest', { diagramID: id, source, themeVariables: themeVariables() });
        }
    }

    /**
     * @param {unknown} payload  the reader's, checked here
     * @returns {import('../protocol.js').Payloads['diagramApplied']}
     */
    function apply(payload) {
        if (!isPlainObject(payload) || typeof payload.diagramID !== 'string') {
            throw new PageError('invalidPayload', 'diagramResult needs a diagramID');
        }
        const entry = waiting.get(payload.diagramID);
        if (!entry) return { diagramID: payload.diagramID, accepted: false };
        entry.outstanding -= 1;
        if (entry.outstanding > 0 || entry.satisfied) {
            // The answer to a request of an earlier theme.
            if (entry.outstanding <= 0) waiting.delete(payload.diagramID);
            return { diagramID: payload.diagramID, accepted: false };
        }
        waiting.delete(payload.diagramID);
        const svg = typeof payload.svg === 'string' ? sanitizeSVG(payload.svg) : null;
        if (entry.redraw) {
            // A drawing in the new theme; a failure keeps the earlier one.
            if (svg) {
                keepPlace(entry.element, () => showSVG(entry.element, svg));
                remember(entry.source, payload.svg);
            }
            return { diagramID: payload.diagramID, accepted: true };
        }
        settled.add(payload.diagramID);
        if (svg) {
            keepPlace(entry.element, () => showSVG(entry.element, svg));
            totals.done += 1;
            remember(entry.source, payload.svg);
        } else {
            const error = isPlainObject(payload.error) && typeof payload.error.message === 'string'
                ? payload.error.message : '';
            keepPlace(entry.element, () => showFailure(entry.element, error));
            totals.failed += 1;
        }
        totals.diagramMs = now() - totals.startedAt;
        progress();
        return { diagramID: payload.diagramID, accepted: true };
    }

    /**
     * @param {string} source
     * @param {string} svgText
     */
    function remember(source, svgText) {
        const key = cacheKey(source);
        cache.delete(key);
        cache.set(key, svgText);
        if (cache.size > CACHE_LIMIT) cache.delete(/** @type {string} */ (cache.keys().next().value));
    }

    // The theme's diagram colours changed: every diagram on the page is drawn
    // again in them (from the cache when it has them); a drawing stays until
    // its successor comes, a diagram that failed stays failed, and one still
    // asked for is asked for again, its earlier answer not shown.
    function redraw() {
        const key = themeKey();
        if (key === drawnKey) return;
        drawnKey = key;
        for (const [id, { element, source }] of placed) {
            if (!element.isConnected) continue;
            const entry = waiting.get(id);
            if (!entry && element.getAttribute('data-state') !== 'done') continue;
            if (!entry || entry.redraw) {
                const cached = cache.get(cacheKey(source, key));
                const svg = cached ? sanitizeSVG(cached) : null;
                if (svg) {
                    keepPlace(element, () => showSVG(element, svg));
                    if (entry) entry.satisfied = true;
                    continue;
                }
            }
            if (entry) {
                entry.outstanding += 1;
                entry.satisfied = false;
            } else {
                waiting.set(id, { element, source, outstanding: 1, redraw: true });
            }
            post('diagramRequest', { diagramID: id, source, themeVariables: themeVariables() });
        }
    }

    return {
        reset,
        setTotal,
        request,
        apply,
        redraw,
        progress,
        get summary() {
            return { total: totals.total, failed: totals.failed, done: totals.done };
        },
        get pending() {
            return waiting.size;
        },
    };
}
