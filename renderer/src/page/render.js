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
import { LONG_BLOCK_CHARS, longBlockShare } from './blocks.js';
import { createEnhancer } from './enhance.js';

/** @typedef {import('./state.js').PageState} PageState */
/** @typedef {import('./state.js').Block} Block */
/** @typedef {import('./state.js').ParseResult} ParseResult */
/** @typedef {import('./view.js').View} View */
/** @typedef {import('./restore.js').Target} Target */
/** @typedef {import('../protocol.js').ReplyPayload<'render'>} RenderedReply */
/** @typedef {ReturnType<ReturnType<typeof import('./scheduler.js').createScheduler>['frameMeter']>} FrameMeter */

const MAX_DIAGRAMS = 100;
// The first screen: what fills this many times the view's height, by the
// blocks' estimated heights (with room to spare, as estimates are rough).
const FIRST_SCREEN_FACTOR = 1.5;
// A visible page inserts a slice of blocks per frame. The browser's own work
// for a slice (style, layout, paint) comes on top of it and costs several
// times the slice for heavy markup such as typeset math, so the slice's
// budget follows the frames actually seen: a frame longer than this shrinks
// it, a short one lets it grow again.
const FRAME_TARGET_MS = 34;
const SLICE_MS = { initial: 6, min: 3, max: 10 };
// The browser's own work for the blocks of a slice, at most this many times
// the slice (typeset math and tables near the screen).
const SLICE_LAYOUT_FACTOR = 3;
// The items of a long block (a table's rows) go in one piece per frame. The
// browser's work at such a frame is that for the new items (their style and
// layout, far more than parsing them) and a part that grows with the block
// already in place (a table is laid out again whole, about 5 µs a row here).
// The piece's size follows the frames seen: a frame's time per character of
// the piece, the least seen, stands for the new items' share; the rest of
// the frame is the block's own. Pieces keep frames within the target while
// they can; once the block's own part passes half of it, a piece costs about
// as much as that part, so that a long table takes frames of about twice
// it rather than very many.
const LONG_PIECE_CHARS = { initial: 16 * 1024, min: 2048, max: 256 * 1024 };

/**
 * The size of a long block's next piece after a frame of `gap` ms that
 * added `piece` characters of it. `seen` carries what the frames so far
 * told: the least time per character of a piece (the new items' share),
 * and the block's own part of a frame, smoothed (a busy machine makes
 * single frames far longer or shorter). A piece grows at most twofold.
 * @param {number} gap
 * @param {number} piece
 * @param {{perChar: number, own: number} | null} seen
 * @returns {{bytes: number, seen: {perChar: number, own: number}}}
 */
export function nextPieceSize(gap, piece, seen) {
    const perChar = Math.max(1e-6, Math.min(seen?.perChar ?? Infinity, gap / Math.max(1, piece)));
    const measured = Math.max(0, gap - perChar * piece);
    const own = seen ? seen.own * 0.7 + measured * 0.3 : measured;
    const wanted = Math.max(FRAME_TARGET_MS - own, own) / perChar;
    const bytes = Math.max(LONG_PIECE_CHARS.min, Math.min(LONG_PIECE_CHARS.max, piece * 2, wanted));
    return { bytes: Math.round(bytes), seen: { perChar, own } };
}
// The markup of a long block's first piece in a long document's head.
const HEAD_PIECE_CHARS = 16 * 1024;

/**
 * Whether block i goes in piece by piece (see blocks.js).
 * @param {ParseResult} result
 * @param {number} i
 */
function isLong(result, i) {
    return !result.blocks[i].raw && result.offsets[i + 1] - result.offsets[i] > LONG_BLOCK_CHARS;
}

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
 * @param {import('../protocol.js').RequestPayload<'render'>} payload
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
    /** @type {number | null} */
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

