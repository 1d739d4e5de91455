// Find in page: every match is wrapped in <mark class="md-find">, the active
// one also carries "md-find-active" and is scrolled into view. Text inside
// the math annotation, the copy buttons and diagrams is not searched. A block
// still waiting for its highlighting and math is searched in the text they
// will show, and marked once they are in place (at once for the match shown).
// Text is searched as it reads: soft hyphens are passed over, and a letter
// followed by combining marks is the letter they make together.

import { PageError, isPlainObject } from './protocol.js';

export const MAX_MATCHES = 10000;
// How long a match shown is kept in place while the page around it
// changes, and how many still frames end that.
const HOLD_FRAMES = 60;
const HOLD_STILL_FRAMES = 3;
const SEPARATOR = '\u0000';
// A search that took longer than this lets a frame through before it shows
// its match.
const LONG_SEARCH_MS = 16;
// The time a frame gives to reading blocks' text ahead of a search.
const PREPARE_SLICE_MS = 4;

const SKIP = '.katex-mathml, .md-copy, .md-diagram, script, style';

// A soft hyphen, or a run of combining marks with the character before it.
const FOLDED = /\u00ad|\P{M}?\p{M}+/gu;
const FOLDABLE = /[\u00ad\p{M}]/u;

/**
 * The text searched for a text shown, where they differ: without soft
 * hyphens, each character and its combining marks composed (NFC); with
 * the start and end in the text shown of each of its code units.
 * @typedef {{text: string, starts: Int32Array, ends: Int32Array}} Folding
 */

/**
 * @param {string} shown
 * @returns {Folding | null}  null when the text is searched as shown
 */
export function foldText(shown) {
    if (!FOLDABLE.test(shown)) return null;
    let text = '';
    /** @type {number[]} */
    const starts = [];
    /** @type {number[]} */
    const ends = [];
    let at = 0;
    /** @param {number} to */
    const copy = (to) => {
        text += shown.slice(at, to);
        for (let i = at; i < to; i++) {
            starts.push(i);
            ends.push(i + 1);
        }
        at = to;
    };
    for (const run of shown.matchAll(FOLDED)) {
        const from = run.index ?? 0;
        copy(from);
        const to = from + run[0].length;
        if (run[0] === '\u00ad') {
            at = to;
            continue;
        }
        const composed = run[0].normalize('NFC');
        if (composed.length === run[0].length) {
            copy(to);
            continue;
        }
        // Composed, its units stand for the whole run.
        text += composed;
        for (let k = 0; k < composed.length; k++) {
            starts.push(from);
            ends.push(to);
        }
        at = to;
    }
    copy(shown.length);
    return { text, starts: Int32Array.from(starts), ends: Int32Array.from(ends) };
}

// Math not typeset yet shows its source between dollar signs.
const MATH_SOURCE = /\$\$[\s\S]*?\$\$|\$[^$]*\$/g;

/**
 * Whether [start, end) of a text meets math shown as its source.
 * @param {string} text
 * @param {number} start
 * @param {number} end
 */
function inMathSource(text, start, end) {
    if (!text.includes('$')) return false;
    for (const found of text.matchAll(MATH_SOURCE)) {
        const from = found.index ?? 0;
        if (from >= end) return false;
        if (from + found[0].length > start) return true;
    }
    return false;
}

/** @param {string} text */
function escapeRegExp(text) {
    return text.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
}

/**
 * A query as the text it is searched in reads.
 * @param {string} query
 */
function foldQuery(query) {
    return FOLDABLE.test(query) ? query.replace(/\u00ad/g, '').normalize('NFC') : query;
}

/**
 * The search for a query: its text, in any case unless asked otherwise, as
 * Unicode's case folding matches it. Searching with that folding ("u") is
 * several times slower on a long document; an ASCII query finds the same
 * matches without it, once the two letters that fold to ASCII from
 * elsewhere are named (long s to "s", the Kelvin sign to "k").
 * @param {string} query
 * @param {boolean} caseSensitive
 */
