// The renderer page: answers the reader's requests, posts the page's own
// events and owns the rendered document. Everything the page touches comes
// in through `host`, so the same code runs in the web view and in tests.
//
// host: {
//   win, doc                 window and document
//   postMessage(envelope)    hands an event to the reader
//   parser                   see parser.js
//   now()                    milliseconds, monotonic
//   scheduler?               see scheduler.js
//   geometry?                see anchors.js
//   importSelf?()            a dynamic import, for the capability probe
//   parseTimeoutMs?          the parse budget
// }

import {
    REPLY_OF, PageError, readRequest, makeEnvelope, newMessageID, isPlainObject, isInteger,
    isFiniteNumber, finite, round1,
} from './protocol.js';
import { createScheduler } from './scheduler.js';
import {
    createGeometry, captureAnchor, locateAnchor, applyLocation, isValidAnchor, blockIndexAt, topAtOrAbove,
} from './anchors.js';
import { appendBlocks } from './blocks.js';
import { createSanitizer, createSVGSanitizer } from './sanitize.js';
import { createTheme } from './theme.js';
import { createTypography } from './typography.js';
import { createFind } from './find.js';
import { createDiagrams } from './diagrams.js';
import { installLinkHandling } from './links.js';
import { plainResult } from './plain.js';
import { DEFAULT_PARSE_TIMEOUT_MS } from './parser.js';
import { textsFor } from '../texts.js';
import { slug } from 'github-slugger';

const MAX_DIAGRAMS = 100;
const MAX_ERROR_EVENTS = 20;
const PIN_LIMIT_MS = 4000;
const CHUNK_BLOCKS = 48;
// The first chunks are smaller: a chunk on screen is laid out whole, and the
// first screen should not wait for the layout of several screens.
const LEADING_CHUNKS = [8, 16, 32];
const LEADING_BLOCKS = LEADING_CHUNKS.reduce((sum, n) => sum + n, 0);
// A visible page inserts a slice of blocks per frame. The browser's own work
// for a slice (style, layout, paint) comes on top of it and costs several
// times the slice for heavy markup such as typeset math, so the slice's
// budget follows the frames actually seen: a frame longer than this shrinks
// it, a short one lets it grow again.
const FRAME_TARGET_MS = 34;
const SLICE_MS = { initial: 6, min: 3, max: 10 };
const OVERFLOW_CANDIDATES = new Set(['code', 'table', 'math', 'diagram', 'html', 'plain', 'paragraph']);

// Chunk k holds blocks [chunkStart(k), chunkStart(k + 1)).
function chunkStart(k) {
    if (k < LEADING_CHUNKS.length) return LEADING_CHUNKS.slice(0, k).reduce((sum, n) => sum + n, 0);
    return LEADING_BLOCKS + (k - LEADING_CHUNKS.length) * CHUNK_BLOCKS;
}

function chunkOf(index) {
    let start = 0;
    for (let k = 0; k < LEADING_CHUNKS.length; k++) {
        start += LEADING_CHUNKS[k];
        if (index < start) return k;
    }
    return LEADING_CHUNKS.length + Math.floor((index - LEADING_BLOCKS) / CHUNK_BLOCKS);
}

