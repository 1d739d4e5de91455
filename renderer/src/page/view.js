// @ts-check
// The view of a rendered document: its parse result, the article its blocks
// go into (in chunks) and the elements made so far.

import { appendBlocks, startLongBlock, continueLongBlock, fitColumns } from './blocks.js';
import { textsFor } from '../texts.js';

/** @typedef {import('./state.js').PageState} PageState */
/** @typedef {import('./state.js').Geometry} Geometry */
/** @typedef {import('./state.js').ParseResult} ParseResult */

/**
 * @typedef {object} Builder
 * @property {(from: number, to: number) => Element[]} append  appends blocks
 *     [from, to) and returns the diagram placeholders among them
 * @property {() => void} resume  continues in an article that holds chunks
 * @property {(index: number, bytes: number) => boolean} startLong  starts
 *     the long block at `index` with its first items (see blocks.js), and
 *     makes it the view's `long`; false when it cannot be cut
 * @property {(bytes: number) => Element[]} continueLong  appends the long
 *     block's next items, ends `long` after the last, and returns the
 *     diagram placeholders among them
 */

/**
 * @typedef {object} View
 * @property {number} generation
 * @property {ParseResult} result
 * @property {import('./state.js').Block[]} blocks
 * @property {import('./state.js').Heading[]} headings
 * @property {number[]} headingBlocks  block index of each heading
 * @property {Element[]} elements  of blocks [0, count)
 * @property {number} count  blocks in place (the last one may be a long
 *     block whose items are still going in)
 * @property {import('./blocks.js').LongBlock | null} long  that block
 * @property {Map<string, number>} indexById
 * @property {HTMLElement} article
 * @property {import('./state.js').ImageCounts} rawImages  images in raw markup
 * @property {Map<string, string>} diagramSources
 * @property {Builder} builder
 * @property {Dressing} [dressing]  while highlighting and math are coming
 * @property {Map<HTMLTableElement, import('./blocks.js').ColumnTexts>} tables  the long
 *     tables with fitted columns, and what their columns hold at most
 */

/**
 * The highlighting and math that blocks in place are still waiting for.
 * @typedef {object} Dressing
 * @property {(index: number) => string | undefined} textOf  the text that
 *     the block's waiting markup shows, if it has some
 * @property {(index: number) => boolean} dress  puts the block's waiting
 *     markup in place now; whether it did
 * @property {(index: number) => boolean} coming  whether the worker may
 *     still send markup for the block
 * @property {() => Promise<void>} arrived  settles once the worker has sent
 *     the markup of every block that waits for some (or sends no more)
 */

/**
 * What anchors.js reads of a view.
 * @typedef {object} AnchorView
 * @property {import('./state.js').Block[]} blocks
 * @property {Element[]} elements
 * @property {number} count
 * @property {import('./state.js').Heading[]} headings
 * @property {Geometry} geometry
 * @property {number} insetTop
 * @property {(id: string) => number | undefined} indexOf
 */

const CHUNK_BLOCKS = 48;
// The chunks at the end of a document laid out whatever the scroll
// position: as many as hold TAIL_SCREENS screens by their estimates, in at
// most TAIL_MOST_BLOCKS blocks and TAIL_MOST_SCREENS screens (not a long
// table's whole chunk).
const TAIL_SCREENS = 2;
const TAIL_MOST_BLOCKS = 160;
const TAIL_MOST_SCREENS = 6;
// The first chunks are smaller: a chunk on screen is laid out whole, and the
// first screen should not wait for the layout of several screens.
const LEADING_CHUNKS = [8, 16, 32];
const LEADING_BLOCKS = LEADING_CHUNKS.reduce((sum, n) => sum + n, 0);
// A chunk that skips its contents costs the browser time at every frame that
// changes or scrolls the page, and that time grows with the square of their
// number (WebKitGTK here: about 8 ms a frame with 1000 chunks, 200 ms with
// 4000, over a second with the 7000 of 340,000 blocks, so that inserting
// such a document took minutes). Beyond its first chunks a long document's
// chunks hold more blocks, so that it has at most MAX_CHUNKS of them.
const MAX_CHUNKS = 400;
// The first chunks hold the same blocks whatever the document's length, so
// that a head's chunks are the full document's too (adoptHead).
const STANDARD_CHUNKS = 64;
const STANDARD_BLOCKS = LEADING_BLOCKS + (STANDARD_CHUNKS - LEADING_CHUNKS.length) * CHUNK_BLOCKS;