export function patternFor(query, caseSensitive) {
    const folded = foldQuery(query);
    const escaped = escapeRegExp(folded);
    if (!/^[\x00-\x7f]*$/.test(folded)) return new RegExp(escaped, caseSensitive ? 'gu' : 'giu');
    if (caseSensitive) return new RegExp(escaped, 'g');
    return new RegExp(escaped.replace(/[sk]/gi, (letter) => (letter.toLowerCase() === 's' ? '[s\u017f]' : '[k\u212a]')), 'gi');
}

/**
 * A match: [start, end) of its block's text, and the marks that wrap it
 * once its block shows that text (null until then).
 * @typedef {{index: number, start: number, end: number, marks: HTMLElement[] | null}} Match
 */

/**
 * A search under way: its matches, and the text it searched of each block
 * it looked at.
 * @typedef {{query: string, caseSensitive: boolean, generation: number, stale: boolean,
 *     matches: Match[], byBlock: Map<number, Match[]>, texts: string[], active: number,
 *     unmarked: Map<Element, number>, filling: number, inSource: boolean}} FindState  `unmarked`: the
 *     blocks that show their matches' text but are not marked yet, until they come
 *     near the screen; `filling`: a long block whose items were still going in when
 *     it was read (-1 if none); `inSource`: a match lies in the source of math
 *     whose typeset markup has not come yet
 */

/**
 * A block's text as shown, and as searched where that differs.
 * @typedef {{shown: string, folding: Folding | null}} BlockText
 */

/**
 * What find reads of the document on screen.
 * @typedef {object} Searched
 * @property {number} generation
 * @property {Element[]} elements
 * @property {number} count  blocks in place
 * @property {Element} article  holds the blocks, in chunks
 * @property {import('./view.js').Dressing} [dressing]
 * @property {{index: number} | null} long  a block whose items are still going in
 */

/**
 * @param {object} parts
 * @param {Document} parts.doc
 * @param {() => Searched | null} parts.getView
 * @param {import('./state.js').Geometry} parts.geometry
 * @param {() => number} parts.getInsetTop
 * @param {ReturnType<typeof import('./scheduler.js').createScheduler>} parts.scheduler
 * @param {() => number} parts.now
 */