export function createPage(host) {
    const { win, doc, parser } = host;
    const now = host.now ?? (() => win.performance.now());
    const scheduler = host.scheduler ?? createScheduler(win);
    const geometry = host.geometry ?? createGeometry(win, doc);
    const parseTimeoutMs = host.parseTimeoutMs ?? DEFAULT_PARSE_TIMEOUT_MS;
    const root = doc.documentElement;

    const content = doc.getElementById('content') ?? (() => {
        const main = doc.createElement('main');
        main.id = 'content';
        doc.body.append(main);
        return main;
    })();

    const state = {
        session: { viewSessionID: '', documentID: '', sourceRevision: 0 },
        seenRequest: false,
        queue: [],
        generation: 0,
        language: 'zh-Hans',
        insets: { top: 0, bottom: 0 },
        view: null,
        activeRender: null,
        activeHeading: -1,
        pin: null,
        deferred: null,
        errorEvents: 0,
        probeGuardUntil: 0,
        lastSize: { width: win.innerWidth, height: win.innerHeight },
        availableWidth: -1,
        disposers: [],
        warmBox: null,
    };

    // ---- events -------------------------------------------------------

    function send(type, payload) {
        try {
            host.postMessage(makeEnvelope({
                messageID: newMessageID(win.crypto),
                viewSessionID: state.session.viewSessionID,
                documentID: state.session.documentID,
                sourceRevision: state.session.sourceRevision,
                renderGeneration: state.generation,
                type,
                payload,
            }));
        } catch {
            // The reader is gone; nothing to tell.
        }
    }

    // Events wait until the first request names the session.
    function post(type, payload) {
        if (!state.seenRequest) state.queue.push([type, payload]);
        else send(type, payload);
    }

    function postReady() {
        try {
            host.postMessage(makeEnvelope({
                messageID: newMessageID(win.crypto),
                viewSessionID: '',
                documentID: '',
                sourceRevision: 0,
                renderGeneration: 0,
                type: 'ready',
                payload: {},
            }));
        } catch {
            // No reader to tell.
        }
    }

    function postError(code, message) {
        if (state.errorEvents >= MAX_ERROR_EVENTS) return;
        state.errorEvents += 1;
        post('error', { code, message: String(message).slice(0, 500) });
    }

    // ---- parts --------------------------------------------------------

    const sanitizer = createSanitizer(win);
    const svgSanitizer = createSVGSanitizer(win);
    const theme = createTheme(doc);
    const typography = createTypography(doc);
    const find = createFind({
        doc,
        getBlocks: () => (state.view ? state.view.elements.slice(0, state.view.count) : []),
        geometry,
        getInsetTop: () => state.insets.top,
        getGeneration: () => state.view?.generation ?? 0,
    });
    const diagrams = createDiagrams({
        doc,
        post,
        sanitizeSVG: svgSanitizer.sanitizeSVG,
        themeVariables: () => theme.diagramThemeVariables(),
        themeKey: () => theme.themeKey,
        now,
        texts: () => textsFor(state.language),
    });

    state.disposers.push(installLinkHandling(doc, {
        onLink: (link) => post('openLink', link),
        onCopy: (text, kind) => post('copyText', { text, kind }),
    }));

    function removeArticle(article) {
        for (const chunk of article.children) geometry.forgetChunk?.(chunk);
        article.remove();
    }

    // ---- the view of the rendered document ----------------------------

    function makeView(result, generation) {
        const indexById = new Map();
        result.blocks.forEach((block, index) => {
            if (!indexById.has(block.id)) indexById.set(block.id, index);
        });
        const headingBlocks = [];
        result.blocks.forEach((block, index) => {
            if (block.kind === 'heading') headingBlocks.push(index);
        });
        const article = doc.createElement('article');
        article.className = 'md-doc';
        const view = {
            generation,
            result,
            blocks: result.blocks,
            headings: result.headings,
            headingBlocks,
            elements: new Array(result.blocks.length),
            count: 0,
            indexById,
            article,
            rawImages: { local: 0, remote: 0, rejected: 0 },
            diagramSources: new Map(result.diagrams.map((d) => [d.id, d.source])),
            builder: null,
        };
        view.builder = createBuilder(view);
        return view;
    }

    // Appends blocks to a view's article in chunks of a few dozen: the
    // browser then lays out the chunks on screen, not every block of a long
    // document. Every chunk is made up front and sized by its blocks'
    // estimated heights: filling a chunk off screen then changes no layout,
    // whereas adding a chunk or resizing one lays out the whole article
    // again, which costs tens of milliseconds a frame on a long document.
    function createBuilder(view) {
        const chunks = [];
        const blocks = view.result.blocks;
        const raw = { sanitizer, documentID: state.session.documentID, counts: view.rawImages };
        const size = (chunk, k) => {
            let height = 0;
            const end = Math.min(chunkStart(k + 1), blocks.length);
            for (let i = chunkStart(k); i < end; i++) height += blocks[i].est || 40;
            chunk.style.containIntrinsicSize = `auto ${Math.round(height)}px`;
        };
        const makeChunks = () => {
            if (blocks.length === 0) return;
            const last = chunkOf(blocks.length - 1);
            if (chunks.length > last) return;
            const fragment = doc.createDocumentFragment();
            for (let k = chunks.length; k <= last; k++) {
                const chunk = doc.createElement('div');
                chunk.className = k < LEADING_CHUNKS.length - 1 ? 'md-chunk md-lead' : 'md-chunk';
                size(chunk, k);
                fragment.append(chunk);
                chunks.push(chunk);
                geometry.watchChunk?.(chunk);
            }
            view.article.append(fragment);
        };
        return {
            append(from, to) {
                makeChunks();
                const placeholders = [];
                let i = from;
                while (i < to) {
                    const k = chunkOf(i);
                    const end = Math.min(to, chunkStart(k + 1));
                    placeholders.push(...appendBlocks(doc, chunks[k], view.result, i, end, view.elements, raw));
                    i = end;
                }
                return placeholders;
            },
            // Continues in an article that already holds chunks (a head's):
            // its last chunk is sized again for this document's blocks.
            resume() {
                chunks.length = 0;
                chunks.push(...view.article.children);
                if (chunks.length > 0) size(chunks[chunks.length - 1], chunks.length - 1);
            },
        };
    }

    // The full parse arrived while the head is on screen: keep the head's
    // blocks that came out the same, drop the rest.
    function adoptHead(headView, view) {
        const head = headView.result;
        const full = view.result;
        let kept = 0;
        const limit = Math.min(headView.count, full.blocks.length);
        while (kept < limit) {
            const a = head.blocks[kept];
            const b = full.blocks[kept];
            if (a.raw || b.raw || a.id !== b.id || a.kind !== b.kind || a.start !== b.start || a.end !== b.end || a.fp !== b.fp) break;
            if (head.html.slice(head.offsets[kept], head.offsets[kept + 1]) !== full.html.slice(full.offsets[kept], full.offsets[kept + 1])) break;
            kept += 1;
        }
        for (let k = kept; k < headView.count; k++) headView.elements[k]?.remove();
        for (const chunk of Array.from(headView.article.children)) {
            if (chunk.children.length > 0) continue;
            geometry.forgetChunk?.(chunk);
            chunk.remove();
        }
        for (let k = 0; k < kept; k++) view.elements[k] = headView.elements[k];
        view.article = headView.article;
        view.count = kept;
        view.builder.resume();
        state.view = view;
        find.forget();
    }

    function anchorView(view) {
        return {
            blocks: view.blocks,
            elements: view.elements,
            count: view.count,
            headings: view.headings,
            geometry,
            insetTop: state.insets.top,
            indexOf: (id) => view.indexById.get(id),
        };
    }

    function hasSize() {
        return geometry.viewportHeight() > 0 && geometry.viewportWidth() > 0;
    }

    function isHidden() {
        return doc.visibilityState === 'hidden' || !hasSize();
    }

    // ---- render -------------------------------------------------------

    function readRender(payload) {
        if (!isPlainObject(payload) || typeof payload.source !== 'string') {
            throw new PageError('invalidPayload', 'render needs a source text');
        }
        const language = payload.language === 'en' ? 'en' : 'zh-Hans';
        const switches = { highlight: true, math: true, diagrams: true };
        if (payload.enhancements !== undefined && payload.enhancements !== null) {
            if (!isPlainObject(payload.enhancements)) throw new PageError('invalidPayload', 'enhancements must be an object');
            for (const key of Object.keys(switches)) {
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

    // The block for a source line: the one that holds it, else the next one
    // after it, else the last one before it.
    function blockForLine(blocks, line) {
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

    function superseded(token) {
        return state.activeRender !== token;
    }

    async function render(payload) {
        const request = readRender(payload);
        const started = now();
        const previous = state.activeRender;
        const token = {};
        state.activeRender = token;
        if (previous) parser.cancel();
        const generation = ++state.generation;
        endWarmLayout();
        state.language = request.language;
        root.lang = request.language;
        const texts = textsFor(request.language);
        diagrams.reset(generation);

        // The first render of a visible page shows the head of a long
        // document while the rest is being parsed. Whether the page is
        // hidden is asked when the head comes: a page that was just shown
        // (a spare taken into a window) learns its size meanwhile.
        let headView = null;
        const useHead = !request.background && state.view === null && request.scrollLine === null && request.anchor === null;
        const onHead = useHead ? (head) => {
            if (superseded(token) || headView || isHidden()) return;
            headView = makeView(head, generation);
            content.append(headView.article);
            state.view = headView;
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
            const placeholders = headView.builder.append(0, end);
            headView.count = end;
            if (placeholders.length > 0) diagrams.request(placeholders, headView.diagramSources);
        } : undefined;

        const outcome = await parser.parse(request.source, {
            documentID: state.session.documentID,
            language: request.language,
            highlight: request.switches.highlight,
            math: request.switches.math,
            diagrams: request.switches.diagrams,
            generation,
            maxDiagrams: MAX_DIAGRAMS,
        }, parseTimeoutMs, onHead);
        if (superseded(token) || outcome.status === 'cancelled') {
            throw new PageError('superseded', 'a newer render replaced this one');
        }

        let result;
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

        const view = makeView(result, generation);
        diagrams.setTotal(result.diagrams.length);
        if (headView && state.view === headView) adoptHead(headView, view);
        const domStarted = now();
        const hidden = request.background || isHidden();
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
        if (target?.kind === 'source') {
            if (hasSize()) applyLocation(target.location, anchorView(view));
            else state.deferred = { kind: 'source', location: target.location, generation };
        } else if (target?.kind === 'anchor') {
            anchorRestored = restoreAnchor(view, target);
        }
        if (result.diagrams.length > 0 && diagrams.pending === 0) diagrams.progress();
        sendLayoutReport('render');
        updateActiveHeading(true);

        const images = {
            local: result.images.local + view.rawImages.local,
            remote: result.images.remote + view.rawImages.remote,
            rejected: result.images.rejected + view.rawImages.rejected,
        };
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
        return reply;
    }

    // Inserts the blocks in slices. A visible page fills its first screen
    // first and yields to frames; a hidden one yields through the channel.
    // While an older document is on screen, the new one is built out of
    // sight and takes its place once the first screen (and the block the
    // reader returns to) is ready.
    async function insertView(view, token, hidden, target) {
        const { result, article } = view;
        const adopted = state.view === view;
        const old = adopted ? null : state.view;
        let committed = adopted;
        const staging = Boolean(old && old.article.isConnected && !hidden);
        if (staging) article.classList.add('md-staging');
        if (!article.isConnected) content.append(article);

        let targetIndex = -1;
        if (target?.kind === 'source') targetIndex = target.location.index;
        if (target?.kind === 'anchor') {
            const early = locateAnchor(target.anchor, { ...anchorView(view), count: result.blocks.length });
            if (early.index !== undefined) targetIndex = early.index;
        }

        const commit = () => {
            if (committed) return;
            committed = true;
            if (old) {
                removeArticle(old.article);
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
        const sizeOf = (i) => (result.offsets[i + 1] - result.offsets[i]) + (result.blocks[i].raw ? 2048 : 0);
        let sliceBudget = SLICE_MS.initial;
        let lastFrame = null;

        if (total === 0 || !staging) commit();
        // The first slice of a visible page runs until its first screen is
        // filled (within reason), then yields so that the screen paints. A
        // head already on screen was that first slice.
        let firstSlice = !hidden && !adopted;
        let previewed = false;
        // Receiving a long document's parse already took a good part of this
        // frame: the head on screen waits a frame for the rest.
        if (adopted && view.count < total && !isHidden()) {
            lastFrame = await scheduler.nextFrame();
            if (superseded(token)) throw new PageError('superseded', 'a newer render replaced this one');
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
                    previewTarget(view, target, targetIndex);
                }
            } while (view.count < total && now() - sliceStarted < budget);
            firstSlice = false;
            if (view.count >= total) break;
            if (hidden || isHidden()) {
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
                if (!committed) removeArticle(article);
                throw new PageError('superseded', 'a newer render replaced this one');
            }
        }
        commit();
    }

    // Shows the reader's place as soon as its block exists; the final
    // position is set once every block is in.
    function previewTarget(view, target, targetIndex) {
        if (targetIndex < 0 || targetIndex >= view.count || !hasSize()) return;
        if (target.kind === 'source') applyLocation(target.location, anchorView(view));
        else {
            const location = locateAnchor(target.anchor, anchorView(view));
            if (location.index !== undefined) applyLocation(location, anchorView(view));
        }
    }

    // ---- anchors ------------------------------------------------------

    function restoreReport(location, view, startedAt, scrollTop) {
        const report = {
            strategy: location.strategy,
            applied: location.strategy !== 'none',
            blockId: location.index !== undefined ? view.blocks[location.index].id : '',
            scrollTop: finite(scrollTop),
            elapsedMs: round1(now() - startedAt),
        };
        if (location.reason) report.reason = location.reason;
        return report;
    }

    // Restores an anchor after a render. Returns the report for the reply,
    // or undefined when the report comes later as an event (the page has no
    // size yet, or images and diagrams may still move the layout).
    function restoreAnchor(view, target) {
        cancelPin();
        if (!isValidAnchor(target.anchor)) {
            return restoreReport({ strategy: 'none', reason: 'invalidAnchor' }, view, target.startedAt, geometry.scrollTop());
        }
        if (!hasSize()) {
            state.deferred = { kind: 'anchor', anchor: target.anchor, startedAt: target.startedAt, generation: view.generation };
            return undefined;
        }
        const location = locateAnchor(target.anchor, anchorView(view));
        const scrollTop = location.strategy === 'none' ? geometry.scrollTop() : applyLocation(location, anchorView(view));
        if (location.strategy !== 'none' && lateLayoutPending(view)) {
            startPin(view, location, target.startedAt);
            return undefined;
        }
        return restoreReport(location, view, target.startedAt, scrollTop);
    }

    function lateLayoutPending(view) {
        if (diagrams.pending > 0) return true;
        for (const img of view.article.querySelectorAll('img')) if (!img.complete) return true;
        return false;
    }

    // Keeps the restored place while late images and diagrams change the
    // layout, until they are done, the reader scrolls, or time runs out.
    function startPin(view, location, startedAt) {
        const pin = { view, location, startedAt, timer: null };
        pin.timer = win.setTimeout(() => finishPin(pin), PIN_LIMIT_MS);
        state.pin = pin;
    }

    function finishPin(pin) {
        if (state.pin !== pin) return;
        state.pin = null;
        win.clearTimeout(pin.timer);
        const scrollTop = state.view === pin.view ? applyLocation(pin.location, anchorView(pin.view)) : geometry.scrollTop();
        post('anchorRestored', restoreReport(pin.location, pin.view, pin.startedAt, scrollTop));
    }

    function cancelPin() {
        const pin = state.pin;
        if (!pin) return;
        state.pin = null;
        win.clearTimeout(pin.timer);
        post('anchorRestored', restoreReport(pin.location, pin.view, pin.startedAt, geometry.scrollTop()));
    }

    function lateLayoutChanged() {
        const pin = state.pin;
        if (!pin || state.view !== pin.view) return;
        applyLocation(pin.location, anchorView(pin.view));
        if (!lateLayoutPending(pin.view)) finishPin(pin);
    }

    function runDeferred() {
        const deferred = state.deferred;
        if (!deferred || !hasSize()) return;
        state.deferred = null;
        const view = state.view;
        if (!view || view.generation !== deferred.generation) return;
        if (deferred.kind === 'source') {
            applyLocation(deferred.location, anchorView(view));
            return;
        }
        const location = locateAnchor(deferred.anchor, anchorView(view));
        const scrollTop = location.strategy === 'none' ? geometry.scrollTop() : applyLocation(location, anchorView(view));
        if (location.strategy !== 'none' && lateLayoutPending(view)) startPin(view, location, deferred.startedAt);
        else post('anchorRestored', restoreReport(location, view, deferred.startedAt, scrollTop));
    }

    // The first layout in a new web process (fonts, text shaping, the
    // page's style rules) costs several times a later one, and so does the
    // first layout in each language (fonts are chosen per language). The
    // parse worker's warm-up document is laid out once in each language the
    // reader asks for, out of sight, as soon as it arrives, so that the
    // first screen of the first document does not pay for it.
    function warmLayout(result) {
        if (state.view || state.activeRender || !result || typeof result.html !== 'string') return;
        endWarmLayout();
        const box = doc.createElement('div');
        box.className = 'md-warm';
        box.setAttribute('aria-hidden', 'true');
        for (const language of ['en', 'zh-Hans']) {
            const article = doc.createElement('article');
            article.className = 'md-doc';
            article.lang = language;
            const chunk = doc.createElement('div');
            chunk.className = 'md-chunk';
            chunk.innerHTML = result.html;
            article.append(chunk);
            box.append(article);
        }
        doc.body.append(box);
        state.warmBox = box;
        box.getBoundingClientRect();
        // The math fonts it asked for load meanwhile; once they are in, the
        // text is laid out again with them.
        const fonts = doc.fonts?.ready;
        if (!fonts) {
            endWarmLayout();
            return;
        }
        fonts.then(() => {
            if (state.warmBox !== box) return;
            box.getBoundingClientRect();
            endWarmLayout();
        }, endWarmLayout);
    }

    function endWarmLayout() {
        state.warmBox?.remove();
        state.warmBox = null;
    }

    // ---- headings and layout ------------------------------------------

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

    function cssEscape(id) {
        return win.CSS && typeof win.CSS.escape === 'function' ? win.CSS.escape(id) : id.replace(/[^A-Za-z0-9_-]/g, (c) => `\\${c}`);
    }

    // Full-width blocks are sized from the available width. Writing the
    // property on the root restyles every element of the page (most of a
    // second on a long document), so it is written only while wide blocks
    // are full, and only when it changed; before any measurement.
    function syncAvailableWidth() {
        const available = Math.max(0, root.clientWidth);
        if (available > 0 && available !== state.availableWidth && typography.settings.wideBlocks === 'full') {
            state.availableWidth = available;
            root.style.setProperty('--md-available-width', `${available}px`);
        }
        return available;
    }

    function sendLayoutReport(reason) {
        // A page without a size has no layout to speak of; it reports once
        // it gets one.
        if (!hasSize()) return;
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

    // ---- other requests -----------------------------------------------

    function scrollToHeading(payload) {
        if (!isPlainObject(payload) || typeof payload.id !== 'string') {
            throw new PageError('invalidPayload', 'scrollToHeading needs an id');
        }
        const id = payload.id;
        const view = state.view;
        let element = null;
        if (view) {
            const byHeading = (key) => {
                const index = view.indexById.get(key);
                return index !== undefined && view.blocks[index].kind === 'heading' ? view.elements[index] ?? null : null;
            };
            const inArticle = (key) => {
                const found = key ? doc.getElementById(key) : null;
                return found && view.article.contains(found) ? found : null;
            };
            element = byHeading(id) ?? inArticle(id) ?? byHeading(slug(id)) ?? inArticle(`user-content-${id}`);
        }
        if (element) {
            cancelPin();
            const target = Math.max(0, Math.min(geometry.top(element) - state.insets.top, geometry.maxScroll()));
            geometry.setScrollTop(target);
        }
        return { id, found: Boolean(element) };
    }

    function setViewportInsets(payload) {
        if (!isPlainObject(payload) || !isFiniteNumber(payload.top) || !isFiniteNumber(payload.bottom)) {
            throw new PageError('invalidPayload', 'setViewportInsets needs finite top and bottom');
        }
        state.insets = { top: Math.max(0, payload.top), bottom: Math.max(0, payload.bottom) };
        geometry.setReadingLine?.(state.insets.top);
        root.style.setProperty('--md-inset-top', `${state.insets.top}px`);
        root.style.setProperty('--md-inset-bottom', `${state.insets.bottom}px`);
        return { top: state.insets.top, bottom: state.insets.bottom, originOffset: finite(geometry.top(content)) };
    }

    async function capabilities() {
        let dynamicImport = false;
        try {
            if (host.importSelf) {
                await host.importSelf();
                dynamicImport = true;
            }
        } catch {
            dynamicImport = false;
        }
        let moduleWorker = false;
        try {
            moduleWorker = parser.mode === 'worker' && await parser.ping(3000);
        } catch {
            moduleWorker = false;
        }
        return {
            isSecureContext: Boolean(win.isSecureContext),
            cryptoSubtle: Boolean(win.crypto && win.crypto.subtle),
            moduleWorker,
            dynamicImport,
            cspBlockedInlineScript: inlineScriptBlocked(),
            userAgent: String(win.navigator?.userAgent ?? ''),
        };
    }

    // Tries an inline script of our own; under the page's content security
    // policy it must not run.
    function inlineScriptBlocked() {
        const flag = '__larkspinInlineProbe';
        win[flag] = false;
        state.probeGuardUntil = now() + 1000;
        const script = doc.createElement('script');
        script.textContent = `window.${flag} = true;`;
        (doc.head ?? root).append(script);
        script.remove();
        const ran = win[flag] === true;
        delete win[flag];
        return !ran;
    }

    const handlers = {
        render,
        probe: capabilities,
        setBackground: (payload) => theme.setBackground(payload, win),
        setTheme: (payload) => theme.setTheme(payload),
        scrollToHeading,
        setTypography: (payload) => {
            const reply = typography.setTypography(payload);
            syncAvailableWidth();
            scheduleLayout('typography');
            return reply;
        },
        diagramResult: (payload) => {
            const reply = diagrams.apply(payload);
            if (reply.accepted) lateLayoutChanged();
            return reply;
        },
        find: (payload) => find.find(payload),
        clearFind: () => find.clear(),
        setViewportInsets,
        captureAnchor: () => {
            const view = state.view;
            const anchor = view ? captureAnchor(anchorView(view)) : null;
            return anchor ? { anchor } : {};
        },
        setAccessibility: (payload) => theme.setAccessibility(payload),
    };

    // ---- entry point --------------------------------------------------

    function errorEnvelope(echo, code, message) {
        return makeEnvelope({
            messageID: echo.messageID ?? '',
            viewSessionID: echo.viewSessionID ?? state.session.viewSessionID,
            documentID: echo.documentID ?? state.session.documentID,
            sourceRevision: echo.sourceRevision ?? state.session.sourceRevision,
            renderGeneration: state.generation,
            type: 'error',
            payload: { code: String(code), message: String(message) },
        });
    }

    function handleMessage(value) {
        let read;
        try {
            read = readRequest(value);
        } catch (error) {
            return Promise.resolve(errorEnvelope({}, 'invalidEnvelope', String(error?.message ?? error)));
        }
        if (!read.ok) return Promise.resolve(errorEnvelope(read.echo, read.code, read.message));
        const envelope = read.envelope;

        // Every request names the session; a prewarmed page changes session
        // without reloading.
        state.session = {
            viewSessionID: envelope.viewSessionID,
            documentID: envelope.documentID,
            sourceRevision: envelope.sourceRevision,
        };
        if (!state.seenRequest) {
            state.seenRequest = true;
            const queued = state.queue;
            state.queue = [];
            for (const [type, payload] of queued) send(type, payload);
        }

        const answer = (type, payload) => makeEnvelope({
            messageID: envelope.messageID,
            viewSessionID: envelope.viewSessionID,
            documentID: envelope.documentID,
            sourceRevision: envelope.sourceRevision,
            renderGeneration: state.generation,
            type,
            payload,
        });
        return Promise.resolve()
            .then(() => handlers[envelope.type](envelope.payload))
            .then(
                (payload) => answer(REPLY_OF[envelope.type], payload ?? {}),
                (error) => errorEnvelope(
                    envelope,
                    error instanceof PageError ? error.code : 'internal',
                    error?.message ?? String(error),
                ),
            )
            .catch((error) => errorEnvelope(envelope, 'internal', String(error)));
    }

    // ---- listeners ----------------------------------------------------

    let layoutTimer = null;
    let layoutReason = 'resize';
    function scheduleLayout(reason) {
        layoutReason = reason;
        if (layoutTimer !== null) return;
        layoutTimer = win.setTimeout(() => {
            layoutTimer = null;
            sendLayoutReport(layoutReason);
        }, 50);
    }

    function onResize() {
        const size = { width: win.innerWidth, height: win.innerHeight };
        if (size.width === state.lastSize.width && size.height === state.lastSize.height) return;
        const wasEmpty = state.lastSize.width === 0 || state.lastSize.height === 0;
        state.lastSize = size;
        if (size.width === 0 || size.height === 0) return;
        if (wasEmpty) runDeferred();
        scheduleLayout('resize');
    }

    let scrollTimer = null;
    function onScroll() {
        if (scrollTimer !== null) return;
        scrollTimer = win.setTimeout(() => {
            scrollTimer = null;
            updateActiveHeading();
        }, 80);
    }

    const onInteraction = () => cancelPin();
    const onLoad = (event) => {
        if (event.target && event.target.localName === 'img') lateLayoutChanged();
    };
    const onError = (event) => {
        if (event.target && event.target.localName === 'img') {
            lateLayoutChanged();
            return;
        }
        if (event.target === win || event.target === undefined) postError('scriptError', event.message ?? 'error');
    };
    const onRejection = (event) => postError('scriptError', event.reason?.message ?? String(event.reason));
    const onViolation = (event) => {
        if (now() < state.probeGuardUntil && String(event.violatedDirective ?? '').startsWith('script-src')) return;
        postError('cspViolation', `${event.violatedDirective ?? ''} ${event.blockedURI ?? ''}`.trim());
    };

    const listen = (target, type, fn, options) => {
        target.addEventListener(type, fn, options);
        state.disposers.push(() => target.removeEventListener(type, fn, options));
    };
    listen(win, 'resize', onResize);
    listen(win, 'scroll', onScroll, { passive: true });
    for (const type of ['wheel', 'keydown', 'mousedown', 'touchstart']) listen(win, type, onInteraction, { passive: true });
    listen(content, 'load', onLoad, true);
    listen(content, 'error', onError, true);
    listen(win, 'error', onError);
    listen(win, 'unhandledrejection', onRejection);
    listen(doc, 'securitypolicyviolation', onViolation);

    function dispose() {
        for (const fn of state.disposers.splice(0)) fn();
        geometry.dispose?.();
        if (layoutTimer !== null) win.clearTimeout(layoutTimer);
        if (scrollTimer !== null) win.clearTimeout(scrollTimer);
        if (state.pin) win.clearTimeout(state.pin.timer);
        scheduler.dispose();
        parser.dispose?.();
    }

    return { handleMessage, postReady, dispose, onResize, onScroll, warmLayout };
}