/**
 * The time for the next slice of insertion: less after a frame that came
 * late because of the slice, more after one that came early. A frame late
 * by far more than the slice and the browser's work for it could make it
 * (a slow paint, a busy machine) keeps the budget: a smaller slice would
 * not bring the frames back, only make the insertion take more of them.
 * @param {number} budget
 * @param {number | null} frame  this frame's time stamp
 * @param {number | null} lastFrame  the one before
 * @param {number} spent  the time the slice took
 */
function nextSliceBudget(budget, frame, lastFrame, spent) {
    if (frame === null || lastFrame === null) return budget;
    const gap = frame - lastFrame;
    if (gap > FRAME_TARGET_MS && gap - FRAME_TARGET_MS > spent * (1 + SLICE_LAYOUT_FACTOR)) return budget;
    if (gap > FRAME_TARGET_MS) return Math.max(SLICE_MS.min, budget * 0.7);
    if (gap < FRAME_TARGET_MS * 0.6) return Math.min(SLICE_MS.max, budget * 1.2);
    return budget;
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
 * @param {{forget(): void, replaced(index: number): void, prepare(view: View): Promise<void>}} parts.find
 *     hears of each block that highlighting or math replaced, and reads a
 *     shown document's text ahead of a search
 * @param {ReturnType<typeof import('./restore.js').createRestore>} parts.restore
 * @param {ReturnType<typeof import('./layout.js').createLayout>} parts.layout
 */
export function createRenderer({
    doc, content, geometry, now, parser, scheduler, parseTimeoutMs, state, views, diagrams, find, restore, layout,
}) {
    const enhancer = createEnhancer({ doc, geometry, now, scheduler, state, find });

    /** @param {object} token */
    function superseded(token) {
        return state.activeRender !== token;
    }

    /**
     * Makes the request the page's current render: the one under way is
     * superseded, and the generation, language and diagrams start afresh.
     * @param {RenderRequest} request
     */
    function begin(request) {
        enhancer.stop();
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
        diagrams.reset(generation);
        return { token, generation, started, texts: textsFor(request.language) };
    }

    /**
     * The first render of a visible page shows the head of a long document
     * while the rest is being parsed. Whether the page is hidden is asked
     * when the head comes: a page that was just shown (a spare taken into a
     * window) learns its size meanwhile.
     * @param {RenderRequest} request
     * @param {object} token
     * @param {number} generation
     * @returns {{view: View | null, onHead: ((head: ParseResult) => void) | undefined}}
     */
    function headPreview(request, token, generation) {
        /** @type {{view: View | null, onHead: ((head: ParseResult) => void) | undefined}} */
        const head = { view: null, onHead: undefined };
        const useHead = !request.background && state.view === null && request.scrollLine === null && request.anchor === null;
        if (!useHead) return head;
        head.onHead = (parsed) => {
            if (superseded(token) || head.view || isHidden(doc, geometry)) return;
            const shown = views.makeView(parsed, generation);
            head.view = shown;
            content.append(shown.article);
            state.view = shown;
            state.activeHeading = -1;
            // Only what fills the first screen (by the blocks' estimated
            // heights, with room to spare): its layout is what the reader
            // waits for, and the rest comes with the full parse.
            const height = geometry.viewportHeight();
            let end = parsed.blocks.length;
            if (height > 0) {
                let filled = 0;
                end = 0;
                while (end < parsed.blocks.length && filled < height * FIRST_SCREEN_FACTOR) filled += parsed.blocks[end++].est || 40;
            }
            // A long block shows its first items only.
            const placeholders = [];
            while (shown.count < end) {
                let to = shown.count;
                while (to < end && !isLong(parsed, to)) to++;
                if (to > shown.count) placeholders.push(...shown.builder.append(shown.count, to));
                shown.count = to;
                if (to >= end) break;
                if (shown.builder.startLong(to, HEAD_PIECE_CHARS)) {
                    shown.count = to + 1;
                    break;
                }
                placeholders.push(...shown.builder.append(to, to + 1));
                shown.count = to + 1;
            }
            if (placeholders.length > 0) diagrams.request(placeholders, shown.diagramSources);
        };
        return head;
    }

    /**
     * The blocks to show: the parse's, or the source as plain text when the
     * parse ran out of time or failed.
     * @param {import('./state.js').ParseOutcome & {status: 'ok' | 'timeout' | 'failed'}} outcome
     * @param {string} source
     * @param {import('../texts.js').Texts} texts
     * @returns {{result: ParseResult, degraded: {reason: string, message: string} | null}}
     */
    function resultOf(outcome, source, texts) {
        if (outcome.status === 'ok') return { result: outcome.result, degraded: null };
        const degraded = outcome.status === 'timeout'
            ? { reason: 'timeout', message: texts.parseTimeout }
            : { reason: 'parseFailed', message: `${texts.parseFailed} (${outcome.message})` };
        return { result: plainResult(source), degraded };
    }

    /**
     * Where the reader wants to be once the blocks are in place.
     * @param {RenderRequest} request
     * @param {ParseResult} result
     * @returns {{target: Target | null, scrolledToSource: RenderedReply['scrolledToSource']}}
     */
    function targetOf(request, result) {
        if (request.scrollLine !== null) {
            const hit = blockForLine(result.blocks, request.scrollLine);
            if (!hit) {
                return {
                    target: null,
                    scrolledToSource: { line: request.scrollLine, found: false, blockId: '', sourceStart: 0, sourceEnd: 0, strategy: 'none' },
                };
            }
            const block = result.blocks[hit.index];
            return {
                target: { kind: 'source', location: { strategy: 'exact', index: hit.index, fraction: 0 } },
                scrolledToSource: {
                    line: request.scrollLine, found: true, blockId: block.id,
                    sourceStart: block.start, sourceEnd: block.end, strategy: hit.strategy,
                },
            };
        }
        if (request.anchor !== null) return { target: { kind: 'anchor', anchor: request.anchor, startedAt: now() }, scrolledToSource: undefined };
        return { target: null, scrolledToSource: undefined };
    }

    /**
     * Inserts the view's blocks; returns the time it took.
     * @param {View} view
     * @param {object} token
     * @param {boolean} hidden
     * @param {Target | null} target
     * @param {() => void} onShown  called once the view is the page's and its first screen is in
     */
    async function insertTimed(view, token, hidden, target, onShown) {
        const domStarted = now();
        await insertView(view, token, hidden, target, onShown);
        return now() - domStarted;
    }

    /**
     * Whether the frames of this render are measured: a visible page's.
     * @param {FrameMeter | null} meter
     * @param {boolean} hidden
     * @returns {boolean}
     */
    function framed(meter, hidden) {
        return meter !== null && meter.framed && !hidden && !isHidden(doc, geometry);
    }

    /**
     * Waits for the frame that lays out and paints the last blocks to be
     * over (a task after it), on a page with frames.
     * @param {FrameMeter | null} meter
     * @param {boolean} hidden
     */
    async function laidOut(meter, hidden) {
        if (!framed(meter, hidden)) return;
        await scheduler.nextFrame();
        await scheduler.yieldTask();
    }

    /**
     * What the frame meter saw from the request to now, the last change. A
     * page that was or became hidden has no frames to speak of.
     * @param {FrameMeter | null} meter
     * @param {boolean} hidden
     */
    function framesSeen(meter, hidden) {
        if (meter && framed(meter, hidden)) return meter.stop(true);
        meter?.stop(false);
        return { frameCount: 0, maxFrameGapMs: 0 };
    }

    /**
     * After the elements are in place: the reader's place, the diagrams'
     * progress, the layout report and the active heading.
     * @param {View} view
     * @param {ParseResult} result
     * @param {Target | null} target
     * @returns {import('./restore.js').RestoreReport | undefined}
     */
    function settleInPlace(view, result, target) {
        let anchorRestored;
        if (target?.kind === 'source') restore.applySource(target.location, view);
        else if (target?.kind === 'anchor') anchorRestored = restore.restoreAnchor(view, target);
        if (result.diagrams.length > 0 && diagrams.pending === 0) diagrams.progress();
        layout.sendReport('render');
        layout.updateActiveHeading(true);
        return anchorRestored;
    }

    /**
     * @param {object} made
     * @param {View} made.view
     * @param {ParseResult} made.result
     * @param {number} made.generation
     * @param {{reason: string, message: string} | null} made.degraded
     * @param {number} made.waitMs
     * @param {{frameCount: number, maxFrameGapMs: number}} made.frames
     * @param {number} made.domMs
     * @param {number} made.started
     * @param {number} made.postStarted
     * @returns {RenderedReply}
     */
    function replyOf({ view, result, generation, degraded, waitMs, frames, domMs, started, postStarted }) {
        const images = {
            local: result.images.local + view.rawImages.local,
            remote: result.images.remote + view.rawImages.remote,
            rejected: result.images.rejected + view.rawImages.rejected,
        };
        return {
            headings: result.headings.map((h) => ({ level: h.level, text: h.text, id: h.id })),
            renderGeneration: generation,
            images,
            parserMode: degraded ? 'plain' : parser.mode,
            timings: {
                parseMs: round1(result.parseMs),
                parseWaitMs: round1(waitMs),
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
    }

    /**
     * @param {import('../protocol.js').RequestPayload<'render'>} payload
     * @returns {Promise<RenderedReply>}
     */
    async function render(payload) {
        const request = readRender(payload);
        const { token, generation, started, texts } = begin(request);
        // The frames of a visible page count from the request on.
        const meter = request.background || isHidden(doc, geometry) ? null : scheduler.frameMeter();
        try {
            return await renderMetered(request, token, generation, started, texts, meter);
        } finally {
            meter?.stop();
        }
    }

    /**
     * @param {RenderRequest} request
     * @param {object} token
     * @param {number} generation
     * @param {number} started
     * @param {import('../texts.js').Texts} texts
     * @param {FrameMeter | null} meter
     * @returns {Promise<RenderedReply>}
     */
    async function renderMetered(request, token, generation, started, texts, meter) {
        const head = headPreview(request, token, generation);
        const { feed, onEnhanced } = enhancer.feed();
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
            // The blocks of the screen shown first come with their
            // highlighting and math (those below it get theirs a frame later).
            firstScreen: enhancing ? geometry.viewportHeight() : 0,
        }, parseTimeoutMs, head.onHead, enhancing ? onEnhanced : undefined);
        if (superseded(token) || outcome.status === 'cancelled') throw supersededError();

        const { result, degraded } = resultOf(outcome, request.source, texts);
        const { target, scrolledToSource } = targetOf(request, result);

        const view = views.makeView(result, generation);
        diagrams.setTotal(result.diagrams.length);
        if (head.view && state.view === head.view) {
            views.adoptHead(head.view, view);
            state.view = view;
            find.forget();
        }
        const hidden = request.background || isHidden(doc, geometry);
        // Highlighting and math start once the first screen is in, beside
        // the insertion of the rest, so that the screen is complete with
        // the reply rather than a while after it.
        let enhancementsStarted = false;
        const startEnhancing = () => {
            if (enhancementsStarted || outcome.status !== 'ok' || !((outcome.later ?? 0) > 0) || superseded(token)) return;
            enhancementsStarted = true;
            void enhancer.apply(view, feed);
        };
        const domMs = await insertTimed(view, token, hidden, target, startEnhancing);
        views.dropMarkup(view);
        // The place, the layout report and the heading are read from a page
        // the browser has laid out, and the meter sees that layout's frame.
        await laidOut(meter, hidden);
        if (superseded(token)) throw supersededError();
        if (!hidden) void find.prepare(view);

        const postStarted = now();
        const anchorRestored = settleInPlace(view, result, target);
        const frames = framesSeen(meter, hidden);
        if (state.activeRender === token) state.activeRender = null;
        const reply = replyOf({ view, result, generation, degraded, waitMs: outcome.waitMs, frames, domMs, started, postStarted });
        if (degraded) reply.degraded = degraded;
        if (anchorRestored) reply.anchorRestored = anchorRestored;
        if (scrolledToSource) reply.scrolledToSource = scrolledToSource;
        return reply;
    }

    /**
     * The block the reader returns to, if the target names one already.
     * @param {View} view
     * @param {Target | null} target
     */
    function targetIndexOf(view, target) {
        if (target?.kind === 'source') return target.location.index ?? -1;
        if (target?.kind === 'anchor') {
            const early = locateAnchor(target.anchor, { ...views.anchorView(view), count: view.result.blocks.length });
            if (early.index !== undefined) return early.index;
        }
        return -1;
    }

    /**
     * Where a view's new article stands: built out of sight while an older
     * document is on screen (staging), then put in its place (commit).
     * @param {View} view
     * @param {boolean} hidden
     */
    function stage(view, hidden) {
        const { article } = view;
        const adopted = state.view === view;
        const old = adopted ? null : state.view;
        const staging = Boolean(old && old.article.isConnected && !hidden);
        if (staging) article.classList.add('md-staging');
        if (!article.isConnected) content.append(article);
        const stand = {
            adopted,
            staging,
            committed: adopted,
            commit() {
                if (stand.committed) return;
                stand.committed = true;
                if (old) {
                    views.removeArticle(old.article);
                    find.forget();
                }
                article.classList.remove('md-staging');
                state.view = view;
                state.activeHeading = -1;
            },
        };
        return stand;
    }

    /**
     * Whether the blocks in place fill a screen from the top, or from the
     * block the reader returns to. By the blocks' estimated heights, with
     * room to spare: the chunks are sized by estimates, and measuring the
     * blocks would lay out every chunk being filled.
     * @param {View} view
     * @param {number} targetIndex
     * @returns {() => boolean}
     */
    function firstScreenWatch(view, targetIndex) {
        const from = Math.max(0, targetIndex);
        let filledTo = from;
        let filledHeight = 0;
        /** @param {number} i */
        const est = (i) => view.result.blocks[i].est || 40;
        return () => {
            const height = geometry.viewportHeight();
            if (height <= 0) return true;
            if (view.count <= from) return false;
            // A long block still going in counts by the share of it in place.
            const long = view.long && view.long.index >= from ? view.long : null;
            const complete = long ? long.index : view.count;
            for (; filledTo < complete; filledTo++) filledHeight += est(filledTo);
            const partial = long ? est(long.index) * longBlockShare(long) : 0;
            return filledHeight + partial >= height * FIRST_SCREEN_FACTOR;
        };
    }

    // The characters of markup of the last piece of a long block appended.
    let lastPiece = 0;

    /**
     * Appends the next batch of blocks, of about `batchBytes` of markup, and
     * asks for their diagrams; returns the time it took.
     * @param {View} view
     * @param {(i: number) => number} sizeOf
     * @param {number} batchBytes
     * @param {number} pieceBytes  for the next items of a long block
     */
    function appendBatch(view, sizeOf, batchBytes, pieceBytes) {
        const batchStarted = now();
        /** @type {Element[]} */
        let placeholders;
        if (view.long) {
            // The next items of a long block, a change to a block in place.
            const long = view.long;
            const from = long.cuts[long.next];
            placeholders = view.builder.continueLong(pieceBytes);
            lastPiece = long.cuts[long.next] - from;
        } else if (isLong(view.result, view.count) && view.builder.startLong(view.count, batchBytes)) {
            placeholders = [];
            view.count += 1;
        } else {
            const total = view.result.blocks.length;
            let to = view.count + 1;
            let size = sizeOf(view.count);
            while (to < total && !isLong(view.result, to) && size + sizeOf(to) <= batchBytes) size += sizeOf(to++);
            placeholders = view.builder.append(view.count, to);
            view.count = to;
        }
        if (placeholders.length > 0) diagrams.request(placeholders, view.diagramSources);
        return now() - batchStarted;
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
     * @param {() => void} onShown  called once the view is the page's and its first screen is in
     */
    async function insertView(view, token, hidden, target, onShown) {
        const { result, article } = view;
        const stand = stage(view, hidden);
        const targetIndex = targetIndexOf(view, target);
        const firstScreenReady = firstScreenWatch(view, targetIndex);

        const total = result.blocks.length;
        let batchBytes = 16 * 1024;
        // A raw block's markup is sanitised on its own, which costs about as
        // much as 2 KB of plain markup.
        /** @param {number} i */
        const sizeOf = (i) => (result.offsets[i + 1] - result.offsets[i]) + (result.blocks[i].raw ? 2048 : 0);
        let sliceBudget = SLICE_MS.initial;
        let pieceBytes = LONG_PIECE_CHARS.initial;
        /** @type {{perChar: number, own: number} | null} */
        let pieceSeen = null;
        // Whether the last slice added to a long block.
        let growPiece = false;
        /** @type {number | null} */
        let lastFrame = null;

        if (total === 0 || !stand.staging) stand.commit();
        // The first slice of a visible page runs until its first screen is
        // filled (within reason), then yields so that the screen paints. A
        // head already on screen was that first slice.
        let firstSlice = !hidden && !stand.adopted;
        let previewed = false;
        const more = () => view.count < total || view.long !== null;
        // Receiving a long document's parse already took a good part of this
        // frame: the head on screen waits a frame for the rest.
        if (stand.adopted && more() && !isHidden(doc, geometry)) {
            lastFrame = await scheduler.nextFrame();
            if (superseded(token)) throw supersededError();
        }
        while (more()) {
            const sliceStarted = now();
            const budget = hidden ? 40 : firstSlice ? 150 : sliceBudget;
            do {
                const inLong = view.long !== null;
                const spent = appendBatch(view, sizeOf, batchBytes, hidden ? batchBytes : pieceBytes);
                if (!inLong) {
                    if (spent > Math.min(4, budget / 2) && batchBytes > 2048) batchBytes = Math.floor(batchBytes / 2);
                    else if (spent < 1 && batchBytes < 512 * 1024) batchBytes *= 2;
                }
                if (firstSlice || !stand.committed) {
                    const ready = firstScreenReady();
                    if (!stand.committed && ready) stand.commit();
                    if (ready && firstSlice) {
                        firstSlice = false;
                        break;
                    }
                }
                if (stand.committed && !previewed && target && view.count > targetIndex && targetIndex >= 0) {
                    previewed = true;
                    restore.preview(view, target, targetIndex);
                }
                // A piece of a long block per frame (as many as a hidden
                // page's slice takes).
                if (inLong && !hidden) {
                    growPiece = true;
                    break;
                }
            } while (more() && now() - sliceStarted < budget);
            const sliceSpent = now() - sliceStarted;
            firstSlice = false;
            if (!more()) break;
            if (stand.committed) onShown();
            if (hidden || isHidden(doc, geometry)) {
                await scheduler.yieldTask();
            } else {
                const frame = await scheduler.nextFrame();
                if (growPiece && frame !== null && lastFrame !== null) {
                    const next = nextPieceSize(frame - lastFrame, lastPiece, pieceSeen);
                    pieceBytes = next.bytes;
                    pieceSeen = next.seen;
                } else {
                    sliceBudget = nextSliceBudget(sliceBudget, frame, lastFrame, sliceSpent);
                }
                growPiece = false;
                lastFrame = frame;
            }
            if (superseded(token)) {
                if (!stand.committed) views.removeArticle(article);
                throw supersededError();
            }
        }
        stand.commit();
        onShown();
    }

    // Ends the highlighting and math still coming (the page is closing).
    function dispose() {
        enhancer.stop();
    }

    return { render, dispose };
}