/**
 * The blocks of each chunk after the first STANDARD_CHUNKS, for a document
 * of `total` blocks.
 * @param {number} total
 */
export function chunkBlocksFor(total) {
    const rest = total - STANDARD_BLOCKS;
    if (rest <= 0) return CHUNK_BLOCKS;
    return Math.max(CHUNK_BLOCKS, Math.ceil(rest / (MAX_CHUNKS - STANDARD_CHUNKS)));
}

/**
 * Chunk k holds blocks [chunkStart(k), chunkStart(k + 1)).
 * @param {number} k
 * @param {number} [wide]  blocks of a chunk after the standard ones
 */
export function chunkStart(k, wide = CHUNK_BLOCKS) {
    if (k < LEADING_CHUNKS.length) return LEADING_CHUNKS.slice(0, k).reduce((sum, n) => sum + n, 0);
    if (k <= STANDARD_CHUNKS) return LEADING_BLOCKS + (k - LEADING_CHUNKS.length) * CHUNK_BLOCKS;
    return STANDARD_BLOCKS + (k - STANDARD_CHUNKS) * wide;
}

/**
 * @param {number} index
 * @param {number} [wide]  blocks of a chunk after the standard ones
 */
export function chunkOf(index, wide = CHUNK_BLOCKS) {
    let start = 0;
    for (let k = 0; k < LEADING_CHUNKS.length; k++) {
        start += LEADING_CHUNKS[k];
        if (index < start) return k;
    }
    if (index < STANDARD_BLOCKS) return LEADING_CHUNKS.length + Math.floor((index - LEADING_BLOCKS) / CHUNK_BLOCKS);
    return STANDARD_CHUNKS + Math.floor((index - STANDARD_BLOCKS) / wide);
}

/**
 * @param {object} parts
 * @param {Document} parts.doc
 * @param {Geometry} parts.geometry
 * @param {import('./sanitize.js').Sanitizer} parts.sanitizer  for raw markup

 * @param {PageState} parts.state
 */
