// Find's search: the matches of a query in the blocks of the document on
// screen, found in slices between which the page draws and hears newer
// requests, and kept as flat arrays (a long table may hold 100,000).

import { foldQuery, holdsWholeClusters, patternFor, shownStart, shownEnd } from './folding.js';

/** @typedef {import('./folding.js').Folding} Folding */
/** @typedef {import('./marks.js').NodeIndex} NodeIndex */

const SEPARATOR = '\u0000';
// Blocks' texts searched in one go, joined.
const GROUP_CHARS = 256 * 1024;
// A query that typeset formulas are likely to show where the text around
// them does not: a character beyond ASCII (a Greek letter, an operator, an
// arrow, which formulas show for commands). A search for another waits for
// no formula: at 5 MiB the worker typesets for seconds after the page holds
// still, and the step after a formula is in place searches again.
const MATH_QUERY = /[^\x00-\x7f]/;

/**
 * A block's text as shown, and as searched where that differs.
 * @typedef {{shown: string, folding: Folding | null}} BlockText
 */

/**
 * A search and its matches. Match k lies in block `blockOf[k]`, at
 * [startOf[k], endOf[k]) of the text it shows; `ranges` gives each block's
 * matches [first, end). `texts` holds the text read of each block searched,
 * `waiting` which of them were read from the highlighting and math still
 * to come. `unmarked`: the blocks that show their matches' text but are not
 * marked yet, until they come near the screen; `open`: the blocks with many
 * matches, marked as the screen comes near each of them; `filling`: a long
 * block whose items were still going in when it was read (-1 if none);
 * `inSource`: a block whose formulas had not come from the worker yet when
 * it was read; `partial`: the search read a document still going in (its
 * count is not final: the next request searches again, a step from the
 * active match, a restart keeping it); `done` once the search has its matches,
 * `finished` settling then or when it was superseded; `busy`: the steps
 * under way, in turn.
 * @typedef {object} FindState
 * @property {string} query
 * @property {boolean} caseSensitive
 * @property {number} generation
 * @property {Searched | null} view
 * @property {number} count  blocks searched
 * @property {boolean} done
 * @property {boolean} stale
 * @property {number} total
 * @property {Int32Array} blockOf
 * @property {Int32Array} startOf
 * @property {Int32Array} endOf
 * @property {Map<number, [number, number]>} ranges
 * @property {string[]} texts
 * @property {Uint8Array} waiting
 * @property {Map<number, HTMLElement[]>} marks
 * @property {Map<Element, number>} unmarked
 * @property {Set<number>} open
 * @property {Map<Element, NodeIndex | null>} indexes
 * @property {number} active
 * @property {number} filling
 * @property {boolean} inSource
 * @property {boolean} partial
 * @property {Promise<unknown>} busy
 */

/**
 * What find reads of the document on screen.
 * @typedef {object} Searched
 * @property {number} generation
 * @property {Element[]} elements
 * @property {number} count  blocks in place
 * @property {unknown[]} [blocks]  every block of the document, in place or to come
 * @property {Element} article  holds the blocks, in chunks
 * @property {import('./view.js').Dressing} [dressing]
 * @property {{index: number} | null} long  a block whose items are still going in
 */

/**
 * @param {string} query
 * @param {boolean} caseSensitive
 * @param {number} generation
 * @returns {FindState}
 */
export function newState(query, caseSensitive, generation) {
    return {
        query, caseSensitive, generation, view: null, count: 0, done: false, stale: false,
        total: 0, blockOf: new Int32Array(256), startOf: new Int32Array(256), endOf: new Int32Array(256),
        ranges: new Map(), texts: [], waiting: new Uint8Array(0), marks: new Map(), unmarked: new Map(),
        open: new Set(), indexes: new Map(), active: -1, filling: -1, inSource: false,
        partial: false, busy: Promise.resolve(),
    };
}

/**
 * @param {FindState} s
 * @param {number} index
 * @param {number} start
 * @param {number} end
 */
function addMatch(s, index, start, end) {
    if (s.total === s.blockOf.length) {
        const grow = (/** @type {Int32Array} */ array) => {
            const larger = new Int32Array(array.length * 2);
            larger.set(array);
            return larger;
        };
        s.blockOf = grow(s.blockOf);
        s.startOf = grow(s.startOf);
        s.endOf = grow(s.endOf);
    }
    s.blockOf[s.total] = index;
    s.startOf[s.total] = start;
    s.endOf[s.total] = end;
    const range = s.ranges.get(index);
    if (range) range[1] = s.total + 1;
    else s.ranges.set(index, [s.total, s.total + 1]);
    s.total += 1;
}

