// @ts-check
// The render request: parses the source (showing a long document's head
// first), inserts the blocks in slices, returns the reader to its place and
// answers with what was rendered. A newer render supersedes one under way,
// which then answers "superseded".

import { isHidden } from './layout.js';
import { readRender, createReplies } from './reply.js';
import { textsFor } from '../texts.js';
import { FIRST_SCREEN_FACTOR, isLong, supersededError, createInserter } from './insert.js';
import { createEnhancer } from './enhance.js';

/** @typedef {import('./state.js').PageState} PageState */
/** @typedef {import('./state.js').ParseResult} ParseResult */
/** @typedef {import('./view.js').View} View */
/** @typedef {import('../protocol.js').ReplyPayload<'render'>} RenderedReply */
/** @typedef {import('./reply.js').RenderRequest} RenderRequest */
/** @typedef {ReturnType<ReturnType<typeof import('./scheduler.js').createScheduler>['frameMeter']>} FrameMeter */

const MAX_DIAGRAMS = 100;
// The markup of a long block's first piece in a long document's head.
const HEAD_PIECE_CHARS = 16 * 1024;

/**
 * @param {object} parts
 * @param {Document} parts.doc
 * @param {HTMLElement} parts.content  holds the articles
 * @param {import('./state.js').Geometry} parts.geometry
 * @param {() => number} parts.now
 * @param {import('./state.js').Parser} parts.parser
 * @param {ReturnType<typeof import('./scheduler.js').createScheduler>} parts.scheduler
 * @param {ReturnType<typeof import('./budget.js').createFrameBudget>} parts.budget  grants the slices of frames
 * @param {number} parts.parseTimeoutMs
 * @param {PageState} parts.state
 * @param {ReturnType<typeof import('./view.js').createViews>} parts.views
 * @param {ReturnType<typeof import('./diagrams.js').createDiagrams>} parts.diagrams
 * @param {{forget(): void, replaced(index: number): void, prepare(view: View): Promise<void>, completed(view: View): void}} parts.find
 *     hears of each block that highlighting or math replaced, and reads a
 *     shown document's text ahead of a search
 * @param {ReturnType<typeof import('./restore.js').createRestore>} parts.restore
 * @param {ReturnType<typeof import('./layout.js').createLayout>} parts.layout
 */
export function createRenderer({
    doc, content, geometry, now, parser, scheduler, budget, parseTimeoutMs, state, views, diagrams, find, restore, layout,
}) {
    const enhancer = createEnhancer({ doc, geometry, now, scheduler, budget, state, find, parser });
    const replies = createReplies({ doc, geometry, now, parser, scheduler, parseTimeoutMs, diagrams, restore, layout });
    const inserter = createInserter({ doc, content, geometry, now, scheduler, budget, state, views, diagrams, find, restore });

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

        const { result, degraded } = replies.resultOf(outcome, request.source, texts);
        const { target, scrolledToSource } = replies.targetOf(request, result);

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
        const domMs = await inserter.insertTimed(view, token, hidden, target, startEnhancing);
        views.dropMarkup(view);
        // The place, the layout report and the heading are read from a page
        // the browser has laid out, and the meter sees that layout's frame.
        await replies.laidOut(meter, hidden);
        if (superseded(token)) throw supersededError();
        find.completed(view);
        if (!hidden) void find.prepare(view);

        const postStarted = now();
        const anchorRestored = replies.settleInPlace(view, result, target);
        const frames = replies.framesSeen(meter, hidden);
        if (state.activeRender === token) state.activeRender = null;
        const reply = replies.replyOf({ view, result, generation, degraded, waitMs: outcome.waitMs, frames, domMs, started, postStarted });
        if (degraded) reply.degraded = degraded;
        if (anchorRestored) reply.anchorRestored = anchorRestored;
        if (scrolledToSource) reply.scrolledToSource = scrolledToSource;
        return reply;
    }

    // Ends the highlighting and math still coming (the page is closing).
    function dispose() {
        enhancer.stop();
    }

    return { render, dispose };
}
