// @ts-check
// The render request: parses the source (showing a long document's head
// first), inserts the blocks in slices, returns the reader to its place and
// answers with what was rendered. A newer render supersedes one under way,
// which then answers "superseded".

import { PageError, isPlainObject, isInteger, round1 } from './protocol.js';
import { locateAnchor } from './anchors.js';
import { plainResult } from './plain.js';
import { hasSize, isHidden } from './layout.js';
import { textsFor } from '../texts.js';

/** @typedef {import('./state.js').PageState} PageState */
/** @typedef {import('./state.js').Block} Block */
/** @typedef {import('./state.js').ParseResult} ParseResult */
/** @typedef {import('./view.js').View} View */
/** @typedef {import('./restore.js').Target} Target */

const MAX_DIAGRAMS = 100;
// A visible page inserts a slice of blocks per frame. The browser's own work
// for a slice (style, layout, paint) comes on top of it and costs several
// times the slice for heavy markup such as typeset math, so the slice's
// budget follows the frames actually seen: a frame longer than this shrinks
// it, a short one lets it grow again.
const FRAME_TARGET_MS = 34;
const SLICE_MS = { initial: 6, min: 3, max: 10 };
// Highlighting and math arrive from the worker after the blocks are in
// place and replace blocks in slices of this much time per frame.
// The slice's budget covers the browser's work for the new elements, taken
// as this many times the time to make them; it shrinks when a frame comes
// later than the target and grows again when frames come sooner.
const ENHANCE_MS = { initial: 10, min: 4, max: 30, target: 40 };
const ENHANCE_LAYOUT_FACTOR = 3.5;
const ENHANCE_GROUP_CHARS = 8 * 1024;

/**
 * @typedef {object} RenderRequest
 * @property {string} source
 * @property {'en' | 'zh-Hans'} language
 * @property {{highlight: boolean, math: boolean, diagrams: boolean}} switches
 * @property {boolean} background
 * @property {number | null} scrollLine
 * @property {any} anchor
 */

/**
 * @param {any} payload
 * @returns {RenderRequest}
 */
export function readRender(payload) {
    if (!isPlainObject(payload) || typeof payload.source !== 'string') {
        throw new PageError('invalidPayload', 'render needs a source text');
    }
    const language = payload.language === 'en' ? 'en' : 'zh-Hans';
    const switches = { highlight: true, math: true, diagrams: true };
    if (payload.enhancements !== undefined && payload.enhancements !== null) {
        if (!isPlainObject(payload.enhancements)) throw new PageError('invalidPayload', 'enhancements must be an object');
        for (const key of /** @type {(keyof typeof switches)[]} */ (Object.keys(switches))) {
            const value = payload.enhancements[key];
            if (typeof value === 'boolean') switches[key] = value;
            else if (value !== undefined) throw new PageError('invalidPayload', `enhancements.${key} must be a boolean`);
        }
    }
    let scrollLine = null;
    if (payload.scrollToSource !== undefined && payload.scrollToSource !== null) {
        if (!isPlainObject(payload.scrollToSource) || !isInteger(payload.scrollToSource.line)) {
            throw new PageError('invalidPayload', 'scrollToSource needs an integer line');
        }
        scrollLine = payload.scrollToSource.line;
    }
    const anchor = scrollLine === null && payload.restoreAnchor !== undefined && payload.restoreAnchor !== null
        ? payload.restoreAnchor : null;
    return { source: payload.source, language, switches, background: payload.background === true, scrollLine, anchor };
}

/**
 * The block for a source line: the one that holds it, else the next one
 * after it, else the last one before it.
 * @param {Block[]} blocks
 * @param {number} line
 * @returns {{index: number, strategy: 'contains' | 'following' | 'preceding'} | null}
 */
export function blockForLine(blocks, line) {
    let following = -1;
    let preceding = -1;
    for (let i = 0; i < blocks.length; i++) {
        const block = blocks[i];
        if (block.start <= line && line <= block.end) return { index: i, strategy: 'contains' };
        if (block.start > line) {
            following = i;
            break;
        }
        preceding = i;
    }
    if (following >= 0) return { index: following, strategy: 'following' };
    if (preceding >= 0) return { index: preceding, strategy: 'preceding' };
    return null;
}

function supersededError() {
    return new PageError('superseded', 'a newer render replaced this one');
}