export function createFind({ doc, getView, geometry, getInsetTop, scheduler, now }) {
    /** @type {FindState | null} */
    let state = null;
    // The text of blocks searched before: a block whose element is replaced
    // is read again, and so is one whose text changed (an image that did not
    // load shows its alternative text).
    /** @type {WeakMap<Element, BlockText>} */
    const textCache = new WeakMap();
    // Marks go into the blocks near the screen, as they come near (without
    // a watch on the screen, into every block at once): marking thousands of
    // matches at once would hold the page up for a long frame.
    const Observer = doc.defaultView?.IntersectionObserver;
    const observer = Observer ? new Observer((entries) => {
        const view = getView();
        if (!state || !view || state.generation !== view.generation) return;
        for (const entry of entries) {
            if (!entry.isIntersecting) continue;
            observer?.unobserve(entry.target);
            markNear(state, entry.target);
        }
    }, { rootMargin: '100% 0px' }) : null;

    function clearMarks() {
        if (!state) return;
        for (const match of state.matches) {
            for (const mark of match.marks ?? []) {
                const parent = mark.parentNode;
                if (!parent) continue;
                while (mark.firstChild) parent.insertBefore(mark.firstChild, mark);
                parent.removeChild(mark);
                parent.normalize();
            }
            match.marks = null;
        }
        state.matches = [];
        state.byBlock.clear();
        state.unmarked.clear();
        observer?.disconnect();
    }

    /**
     * Marks the blocks of a chunk near the screen.
     * @param {FindState} state
     * @param {Element} chunk
     */
    function markNear(state, chunk) {
        for (const block of Array.from(chunk.children)) {
            const index = state.unmarked.get(block);
            if (index === undefined) continue;
            state.unmarked.delete(block);
            const matches = state.byBlock.get(index);
            if (matches && !matches[0].marks && !markBlock(state, block, matches, state.texts[index])) state.stale = true;
        }
    }

    /** @param {Element} block */
    function textNodesOf(block) {
        /** @type {Text[]} */
        const nodes = [];
        const walker = doc.createTreeWalker(block, 4 /* SHOW_TEXT */);
        for (let node = walker.nextNode(); node; node = walker.nextNode()) {
            const parent = node.parentElement;
            if (parent && parent.closest(SKIP)) continue;
            nodes.push(/** @type {Text} */ (node));
        }
        return nodes;
    }

    // The block's text as shown; most blocks hold nothing that is skipped.
    /** @param {Element} block */
    function shownTextOf(block) {
        if (!block.matches(SKIP) && !block.querySelector(SKIP)) return block.textContent ?? '';
        let text = '';
        for (const node of textNodesOf(block)) text += node.data;
        return text;
    }

    // The block's text, kept unless its items are still going in.
    /**
     * @param {Element} block
     * @param {boolean} [filling]
     * @returns {BlockText}
     */
    function textOf(block, filling = false) {
        let text = textCache.get(block);
        if (text !== undefined) return text;
        const shown = shownTextOf(block);
        text = { shown, folding: foldText(shown) };
        if (!filling) textCache.set(block, text);
        return text;
    }

    // Wraps [start, end) of the block's joined text, which may span nodes.
    /**
     * @param {Text[]} nodes
     * @param {number[]} starts
     * @param {number} start
     * @param {number} end
     */
    function wrap(nodes, starts, start, end) {
        const marks = [];
        for (let i = 0; i < nodes.length; i++) {
            const nodeStart = starts[i];
            const nodeEnd = nodeStart + nodes[i].data.length;
            if (nodeEnd <= start || nodeStart >= end) continue;
            let node = nodes[i];
            const from = Math.max(start, nodeStart) - nodeStart;
            const to = Math.min(end, nodeEnd) - nodeStart;
            if (to < node.data.length) node.splitText(to);
            if (from > 0) node = node.splitText(from);
            const mark = doc.createElement('mark');
            mark.className = 'md-find';
            node.parentNode?.insertBefore(mark, node);
            mark.appendChild(node);
            marks.push(mark);
        }
        return marks;
    }

    /**
     * Marks the block's matches, if the block shows the text they were
     * found in; whether it does.
     * @param {FindState} state
     * @param {Element} block
     * @param {Match[]} matches  of this block, in order
     * @param {string} searched  the text they were found in
     */
    function markBlock(state, block, matches, searched) {
        const nodes = textNodesOf(block);
        const starts = [];
        let text = '';
        for (const node of nodes) {
            starts.push(text.length);
            text += node.data;
        }
        if (text !== searched) return false;
        // Wrap from the end: splitting a text node keeps its head in the
        // original node, so the offsets of earlier matches stay valid.
        for (let r = matches.length - 1; r >= 0; r--) matches[r].marks = wrap(nodes, starts, matches[r].start, matches[r].end);
        const active = state.matches[state.active];
        for (const match of matches) {
            if (match !== active) continue;
            for (const mark of match.marks ?? []) mark.classList.add('md-find-active');
        }
        return true;
    }

    /**
     * Finds the matches in every block in place: in the text each shows, or
     * the text its highlighting and math will show once they are put in
     * place. Only the blocks that show that text already are marked now.
     * @param {FindState} state
     * @param {Searched | null} view
     */
    function search(state, view) {
        state.matches = [];
        state.byBlock.clear();
        state.texts = [];
        state.unmarked.clear();
        state.filling = -1;
        state.inSource = false;
        if (foldQuery(state.query) === '' || !view) return;
        // The blocks' texts are searched in one string, joined by a
        // character that no text shown holds (the page's parser makes
        // every U+0000 another character), so no match spans two blocks.
        if (state.query.includes(SEPARATOR)) return;
        /** @type {boolean[]} */
        const waiting = [];
        /** @type {(Folding | null)[]} */
        const foldings = [];
        /** @type {string[]} */
        const searched = [];
        const filling = view.long?.index ?? -1;
        for (let index = 0; index < view.count; index++) {
            const dressed = view.dressing?.textOf(index);
            waiting[index] = dressed !== undefined;
            const text = dressed !== undefined ? { shown: dressed, folding: foldText(dressed) } : textOf(view.elements[index], index === filling);
            state.texts[index] = text.shown;
            foldings[index] = text.folding;
            searched[index] = text.folding?.text ?? text.shown;
        }
        if (filling >= 0 && filling < view.count && !waiting[filling]) state.filling = filling;
        const all = searched.join(SEPARATOR);
        const pattern = patternFor(state.query, state.caseSensitive);
        let index = 0;
        let blockStart = 0;
        /** @type {Match[]} */
        let found = [];
        const close = () => {
            if (found.length === 0) return;
            state.byBlock.set(index, found);
            if (!waiting[index]) state.unmarked.set(view.elements[index], index);
            found = [];
        };
        for (let m = pattern.exec(all); m && state.matches.length < MAX_MATCHES; m = pattern.exec(all)) {
            while (m.index >= blockStart + searched[index].length + 1) {
                close();
                blockStart += searched[index].length + 1;
                index += 1;
            }
            // Offsets in the text shown, which the marks wrap.
            const folding = foldings[index];
            const from = m.index - blockStart;
            const to = from + m[0].length;
            const start = folding ? folding.starts[from] : from;
            const end = folding ? folding.ends[to - 1] : to;
            const match = { index, start, end, marks: null };
            if (!waiting[index] && !state.inSource && view.dressing?.coming(index) && inMathSource(state.texts[index], start, end)) {
                state.inSource = true;
            }
            found.push(match);
            state.matches.push(match);
        }
        close();
        if (!observer) {
            for (const chunk of Array.from(view.article.children)) markNear(state, chunk);
            return;
        }
        /** @type {Set<Element>} */
        const chunks = new Set();
        for (const block of state.unmarked.keys()) if (block.parentElement) chunks.add(block.parentElement);
        for (const chunk of chunks) observer.observe(chunk);
    }

    /**
     * A block was replaced by its highlighting and math: its matches are
     * marked again in its new element, or, if it shows another text than
     * the search read, the search is made again at its next step.
     * @param {number} index
     */
    function replaced(index) {
        const view = getView();
        if (!state || !view || state.generation !== view.generation || state.stale) return;
        const searched = state.texts[index];
        if (searched === undefined) return;
        const block = view.elements[index];
        const matches = state.byBlock.get(index);
        if (!matches) {
            if (textOf(block).shown !== searched) state.stale = true;
            return;
        }
        for (const match of matches) match.marks = null;
        if (!markBlock(state, block, matches, searched)) state.stale = true;
    }

    // The marks of a match: its block is marked now if it is not yet, or
    // dressed first if it is waiting for its highlighting and math. A block
    // that shows another text than the one searched makes the search stale.
    /** @param {Match} match */
    function marksOf(match) {
        if (match.marks || !state) return match.marks ?? [];
        const view = getView();
        if (!view) return [];
        const block = view.elements[match.index];
        if (state.unmarked.has(block)) {
            state.unmarked.delete(block);
            const matches = state.byBlock.get(match.index);
            if (matches && !markBlock(state, block, matches, state.texts[match.index])) state.stale = true;
        } else {
            view.dressing?.dress(match.index);
        }
        return match.marks ?? [];
    }

    /** @param {number} index */
    function setActive(index) {
        if (!state) return;
        for (const mark of state.matches[state.active]?.marks ?? []) mark.classList.remove('md-find-active');
        state.active = index;
        const match = state.matches[index];
        const marks = match ? marksOf(match) : [];
        for (const mark of marks) mark.classList.add('md-find-active');
        if (marks[0] && typeof marks[0].scrollIntoView === 'function') {
            // Marks just made in a chunk off screen are laid out first
            // (reading where one is), or the browser scrolls as if the mark
            // were at the top of the page.
            geometry.top(marks[0]);
            marks[0].scrollIntoView({ block: 'center', inline: 'nearest' });
            geometry.didScroll?.();
            void holdInView(marks[0]);
        }
    }

    /** @type {{cancelled: boolean} | null} */
    let holding = null;

    // Chunks between the reading line and the match are laid out, and their
    // highlighting and math put in place, only once they come on screen:
    // each such change above the match pushes it down. The match is kept
    // where it was shown until the page around it holds still, or the
    // reader scrolls, or another match is shown.
    /** @param {Element} mark */
    async function holdInView(mark) {
        if (holding) holding.cancelled = true;
        const run = { cancelled: false };
        holding = run;
        const offset = geometry.top(mark) - geometry.scrollTop();
        let placed = geometry.scrollTop();
        let still = 0;
        for (let frame = 0; frame < HOLD_FRAMES && still < HOLD_STILL_FRAMES; frame++) {
            if (await scheduler.nextFrame() === null) break;
            // The reader scrolled, or the match went with a new search or render.
            if (run.cancelled || !mark.isConnected || Math.abs(geometry.scrollTop() - placed) >= 1) break;
            const target = Math.max(0, Math.min(geometry.top(mark) - offset, geometry.maxScroll()));
            if (Math.abs(target - placed) < 1) {
                still += 1;
                continue;
            }
            still = 0;
            geometry.setScrollTop(target);
            placed = geometry.scrollTop();
            geometry.didScroll?.();
        }
        if (holding === run) holding = null;
    }

    // The first match at or below the reading line, or the last one above
    // the bottom of the view when going backwards.
    /**
     * @param {FindState} state
     * @param {string} direction
     */
    function startIndex(state, direction) {
        const count = state.matches.length;
        const line = geometry.scrollTop() + getInsetTop();
        const elements = getView()?.elements ?? [];
        // A match not marked yet is where its block is.
        /** @param {Match} match */
        const top = (match) => geometry.top(match.marks?.[0] ?? elements[match.index]);
        if (direction === 'previous') {
            const bottom = geometry.scrollTop() + geometry.viewportHeight();
            for (let i = count - 1; i >= 0; i--) if (top(state.matches[i]) <= bottom) return i;
            return count - 1;
        }
        for (let i = 0; i < count; i++) if (top(state.matches[i]) >= line) return i;
        return 0;
    }

    function result() {
        const count = state ? state.matches.length : 0;
        const active = state && count > 0 ? state.active : -1;
        return { matchCount: count, activeIndex: active, found: count > 0 };
    }

    /** @param {import('../protocol.js').RequestPayload<'find'>} payload */
    async function find(payload) {
        if (!isPlainObject(payload) || typeof payload.query !== 'string'
            || typeof payload.caseSensitive !== 'boolean' || typeof payload.restart !== 'boolean'
            || !['next', 'previous', 'replaceAll'].includes(payload.direction)) {
            throw new PageError('invalidPayload', 'find needs query, direction, caseSensitive and restart');
        }
        if (payload.direction === 'replaceAll') throw new PageError('unsupported', 'the page cannot replace text');
        const view = getView();
        const generation = view?.generation ?? 0;
        const same = state && state.query === payload.query && state.caseSensitive === payload.caseSensitive ? state : null;
        const rendered = same !== null && same.generation !== generation;
        if (!same || payload.restart || rendered) {
            const previous = rendered ? same.active : -1;
            clearMarks();
            /** @type {FindState} */
            const fresh = {
                query: payload.query, caseSensitive: payload.caseSensitive, generation, stale: false,
                matches: [], byBlock: new Map(), texts: [], active: -1, unmarked: new Map(), filling: -1, inSource: false,
            };
            state = fresh;
            const started = now();
            search(fresh, view);
            if (fresh.inSource && view?.dressing) {
                // A match in a formula's source, in a block whose typeset
                // markup the worker has not sent yet: the search waits for
                // the text it will show.
                await view.dressing.arrived();
                if (state !== fresh || getView() !== view) return result();
                search(fresh, view);
            }
            // After a long search (a long document) the frame has its turn
            // before the match is marked and scrolled to, which lays out
            // where it is: the two together would make one long frame.
            if (fresh.matches.length > 0 && now() - started > LONG_SEARCH_MS) {
                await scheduler.nextFrame();
                // A newer search, a clear or a new render took over.
                if (state !== fresh || getView()?.generation !== generation) return result();
            }
            if (fresh.matches.length > 0) {
                // After a re-render the active match stays where it was.
                const index = rendered && previous >= 0 ? Math.min(previous, fresh.matches.length - 1) : startIndex(fresh, payload.direction);
                setActive(index);
                // Its block showed another text than the one read (an image
                // that did not load shows its alternative text): searched again.
                if (fresh.stale) searchAgain(fresh, view);
            }
            return result();
        }
        state = same;
        if (!state.stale && state.filling >= 0) {
            // A long block still going in when it was read: what came since
            // is searched too.
            const block = view?.elements[state.filling];
            if (!block || shownTextOf(block) !== state.texts[state.filling]) state.stale = true;
        }
        if (state.stale) {
            // A block's highlighting or math changed its text: the matches
            // are found again and the step goes on from the one that was
            // active.
            searchAgain(state, view);
        }
        const count = state.matches.length;
        if (count > 0) {
            const step = payload.direction === 'previous' ? -1 : 1;
            setActive(((state.active < 0 ? (step > 0 ? -1 : 0) : state.active) + step + count) % count);
        }
        return result();
    }

    /**
     * Finds the matches again, keeping the index of the one that was active.
     * @param {FindState} state
     * @param {Searched | null} view
     */
    function searchAgain(state, view) {
        const previous = state.active;
        clearMarks();
        state.stale = false;
        state.active = -1;
        search(state, view);
        if (state.matches.length > 0 && previous >= 0) setActive(Math.min(previous, state.matches.length - 1));
        // Once more at most: the text read now is the text shown.
        if (state.stale) {
            clearMarks();
            state.stale = false;
            search(state, view);
            if (state.matches.length > 0 && previous >= 0) setActive(Math.min(previous, state.matches.length - 1));
        }
    }

    /**
     * The text of the block that holds `node` changed in place (an image
     * gave way to its alternative text): it is read again, and a search
     * that read it is made again at its next step.
     * @param {Node} node
     */
    function changed(node) {
        const view = getView();
        if (!view) return;
        let block = node.nodeType === 1 ? /** @type {Element} */ (node) : node.parentElement;
        while (block && !(block.parentElement && block.parentElement.parentElement === view.article)) block = block.parentElement;
        if (!block) return;
        textCache.delete(block);
        if (state && state.generation === view.generation) state.stale = true;
    }

    function clear() {
        if (holding) holding.cancelled = true;
        clearMarks();
        state = null;
        return { matchCount: 0, activeIndex: -1, found: false };
    }

    // A new render replaced the content the marks lived in.
    /**
     * Reads the text of a document's blocks ahead of a search, a few
     * milliseconds a frame, so that the first search of a long document
     * only searches. Ends when another document is shown.
     * @param {Searched} view
     */
    async function prepare(view) {
        let index = 0;
        while (index < view.count && getView() === view) {
            const started = now();
            for (; index < view.count && now() - started < PREPARE_SLICE_MS; index++) {
                if (view.dressing?.textOf(index) === undefined) textOf(view.elements[index]);
            }
            if (await scheduler.nextFrame() === null) return;
        }
    }

    function forget() {
        if (!state) return;
        state.matches = [];
        state.byBlock.clear();
        state.unmarked.clear();
        observer?.disconnect();
    }

    return { find, clear, forget, replaced, prepare, changed };
}