export function createViews({ doc, geometry, sanitizer, state }) {
    /**
     * @param {ParseResult} result
     * @param {number} generation
     * @returns {View}
     */
    function makeView(result, generation) {
        /** @type {Map<string, number>} */
        const indexById = new Map();
        result.blocks.forEach((block, index) => {
            if (!indexById.has(block.id)) indexById.set(block.id, index);
        });
        /** @type {number[]} */
        const headingBlocks = [];
        result.blocks.forEach((block, index) => {
            if (block.kind === 'heading') headingBlocks.push(index);
        });
        const article = doc.createElement('article');
        article.className = 'md-doc';
        const view = /** @type {View} */ ({
            generation,
            result,
            blocks: result.blocks,
            headings: result.headings,
            headingBlocks,
            elements: new Array(result.blocks.length),
            count: 0,
            long: null,
            indexById,
            article,
            rawImages: { local: 0, remote: 0, rejected: 0 },
            diagramSources: new Map(result.diagrams.map((d) => [d.id, d.source])),
            tables: new Map(),
        });
        view.builder = createBuilder(view);
        return view;
    }

    /** @param {Element} element */
    function measure(element) {
        return geometry.width ? geometry.width(element) : element.getBoundingClientRect().width;
    }

    /**
     * Appends blocks to a view's article in chunks of a few dozen: the
     * browser then lays out the chunks on screen, not every block of a long
     * document. Every chunk is made up front and sized by its blocks'
     * estimated heights: filling a chunk off screen then changes no layout,
     * whereas adding a chunk or resizing one lays out the whole article
     * again, which costs tens of milliseconds a frame on a long document.
     * @param {View} view
     * @returns {Builder}
     */
    function createBuilder(view) {
        /** @type {HTMLElement[]} */
        const chunks = [];
        const blocks = view.result.blocks;
        const wide = chunkBlocksFor(blocks.length);
        const raw = {
            sanitizer,
            documentID: state.session.documentID,
            counts: view.rawImages,
            refusedReason: textsFor(state.language).imageNotAllowed,
        };
        /** @type {(chunk: HTMLElement, k: number) => number} */
        const size = (chunk, k) => {
            let height = 0;
            const end = Math.min(chunkStart(k + 1, wide), blocks.length);
            for (let i = chunkStart(k, wide); i < end; i++) height += blocks[i].est || 40;
            chunk.style.containIntrinsicSize = `auto ${Math.round(height)}px`;
            return height;
        };
        const makeChunks = () => {
            if (blocks.length === 0) return;
            const last = chunkOf(blocks.length - 1, wide);
            if (chunks.length > last) return;
            const fragment = doc.createDocumentFragment();
            const first = chunks.length;
            /** @type {number[]} the new chunks' estimated heights */
            const estimates = [];
            for (let k = first; k <= last; k++) {
                const chunk = doc.createElement('div');
                chunk.className = k < LEADING_CHUNKS.length - 1 ? 'md-chunk md-lead' : 'md-chunk';
                estimates.push(size(chunk, k));
                fragment.append(chunk);
                chunks.push(chunk);
                geometry.watchChunk?.(chunk);
            }
            // The last chunks, down to the end, are laid out as their blocks
            // go in: a chunk there that took a real height smaller than its
            // estimate only when the reader jumped to the end would shorten
            // the page under them, and the browser would pull what they see
            // down in the frame that lays it out, before the page could
            // keep their place.
            const screen = geometry.viewportHeight();
            let tail = 0;
            let tailBlocks = 0;
            for (let k = last; k >= first && tail < TAIL_SCREENS * screen; k--) {
                tailBlocks += Math.min(chunkStart(k + 1, wide), blocks.length) - chunkStart(k, wide);
                tail += estimates[k - first];
                if (tailBlocks > TAIL_MOST_BLOCKS || tail > TAIL_MOST_SCREENS * screen) break;
                chunks[k].classList.add('md-tail');
            }
            view.article.append(fragment);
        };
        return {
            append(from, to) {
                makeChunks();
                /** @type {Element[]} */
                const placeholders = [];
                let i = from;
                while (i < to) {
                    const k = chunkOf(i, wide);
                    const end = Math.min(to, chunkStart(k + 1, wide));
                    placeholders.push(...appendBlocks(doc, chunks[k], view.result, i, end, view.elements, raw));
                    i = end;
                }
                return placeholders;
            },
            startLong(index, bytes) {
                makeChunks();
                view.long = startLongBlock(doc, chunks[chunkOf(index, wide)], view.result, index, view.elements, bytes);
                return view.long !== null;
            },
            continueLong(bytes) {
                const long = view.long;
                if (!long) return [];
                const placeholders = continueLongBlock(doc, long, bytes, measure);
                const table = long.container.closest('table');
                if (long.settled && table && long.columns) view.tables.set(table, long.columns);
                if (long.next >= long.cuts.length - 1) view.long = null;
                return placeholders;
            },
            // Continues in an article that already holds chunks (a head's):
            // its last chunk is sized again for this document's blocks.
            resume() {
                chunks.length = 0;
                chunks.push(.../** @type {HTMLElement[]} */ (Array.from(view.article.children)));
                if (chunks.length > 0) size(chunks[chunks.length - 1], chunks.length - 1);
            },
        };
    }

    /**
     * The full parse arrived while the head is on screen: the full view
     * keeps the head's blocks that came out the same and its article; the
     * rest is dropped.
     * @param {View} headView
     * @param {View} view
     */
    function adoptHead(headView, view) {
        const head = headView.result;
        const full = view.result;
        let kept = 0;
        // Beyond the standard chunks a head's chunks hold as many blocks as
        // its own length gives them, not the full document's.
        const limit = Math.min(headView.count, full.blocks.length, STANDARD_BLOCKS);
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
        // A long block still going in, the same in both, goes on where it is.
        if (headView.long && headView.long.index < kept) view.long = headView.long;
        for (const [table, columns] of headView.tables) if (table.isConnected) view.tables.set(table, columns);
        view.builder.resume();
    }

    /**
     * @param {View} view
     * @returns {AnchorView}
     */
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

    /**
     * Once every block of a view is in its article, the parse's markup is
     * read no more (the elements hold the document, the blocks what anchors,
     * find and the outline need): it goes, rather than staying as long as
     * the document is shown. It is several times the size of a long
     * document's source.
     * @param {View} view
     */
    function dropMarkup(view) {
        if (view.count < view.result.blocks.length || view.long) return;
        view.result.html = '';
        view.result.offsets = [];
    }

    /**
     * The text changed (typography): the long tables' columns are fitted to
     * it again.
     * @param {View | null} view
     */
    function refitTables(view) {
        if (!view) return;
        for (const [table, columns] of view.tables) if (table.isConnected) fitColumns(table, columns, measure);
    }

    /** @param {Element} article */
    function removeArticle(article) {
        for (const chunk of article.children) geometry.forgetChunk?.(chunk);
        article.remove();
    }

    return { makeView, adoptHead, anchorView, removeArticle, dropMarkup, refitTables };
}
