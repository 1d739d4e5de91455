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
    /** @type {Map<string, {element: Element, source: string}>} diagramID → its placeholder */
    let waiting = new Map();
    let totals = { total: 0, done: 0, failed: 0, generation: 0, startedAt: 0, diagramMs: 0 };
    /** @type {Map<string, string>} source + theme → sanitised SVG markup */
    const cache = new Map();

    /** @param {string} source */
    function cacheKey(source) {
        return `${themeKey()}\n${source}`;
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
        for (const element of elements) {
            const id = element.getAttribute('data-diagram');
            if (id === null) continue;
            const source = sources.get(id);
            if (source === undefined) continue;
            const entry = waiting.get(id);
            if (entry && entry.source === source) {
                entry.element = element;
                continue;
            }
            const cached = cache.get(cacheKey(source));
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
            waiting.set(id, { element, source });
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
        waiting.delete(payload.diagramID);
        const svg = typeof payload.svg === 'string' ? sanitizeSVG(payload.svg) : null;
        settled.add(payload.diagramID);
        if (svg) {
            keepPlace(entry.element, () => showSVG(entry.element, svg));
            totals.done += 1;
            const key = cacheKey(entry.source);
            cache.delete(key);
            cache.set(key, payload.svg);
            if (cache.size > CACHE_LIMIT) cache.delete(/** @type {string} */ (cache.keys().next().value));

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

    return {
        reset,
        setTotal,
        request,
        apply,
        progress,
        get summary() {
            return { total: totals.total, failed: totals.failed, done: totals.done };
        },
        get pending() {
            return waiting.size;
        },
    };
}