/**
 * Finds a pattern's matches in blocks' texts, searched joined by a
 * character that no text shown holds (the page's parser makes every U+0000
 * another character), so that no match spans two blocks. Each is given as
 * block `block`'s text shown [start, end); a match that begins or ends
 * within a character as the reader sees it (an emoji's sequence, a flag) is
 * none.
 * @param {RegExp} pattern
 * @param {BlockText[]} texts
 * @param {(block: number, start: number, end: number) => void} found
 */
export function matchGroup(pattern, texts, found) {
    const searched = texts.map((text) => text.folding?.text ?? text.shown);
    const all = searched.join(SEPARATOR);
    let block = 0;
    let blockStart = 0;
    pattern.lastIndex = 0;
    for (let m = pattern.exec(all); m; m = pattern.exec(all)) {
        while (m.index >= blockStart + searched[block].length + 1) {
            blockStart += searched[block].length + 1;
            block += 1;
        }
        const { shown, folding } = texts[block];
        const from = m.index - blockStart;
        const to = from + m[0].length;
        const start = folding ? shownStart(folding, from) : from;
        const end = folding ? shownEnd(folding, to - 1) : to;
        if (holdsWholeClusters(shown, start, end)) {
            found(block, start, end);
        } else {
            // Part of a character as the reader sees it: looked for again
            // from the next character on.
            pattern.lastIndex = m.index + ((all.codePointAt(m.index) ?? 0) > 0xffff ? 2 : 1);
        }
    }
}

/**
 * Finds the matches in every block in place: in the text each shows, or
 * the text its highlighting and math will show once they are put in
 * place, in the slices `sliceMs` gives (the page's frame budget grants each
 * at a turn) with a turn for the page before and between them.
 * False if `current` no longer holds after a turn (a newer search, a clear
 * or another document took over).
 * @param {FindState} s
 * @param {Searched | null} view
 * @param {object} parts
 * @param {(view: Searched, index: number, filling: boolean) => {text: BlockText, dressed: boolean}} parts.read
 *     a block's text as shown or as its highlighting and math will show it
 * @param {() => Promise<void>} parts.pause
 * @param {boolean} parts.rendering  a document is going in
 * @param {() => boolean} parts.current
 * @param {() => number} parts.now
 * @param {() => number} parts.sliceMs  the time of the slice under way
 */
export async function searchBlocks(s, view, { read, pause, rendering, current, now, sliceMs }) {
    s.done = false;
    s.stale = false;
    s.total = 0;
    s.ranges.clear();
    s.texts = [];
    s.filling = -1;
    s.inSource = false;
    s.view = view;
    s.count = view?.count ?? 0;
    // Before the first of its blocks is in place a document going in has
    // no view yet.
    s.partial = view === null ? rendering : view.long !== null || s.count < (view.blocks?.length ?? s.count);
    s.waiting = new Uint8Array(s.count);
    const folded = foldQuery(s.query);
    if (!view || folded === '' || folded.includes(SEPARATOR)) return true;
    const filling = view.long?.index ?? -1;
    const pattern = patternFor(s.query, s.caseSensitive);
    const mathQuery = MATH_QUERY.test(folded) && view.dressing !== undefined;
    await pause();
    if (!current()) return false;
    let sliceStarted = now();
    let index = 0;
    while (index < s.count) {
        const first = index;
        /** @type {BlockText[]} */
        const texts = [];
        let chars = 0;
        while (index < s.count && chars < GROUP_CHARS) {
            const { text, dressed } = read(view, index, index === filling);
            // Formulas not typeset yet are quiet boxes, with no text.
            if (dressed) s.waiting[index] = 1;
            else if (mathQuery && !s.inSource && view.dressing?.coming(index)
                && view.elements[index].querySelector('.md-math-pending')) s.inSource = true;
            s.texts[index] = text.shown;
            texts.push(text);
            chars += (text.folding?.text ?? text.shown).length + 1;
            index += 1;
            if ((index % 32 === 0 || text.shown.length > 4096) && now() - sliceStarted > sliceMs()) break;
        }
        matchGroup(pattern, texts, (block, start, end) => addMatch(s, first + block, start, end));
        if (index < s.count && now() - sliceStarted > sliceMs()) {
            await pause();
            if (!current()) return false;
            sliceStarted = now();
        }
    }
    if (filling >= 0 && filling < s.count && !s.waiting[filling]) s.filling = filling;
    return true;
}

