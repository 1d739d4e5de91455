// @ts-check
// What a render request asks and what it answers: the request read and
// checked, the blocks shown when the parse failed, the place the reader
// returns to, the frames seen, and the reply.

import { PageError, isPlainObject, isInteger, round1 } from './protocol.js';
import { plainResult } from './plain.js';
import { isHidden } from './layout.js';

/** @typedef {import('./state.js').Block} Block */
/** @typedef {import('./state.js').ParseResult} ParseResult */
/** @typedef {import('./view.js').View} View */
/** @typedef {import('./restore.js').Target} Target */
/** @typedef {import('../protocol.js').ReplyPayload<'render'>} RenderedReply */
/** @typedef {ReturnType<ReturnType<typeof import('./scheduler.js').createScheduler>['frameMeter']>} FrameMeter */

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
 * @param {object} parts
 * @param {Document} parts.doc
 * @param {import('./state.js').Geometry} parts.geometry
 * @param {() => number} parts.now
 * @param {import('./state.js').Parser} parts.parser
 * @param {ReturnType<typeof import('./scheduler.js').createScheduler>} parts.scheduler
 * @param {number} parts.parseTimeoutMs
 * @param {ReturnType<typeof import('./diagrams.js').createDiagrams>} parts.diagrams
 * @param {ReturnType<typeof import('./restore.js').createRestore>} parts.restore
 * @param {ReturnType<typeof import('./layout.js').createLayout>} parts.layout
 */
export function createReplies({ doc, geometry, now, parser, scheduler, parseTimeoutMs, diagrams, restore, layout }) {
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

    return { resultOf, targetOf, laidOut, framesSeen, settleInPlace, replyOf };
}