/**
 * @param {object} parts
 * @param {Document} parts.doc
 * @param {HTMLElement} parts.content  holds the articles
 * @param {import('./state.js').Geometry} parts.geometry
 * @param {() => number} parts.now
 * @param {import('./state.js').Parser} parts.parser
 * @param {ReturnType<typeof import('./scheduler.js').createScheduler>} parts.scheduler
 * @param {number} parts.parseTimeoutMs
 * @param {PageState} parts.state
 * @param {ReturnType<typeof import('./view.js').createViews>} parts.views
 * @param {ReturnType<typeof import('./diagrams.js').createDiagrams>} parts.diagrams
 * @param {{forget(): void}} parts.find
 * @param {ReturnType<typeof import('./restore.js').createRestore>} parts.restore
 * @param {ReturnType<typeof import('./layout.js').createLayout>} parts.layout
 */
export function createRenderer({
    doc, content, geometry, now, parser, scheduler, parseTimeoutMs, state, views, diagrams, find, restore, layout,
}) {
    /** @param {object} token */
    function superseded(token) {
        return state.activeRender !== token;
    }

    /** @param {any} payload */
    async function render(payload) {
        const request = readRender(payload);
        stopEnhancing?.();
        restore.forget();
        const started = now();
        const previous = state.activeRender;
        const token = {};
        state.activeRender = token;
        if (previous) parser.cancel();
        const generation = ++state.generation;
        layout.endWarm();
        state.language = request.language;
        doc.documentElement.lang = request.language;
        const texts = textsFor(request.language);
        diagrams.reset(generation);

        // The first render of a visible page shows the head of a long
        // document while the rest is being parsed. Whether the page is
        // hidden is asked when the head comes: a page that was just shown
        // (a spare taken into a window) learns its size meanwhile.
        /** @type {View | null} */
        let headView = null;
        const useHead = !request.background && state.view === null && request.scrollLine === null && request.anchor === null;
        /** @type {((head: ParseResult) => void) | undefined} */
        const onHead = useHead ? (head) => {
            if (superseded(token) || headView || isHidden(doc, geometry)) return;
            const shown = views.makeView(head, generation);
            headView = shown;
            content.append(shown.article);
            state.view = shown;
            state.activeHeading = -1;
            // Only what fills the first screen (by the blocks' estimated
            // heights, with room to spare): its layout is what the reader
            // waits for, and the rest comes with the full parse.
            const height = geometry.viewportHeight();
            let end = head.blocks.length;
            if (height > 0) {
                let filled = 0;
                end = 0;
                while (end < head.blocks.length && filled < height * 1.5) filled += head.blocks[end++].est || 40;
            }
            const placeholders = shown.builder.append(0, end);
            shown.count = end;
            if (placeholders.length > 0) diagrams.request(placeholders, shown.diagramSources);
        } : undefined;

        // Highlighting and math come after the plain blocks are in place
        // (and the reply has gone); they are kept here until then.
        /** @type {{items: {index: number, html: string}[], next: number, done: boolean, wake: (() => void) | null}} */
        const feed = { items: [], next: 0, done: false, wake: null };
        /** @type {(items: {index: number, html: string}[], done: boolean) => void} */
        const onEnhanced = (items, done) => {
            for (const item of items) feed.items.push(item);
            if (done) feed.done = true;
            const wake = feed.wake;
            feed.wake = null;
            wake?.();
        };
        // A render that returns the reader to a place has them at once: the
        // place is set, and reported, with every block as it stays.
        const enhancing = (request.switches.highlight || request.switches.math)
            && request.scrollLine === null && request.anchor === null;

        const outcome = await parser.parse(request.source, {
            documentID: state.session.documentID,
            language: request.language,
            highlight: request.switches.highlight,
            math: request.switches.math,
            diagrams: request.switches.diagrams,
            generation,
            maxDiagrams: MAX_DIAGRAMS,
        }, parseTimeoutMs, onHead, enhancing ? onEnhanced : undefined);
        if (superseded(token) || outcome.status === 'cancelled') throw supersededError();

        /** @type {ParseResult} */
        let result;
        /** @type {{reason: string, message: string} | null} */
        let degraded = null;
        if (outcome.status === 'ok') {
            result = outcome.result;
        } else {
            result = plainResult(request.source);
            degraded = outcome.status === 'timeout'
                ? { reason: 'timeout', message: texts.parseTimeout }
                : { reason: 'parseFailed', message: `${texts.parseFailed} (${outcome.message})` };
        }

        // Where the reader wants to be once the blocks are in place.
        /** @type {Target | null} */
        let target = null;
        let scrolledToSource;
        if (request.scrollLine !== null) {
            const hit = blockForLine(result.blocks, request.scrollLine);
            scrolledToSource = hit
                ? {
                    line: request.scrollLine, found: true, blockId: result.blocks[hit.index].id,
                    sourceStart: result.blocks[hit.index].start, sourceEnd: result.blocks[hit.index].end,
                    strategy: hit.strategy,
                }
                : { line: request.scrollLine, found: false, blockId: '', sourceStart: 0, sourceEnd: 0, strategy: 'none' };
            if (hit) target = { kind: 'source', location: { strategy: 'exact', index: hit.index, fraction: 0 } };
        } else if (request.anchor !== null) {
            target = { kind: 'anchor', anchor: request.anchor, startedAt: now() };
        }

        const view = views.makeView(result, generation);
        diagrams.setTotal(result.diagrams.length);
        if (headView && state.view === headView) {
            views.adoptHead(headView, view);
            state.view = view;
            find.forget();
        }
        const domStarted = now();
        const hidden = request.background || isHidden(doc, geometry);
        const meter = hidden ? null : scheduler.frameMeter();
        try {
            await insertView(view, token, hidden, target);
        } catch (error) {
            meter?.stop();
            throw error;
        }
        const frames = meter ? meter.stop() : { frameCount: 0, maxFrameGapMs: 0 };
        const domMs = now() - domStarted;

        // After the elements are in place.
        const postStarted = now();
        let anchorRestored;
        if (target?.kind === 'source') restore.applySource(target.location, view);
        else if (target?.kind === 'anchor') anchorRestored = restore.restoreAnchor(view, target);
        if (result.diagrams.length > 0 && diagrams.pending === 0) diagrams.progress();
        layout.sendReport('render');
        layout.updateActiveHeading(true);

        const images = {
            local: result.images.local + view.rawImages.local,
            remote: result.images.remote + view.rawImages.remote,
            rejected: result.images.rejected + view.rawImages.rejected,
        };
        /** @type {Record<string, unknown>} */
        const reply = {
            headings: result.headings.map((h) => ({ level: h.level, text: h.text, id: h.id })),
            renderGeneration: generation,
            images,
            parserMode: degraded ? 'plain' : parser.mode,
            timings: {
                parseMs: round1(result.parseMs),
                parseWaitMs: round1(outcome.waitMs),
                parseTimeoutMs: parseTimeoutMs,
                domMs: round1(domMs),
                diagramMs: 0,
                maxFrameGapMs: round1(frames.maxFrameGapMs),
                frameCount: frames.frameCount,
                totalMs: round1(now() - started),
                postDomMs: round1(now() - postStarted),
            },
            diagrams: { total: result.diagrams.length, failed: diagrams.summary.failed },
            blocks: result.blocks.map((b) => ({ id: b.id, kind: b.kind, sourceStart: b.start, sourceEnd: b.end })),
            limits: result.limits,
        };
        if (degraded) reply.degraded = degraded;
        if (anchorRestored) reply.anchorRestored = anchorRestored;
        if (scrolledToSource) reply.scrolledToSource = scrolledToSource;
        if (state.activeRender === token) state.activeRender = null;
        if (outcome.status === 'ok' && (outcome.later ?? 0) > 0) void applyEnhancements(view, feed);
        return reply;
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
     */
    async function insertView(view, token, hidden, target) {
        const { result, article } = view;
        const adopted = state.view === view;
        const old = adopted ? null : state.view;
        let committed = adopted;
        const staging = Boolean(old && old.article.isConnected && !hidden);
        if (staging) article.classList.add('md-staging');
        if (!article.isConnected) content.append(article);

        let targetIndex = -1;
        if (target?.kind === 'source') targetIndex = target.location.index ?? -1;
        if (target?.kind === 'anchor') {
            const early = locateAnchor(target.anchor, { ...views.anchorView(view), count: result.blocks.length });
            if (early.index !== undefined) targetIndex = early.index;
        }

        const commit = () => {
            if (committed) return;
            committed = true;
            if (old) {
                views.removeArticle(old.article);
                find.forget();
            }
            article.classList.remove('md-staging');
            state.view = view;
            state.activeHeading = -1;
        };
        // Whether the blocks in place fill a screen from the top, or from
        // the block the reader returns to. By the blocks' estimated heights,
        // with room to spare: the chunks are sized by estimates, and
        // measuring the blocks would lay out every chunk being filled.
        const from = Math.max(0, targetIndex);
        let filledTo = from;
        let filledHeight = 0;
        const firstScreenReady = () => {
            const height = geometry.viewportHeight();
            if (height <= 0) return true;
            if (view.count <= from) return false;
            for (; filledTo < view.count; filledTo++) filledHeight += result.blocks[filledTo].est || 40;
            return filledHeight >= height * 1.5;
        };

        const total = result.blocks.length;
        let batchBytes = 16 * 1024;
        // A raw block's markup is sanitised on its own, which costs about as
        // much as 2 KB of plain markup.
        /** @param {number} i */
        const sizeOf = (i) => (result.offsets[i + 1] - result.offsets[i]) + (result.blocks[i].raw ? 2048 : 0);
        let sliceBudget = SLICE_MS.initial;
        /** @type {number | null} */
        let lastFrame = null;

        if (total === 0 || !staging) commit();
        // The first slice of a visible page runs until its first screen is
        // filled (within reason), then yields so that the screen paints. A
        // head already on screen was that first slice.
        let firstSlice = !hidden && !adopted;
        let previewed = false;
        // Receiving a long document's parse already took a good part of this
        // frame: the head on screen waits a frame for the rest.
        if (adopted && view.count < total && !isHidden(doc, geometry)) {
            lastFrame = await scheduler.nextFrame();
            if (superseded(token)) throw supersededError();
        }
        while (view.count < total) {
            const sliceStarted = now();
            const budget = hidden ? 40 : firstSlice ? 150 : sliceBudget;
            do {
                let to = view.count + 1;
                let size = sizeOf(view.count);
                while (to < total && size + sizeOf(to) <= batchBytes) size += sizeOf(to++);
                const batchStarted = now();
                const placeholders = view.builder.append(view.count, to);
                view.count = to;
                if (placeholders.length > 0) diagrams.request(placeholders, view.diagramSources);
                const spent = now() - batchStarted;
                if (spent > Math.min(4, budget / 2) && batchBytes > 2048) batchBytes = Math.floor(batchBytes / 2);
                else if (spent < 1 && batchBytes < 512 * 1024) batchBytes *= 2;
                if (firstSlice || !committed) {
                    const ready = firstScreenReady();
                    if (!committed && ready) commit();
                    if (ready && firstSlice) {
                        firstSlice = false;
                        break;
                    }
                }
                if (committed && !previewed && target && view.count > targetIndex && targetIndex >= 0) {
                    previewed = true;
                    restore.preview(view, target, targetIndex);
                }
            } while (view.count < total && now() - sliceStarted < budget);
            firstSlice = false;
            if (view.count >= total) break;
            if (hidden || isHidden(doc, geometry)) {
                await scheduler.yieldTask();
            } else {
                const frame = await scheduler.nextFrame();
                if (frame !== null && lastFrame !== null) {
                    const gap = frame - lastFrame;
                    if (gap > FRAME_TARGET_MS) sliceBudget = Math.max(SLICE_MS.min, sliceBudget * 0.7);
                    else if (gap < FRAME_TARGET_MS * 0.6) sliceBudget = Math.min(SLICE_MS.max, sliceBudget * 1.2);
                }
                lastFrame = frame;
            }
            if (superseded(token)) {
                if (!committed) views.removeArticle(article);
                throw supersededError();
            }
        }
        commit();
    }

    /** @type {(() => void) | null} */
    let stopEnhancing = null;

    /**
     * Puts the blocks' highlighting and math in place as they come, until
     * the worker has sent them all or another render began. A block's new
     * element takes the place of its plain one, in slices, a slice per frame
     * (or per task on a hidden page). The browser's own work for the new
     * elements (styles, boxes) is several times the time spent making them,
     * even in chunks off screen, so only the chunks near the screen get
     * theirs at once; the others keep them until they come near, or until
     * a search needs the text as shown (view.settle). The chunks' size watch
     * keeps the reader's place when blocks above it grow.
     * @param {View} view
     * @param {{items: {index: number, html: string}[], next: number, done: boolean, wake: (() => void) | null}} feed
     */
    async function applyEnhancements(view, feed) {
        const template = doc.createElement('template');
        // Whether more is coming from the worker; the page's tests wait for it.
        const coming = /** @type {any} */ (view.article);
        coming.enhancementsComing = !feed.done;
        let stopped = false;
        /** @type {Set<Element>} */
        const near = new Set();
        /** @type {Map<Element, {index: number, html: string}[]>} */
        const parked = new Map();
        const Observer = doc.defaultView?.IntersectionObserver;
        const observer = Observer ? new Observer((entries) => {
            for (const entry of entries) {
                if (!entry.isIntersecting) {
                    near.delete(entry.target);
                    continue;
                }
                near.add(entry.target);
                const waiting = parked.get(entry.target);
                if (!waiting) continue;
                parked.delete(entry.target);
                observer?.unobserve(entry.target);
                for (const item of waiting) feed.items.push(item);
            }
            wake();
        }, { rootMargin: '100% 0px' }) : null;
        for (const chunk of view.article.children) observer?.observe(chunk);
        // Without a watch on the screen, or once settled, every block is
        // replaced as its markup comes.
        let eager = !observer;
        const wake = () => {
            const resume = feed.wake;
            feed.wake = null;
            resume?.();
        };
        const stop = () => {
            stopped = true;
            coming.enhancementsComing = false;
            observer?.disconnect();
            parked.clear();
            if (stopEnhancing === stop) stopEnhancing = null;
            if (view.settle === settle) delete view.settle;
            wake();
        };
        stopEnhancing?.();
        stopEnhancing = stop;

        /**
         * Replaces the items' blocks with their new markup.
         * @param {{index: number, html: string}[]} items
         */
        const replace = (items) => {
            const indexes = [];
            let html = '';
            for (const item of items) {
                if (!view.elements[item.index]?.isConnected) continue;
                indexes.push(item.index);
                html += item.html;
            }
            /** @param {string} markup */
            const parse = (markup) => {
                template.innerHTML = markup;
                const made = Array.from(template.content.children);
                template.innerHTML = '';
                return made;
            };
            /** @type {(Element | null)[]} */
            let made = parse(html);
            if (made.length !== indexes.length) {
                // Not one element per block: block by block, and a block
                // that does not make one element stays plain.
                made = [];
                for (const item of items) {
                    if (!view.elements[item.index]?.isConnected) continue;
                    const one = parse(item.html);
                    made.push(one.length === 1 ? one[0] : null);
                }
            }
            let replaced = false;
            for (let k = 0; k < indexes.length; k++) {
                const element = made[k];
                if (!element) continue;
                view.elements[indexes[k]].replaceWith(element);
                view.elements[indexes[k]] = element;
                replaced = true;
            }
            return replaced;
        };
        // Everything the worker has sent, in place now.
        const settle = () => {
            const items = feed.items.slice(feed.next);
            for (const waiting of parked.values()) items.push(...waiting);
            feed.items = [];
            feed.next = 0;
            parked.clear();
            observer?.disconnect();
            eager = true;
            if (replace(items)) view.revision += 1;
        };
        view.settle = settle;

        let budget = ENHANCE_MS.initial;
        // The reply goes first, in a frame of its own.
        /** @type {number | null} */
        let lastFrame = isHidden(doc, geometry) ? await scheduler.yieldTask().then(() => null) : await scheduler.nextFrame();
        while (!stopped && state.view === view) {
            if (feed.done) coming.enhancementsComing = false;
            if (feed.next >= feed.items.length) {
                feed.items = [];
                feed.next = 0;
                if (feed.done && parked.size === 0) break;
                await new Promise((resolve) => { feed.wake = () => resolve(undefined); });
                lastFrame = null;
                continue;
            }
            const sliceStarted = now();
            let replaced = false;
            while (feed.next < feed.items.length && now() - sliceStarted < budget / ENHANCE_LAYOUT_FACTOR) {
                // A few blocks at a time, parsed in one go: typeset math is
                // long markup, slow to parse, so a group is kept short.
                const group = [];
                let length = 0;
                while (feed.next < feed.items.length && length < ENHANCE_GROUP_CHARS) {
                    const item = feed.items[feed.next++];
                    const chunk = view.elements[item.index]?.parentElement;
                    if (!chunk) continue;
                    if (!eager && !near.has(chunk)) {
                        const waiting = parked.get(chunk);
                        if (waiting) waiting.push(item);
                        else parked.set(chunk, [item]);
                        continue;
                    }
                    group.push(item);
                    length += item.html.length;
                }
                if (replace(group)) replaced = true;
            }
            // A search under way looks again at its next step.
            if (replaced) view.revision += 1;
            if (isHidden(doc, geometry)) {
                await scheduler.yieldTask();
                lastFrame = null;
                continue;
            }
            const frame = await scheduler.nextFrame();
            if (frame !== null && lastFrame !== null) {
                const gap = frame - lastFrame;
                if (gap > ENHANCE_MS.target) budget = Math.max(ENHANCE_MS.min, budget * 0.7);
                else if (gap < ENHANCE_MS.target * 0.75) budget = Math.min(ENHANCE_MS.max, budget * 1.2);
            }
            lastFrame = frame;
        }
        if (stopEnhancing === stop) stop();
    }

    // Ends the highlighting and math still coming (the page is closing).
    function dispose() {
        stopEnhancing?.();
    }

    return { render, dispose };
}
