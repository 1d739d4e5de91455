// Find in page: every match is wrapped in <mark class="md-find">, the active
// one also carries "md-find-active" and is scrolled into view. Text inside
// the math annotation, the copy buttons and diagrams is not searched. A block
// still waiting for its highlighting and math is searched in the text they
// will show, and marked once they are in place (at once for the match shown).
// Text is searched as it reads, the query too (folding.js); text a
// document hides is not, but for a closed details' body, which a step into
// it opens.
//
// A search runs in slices between which the page draws and hears newer
// requests (search.js): a newer search ends an older one at once. Every
// match is counted and can be stepped to; marks (marks.js) go in near the
// screen only, a long table or list getting them for the rows about the
// screen as it scrolls. A count made while the document goes in is
// answered as not final; every step moves. This module holds the requests,
// the texts read, the marking near the screen and the match shown.

import { PageError, isPlainObject } from './protocol.js';
import { isHidden } from './layout.js';
import { foldText } from './folding.js';
import { createMarks, firstWhere, indexNodes, reveal, shownTextOf } from './marks.js';
import { newState, searchBlocks } from './search.js';
import { KINDS } from './budget.js';

/** @typedef {import('./marks.js').NodeIndex} NodeIndex */
/** @typedef {import('./search.js').FindState} FindState */
/** @typedef {import('./search.js').Searched} Searched */
/** @typedef {import('./search.js').BlockText} BlockText */

// How long a match shown is kept in place while the page around it
// changes, and how many still frames end that.
const HOLD_FRAMES = 60;
const HOLD_STILL_FRAMES = 3;
// Frames between two readings of the texts the worker sent meanwhile.
const PREPARE_AGAIN_FRAMES = 12;
// A block with more matches than this is marked where the screen is, as
// the reader comes near, rather than all at once.
const MARK_WHOLE_MAX = 48;
// Blocks with many matches whose text nodes a search reads ahead of marking.
const INDEXES_AHEAD = 8;

const NO_MATCH = Object.freeze({ matchCount: 0, activeIndex: -1, found: false });

/**
 * @param {object} parts
 * @param {Document} parts.doc
 * @param {() => Searched | null} parts.getView
 * @param {() => boolean} parts.isRendering  a document is going in (parsed, or its blocks put in place)
 * @param {import('./state.js').Geometry} parts.geometry
 * @param {() => number} parts.getInsetTop
 * @param {ReturnType<typeof import('./scheduler.js').createScheduler>} parts.scheduler
 * @param {ReturnType<typeof import('./budget.js').createFrameBudget>} parts.budget  grants the search its slices of frames
 * @param {() => number} parts.now
 */
export function createFind({ doc, getView, isRendering, geometry, getInsetTop, scheduler, budget, now }) {
    /** @type {FindState | null} */
    let state = null;
    // The text of blocks searched before: a block whose element is replaced
    // is read again, and so is one whose text changed (an image that did not
    // load shows its alternative text).
    /** @type {WeakMap<Element, BlockText>} */
    const textCache = new WeakMap();
    /** @type {WeakMap<Element, NodeIndex>} */
    const nodeCache = new WeakMap();
    // The texts that blocks' waiting highlighting and math will show, folded.
    /** @type {WeakMap<object, Map<number, BlockText>>} */
    const dressedCache = new WeakMap();
    let disposed = false;
    const { wrap, retire, removeRetired } = createMarks(doc);
    // Marks go into the blocks near the screen, as they come near (without
    // a watch on the screen, into every block at once): marking thousands of
    // matches at once would hold the page up for a long frame.
    const win = doc.defaultView;
    const Observer = win?.IntersectionObserver;
    const observer = Observer ? new Observer((entries) => {
        const current = state;
        if (!current || !current.done || getView() !== current.view) return;
        for (const entry of entries) {
            if (!entry.isIntersecting) continue;
            observer?.unobserve(entry.target);
            markNear(current, entry.target);
        }
    }, { rootMargin: '100% 0px' }) : null;
    // A block with many matches gets the marks about the screen as it scrolls.
    let scrollMarking = false;
    const onScroll = () => {
        if (scrollMarking || !state || state.open.size === 0) return;
        scrollMarking = true;
        void scheduler.nextFrame().then(() => {
            scrollMarking = false;
            const current = state;
            if (!current || disposed || getView() !== current.view) return;
            for (const index of current.open) markAbout(current, index);
        });
    };
    if (observer) win?.addEventListener('scroll', onScroll, { passive: true });

    // ---- reading -------------------------------------------------------

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

    /**
     * The text a block's waiting highlighting and math will show.
     * @param {Searched} view
     * @param {number} index
     * @param {string} shown
     * @returns {BlockText}
     */
    function dressedTextOf(view, index, shown) {
        let texts = dressedCache.get(view);
        if (!texts) {
            texts = new Map();
            dressedCache.set(view, texts);
        }
        let text = texts.get(index);
        if (text === undefined || text.shown !== shown) {
            text = { shown, folding: foldText(shown) };
            texts.set(index, text);
        }
        return text;
    }

    /**
     * The text nodes of block `index`, if it shows the text searched.
     * @param {FindState} s
     * @param {number} index
     * @returns {NodeIndex | null}
     */
    function nodeIndexOf(s, index) {
        const block = s.view?.elements[index];
        if (!block) return null;
        if (s.indexes.has(block)) return s.indexes.get(block) ?? null;
        const searched = s.texts[index];
        let found = nodeCache.get(block);
        const kept = found !== undefined && found.text === searched
            && (found.nodes.length === 0 || (block.contains(found.nodes[0]) && block.contains(found.nodes[found.nodes.length - 1])));
        if (!found || !kept) {
            // Read as the node pieces will be once the marks are gone.
            removeRetired();
            found = indexNodes(block);
            if (index !== s.filling) nodeCache.set(block, found);
        }
        const shown = found.text === searched ? found : null;
        s.indexes.set(block, shown);
        return shown;
    }

    // ---- marking -------------------------------------------------------

    /**
     * Marks matches of block `index` (those not marked yet); false if the
     * block does not show the text they were found in.
     * @param {FindState} s
     * @param {number} index
     * @param {number} first
     * @param {number} end
     */
    function markRange(s, index, first, end) {
        const nodes = nodeIndexOf(s, index);
        if (!nodes) return false;
        removeRetired();
        for (let k = first; k < end; k++) {
            if (s.marks.has(k)) continue;
            const marks = wrap(nodes, s.startOf[k], s.endOf[k]);
            if (k === s.active) for (const mark of marks) mark.classList.add('md-find-active');
            s.marks.set(k, marks);
        }
        return true;
    }

    /**
     * Marks a block's matches: all of them when they are few, else those
     * about the screen, and the rest as the reader scrolls near them.
     * @param {FindState} s
     * @param {number} index
     */
    function markBlock(s, index) {
        const range = s.ranges.get(index);
        if (!range) return;
        if (range[1] - range[0] <= MARK_WHOLE_MAX || !observer) {
            if (!markRange(s, index, range[0], range[1])) s.stale = true;
            return;
        }
        s.open.add(index);
        markAbout(s, index);
    }

    /**
     * Where the line that holds a block's `solid`-th text node with more
     * than white space starts and ends on the page.
     * @param {NodeIndex} nodes
     * @param {number} solid  an index into nodes.solid
     */
    function lineOf(nodes, solid) {
        const parent = nodes.nodes[nodes.solid[solid]].parentElement;
        if (!parent) return [0, 0];
        const top = geometry.top(parent);
        return [top, top + geometry.height(parent)];
    }

    /**
     * Marks the matches of a block with many that lie about the screen (a
     * screen above it and below it), read from the lines' places: first
     * read, then marked, so that the page is laid out once.
     * @param {FindState} s
     * @param {number} index
     */
    function markAbout(s, index) {
        const range = s.ranges.get(index);
        const nodes = nodeIndexOf(s, index);
        if (!range || !nodes) {
            s.open.delete(index);
            if (range) s.stale = true;
            return;
        }
        const height = geometry.viewportHeight();
        const top = geometry.scrollTop() - height;
        const bottom = geometry.scrollTop() + 2 * height;
        const lines = nodes.solid.length;
        const firstLine = firstWhere(0, lines, (k) => lineOf(nodes, k)[1] >= top);
        const endLine = firstWhere(firstLine, lines, (k) => lineOf(nodes, k)[0] > bottom);
        if (firstLine >= endLine) return;
        const from = nodes.starts[nodes.solid[firstLine]];
        const to = endLine < lines ? nodes.starts[nodes.solid[endLine]] : nodes.text.length;
        const first = firstWhere(range[0], range[1], (k) => s.endOf[k] > from);
        const end = firstWhere(first, range[1], (k) => s.startOf[k] >= to);
        markRange(s, index, first, end);
    }

    /**
     * Marks the blocks of a chunk near the screen.
     * @param {FindState} s
     * @param {Element} chunk
     */
    function markNear(s, chunk) {
        for (const block of Array.from(chunk.children)) {
            const index = s.unmarked.get(block);
            if (index === undefined) continue;
            s.unmarked.delete(block);
            markBlock(s, index);
        }
    }

    /** @param {boolean} [later]  the marks stay until the next search's go in */
    function clearMarks(later = false) {
        if (!state) {
            if (!later) removeRetired();
            return;
        }
        for (const marks of state.marks.values()) retire(marks);
        if (!later) removeRetired();
        state.marks.clear();
        state.unmarked.clear();
        state.open.clear();
        state.indexes.clear();
        observer?.disconnect();
    }

    // ---- searching -----------------------------------------------------

    // The search's work until its next turn: the slice the page's frame
    // budget grants it (a hidden page's, the find's own time).
    let sliceMs = KINDS.find.ms;
    // A turn for the page between two slices of a search (newer requests
    // come in between): the next slice is the frame budget's.
    async function pause() {
        if (isHidden(doc, geometry)) {
            await scheduler.yieldTask();
            sliceMs = KINDS.find.ms;
        } else {
            sliceMs = (await budget.next('find')).ms;
        }
    }

    /**
     * A search of the blocks in place; false if a newer search, a clear or
     * another document took over.
     * @param {FindState} s
     * @param {Searched | null} view
     */
    function search(s, view) {
        clearMarks(true);
        return searchBlocks(s, view, {
            read: (v, index, filling) => {
                const dressed = v.dressing?.textOf(index);
                return dressed !== undefined
                    ? { text: dressedTextOf(v, index, dressed), dressed: true }
                    : { text: textOf(v.elements[index], filling), dressed: false };
            },
            pause,
            rendering: isRendering(),
            current: () => state === s && !disposed && getView() === view,
            now,
            sliceMs: () => sliceMs,
        });
    }

    /**
     * Puts the marks of a search done in the blocks near the screen, and
     * watches the others.
     * @param {FindState} s
     */
    function arrange(s) {
        s.done = true;
        const view = s.view;
        if (!view) return;
        for (const index of s.ranges.keys()) if (!s.waiting[index]) s.unmarked.set(view.elements[index], index);
        if (!observer) {
            for (const index of Array.from(s.unmarked.values())) {
                s.unmarked.delete(view.elements[index]);
                markBlock(s, index);
            }
            return;
        }
        /** @type {Set<Element>} */
        const chunks = new Set();
        for (const block of s.unmarked.keys()) if (block.parentElement) chunks.add(block.parentElement);
        for (const chunk of chunks) observer.observe(chunk);
    }

    /**
     * Searches the document shown until the search holds: again when another
     * document came meanwhile, and once the formulas it read as quiet boxes
     * have come from the worker. False if a newer search or a clear took over.
     * @param {FindState} s
     */
    async function searchShown(s) {
        for (let round = 0; round < 3; round++) {
            const view = getView();
            if (!(await search(s, view))) {
                if (state !== s || disposed) return false;
                continue;
            }
            if (s.inSource && view?.dressing) {
                // A block whose formulas the worker has not sent yet shows
                // them as quiet boxes: a search for what formulas show
                // waits for the text they will show.
                await view.dressing.arrived();
                if (state !== s || disposed) return false;
                continue;
            }
            arrange(s);
            return true;
        }
        if (state !== s || disposed) return false;
        arrange(s);
        return true;
    }

    // ---- the match shown -----------------------------------------------

    // The marks of a match: its block is marked now if it is not yet, or
    // dressed first if it is waiting for its highlighting and math (its
    // marks then come as it is replaced). A block that shows another text
    // than the one searched makes the search stale.
    /**
     * @param {FindState} s
     * @param {number} k
     */
    function marksOf(s, k) {
        const marked = s.marks.get(k);
        if (marked) return marked;
        const view = s.view;
        if (!view || getView() !== view) return [];
        const index = s.blockOf[k];
        if (s.waiting[index]) {
            // Replaced, the block is marked about the screen, which the
            // match may not be near yet.
            view.dressing?.dress(index);
            if (s.waiting[index]) return [];
            const dressed = s.marks.get(k);
            if (dressed) return dressed;
        }
        const block = view.elements[index];
        const range = s.ranges.get(index);
        if (!range) return [];
        if (s.unmarked.has(block) && range[1] - range[0] <= MARK_WHOLE_MAX) {
            s.unmarked.delete(block);
            markBlock(s, index);
        } else if (!markRange(s, index, k, k + 1)) {
            s.stale = true;
        }
        return s.marks.get(k) ?? [];
    }

    /**
     * @param {FindState} s
     * @param {number} k
     */
    function setActive(s, k) {
        for (const mark of s.marks.get(s.active) ?? []) mark.classList.remove('md-find-active');
        s.active = k;
        const marks = k >= 0 && k < s.total ? marksOf(s, k) : [];
        for (const mark of marks) mark.classList.add('md-find-active');
        if (marks[0]) reveal(marks[0]);
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

    /**
     * Where a match is on the page: its mark, or, not marked yet, the line
     * of its block that holds it (in a block with many matches) or its block.
     * @param {FindState} s
     * @param {number} k
     */
    function topOf(s, k) {
        const mark = s.marks.get(k)?.[0];
        if (mark) return geometry.top(mark);
        const index = s.blockOf[k];
        const range = s.ranges.get(index);
        if (range && range[1] - range[0] > MARK_WHOLE_MAX && !s.waiting[index]) {
            const nodes = nodeIndexOf(s, index);
            const line = nodes ? firstWhere(0, nodes.nodes.length, (i) => nodes.starts[i] > s.startOf[k]) - 1 : -1;
            const parent = line >= 0 ? nodes?.nodes[line].parentElement : null;
            if (parent) return geometry.top(parent);
        }
        return geometry.top(/** @type {Element} */ (s.view?.elements[index]));
    }

    // The first match at or below the reading line, or the last one above
    // the bottom of the view when going backwards. Matches lie in the
    // page's order: the chunk that holds the line is found by the chunks'
    // places (a chunk off screen has one without laying out what it holds),
    // then the match within it.
    /**
     * @param {FindState} s
     * @param {string} direction
     */
    function startIndex(s, direction) {
        const elements = s.view?.elements ?? [];
        /** @param {number} k */
        const chunkOf = (k) => /** @type {Element} */ (elements[s.blockOf[k]]?.parentElement ?? elements[s.blockOf[k]]);
        /** @param {number} k */
        const chunkTop = (k) => geometry.top(chunkOf(k));
        if (direction === 'previous') {
            const bottom = geometry.scrollTop() + geometry.viewportHeight();
            const below = firstWhere(0, s.total, (k) => chunkTop(k) > bottom);
            if (below === 0) return s.total - 1;
            const top = chunkTop(below - 1);
            const first = firstWhere(0, below, (k) => chunkTop(k) >= top);
            const after = firstWhere(first, below, (k) => topOf(s, k) > bottom);
            if (after > first) return after - 1;
            return first > 0 ? first - 1 : s.total - 1;
        }
        const line = geometry.scrollTop() + getInsetTop();
        const from = firstWhere(0, s.total, (k) => {
            const chunk = chunkOf(k);
            return geometry.top(chunk) + geometry.height(chunk) > line;
        });
        if (from >= s.total) return 0;
        const top = chunkTop(from);
        const end = firstWhere(from, s.total, (k) => chunkTop(k) > top);
        const at = firstWhere(from, end, (k) => topOf(s, k) >= line);
        if (at < end) return at;
        return end < s.total ? end : 0;
    }

    /** @param {FindState | null} s */
    function result(s) {
        /** @type {{matchCount: number, activeIndex: number, found: boolean, partial?: boolean}} */
        const answer = !s || s.total === 0 ? { ...NO_MATCH } : { matchCount: s.total, activeIndex: s.active, found: true };
        // Counted in a document still going in: more may come.
        if (s?.partial) answer.partial = true;
        return answer;
    }

    // The answer for a request that a newer one took over: the newest's,
    // once it has one.
    async function latest() {
        for (;;) {
            const current = state;
            if (!current) return { ...NO_MATCH };
            await current.busy.catch(() => {});
            if (state === current) return result(current);
        }
    }

    /**
     * A search for the query, from where the reader is, or from the match
     * that was active (after a re-render).
     * @param {FindState} s
     * @param {string} direction
     * @param {number} previous
     */
    async function start(s, direction, previous) {
        const started = now();
        if (!(await searchShown(s))) return latest();
        // The text nodes of a block with many matches (a long table) are
        // read in a turn of their own: the match shown and the marks about
        // the screen are placed by them.
        let read = 0;
        for (const [index, range] of s.ranges) {
            if (read >= INDEXES_AHEAD) break;
            const block = s.view?.elements[index];
            if (range[1] - range[0] <= MARK_WHOLE_MAX || s.waiting[index] || !block || s.indexes.has(block)) continue;
            const reading = now();
            nodeIndexOf(s, index);
            read += 1;
            if (now() - reading > sliceMs) {
                await pause();
                if (state !== s || disposed) return latest();
            }
        }
        // After a long search (a long document) the frame has its turn
        // before the match is marked and scrolled to, which lays out
        // where it is: the two together would make one long frame.
        if (s.total > 0 && now() - started > sliceMs) {
            await scheduler.nextFrame();
            if (state !== s || disposed) return latest();
        }
        if (s.total > 0) {
            const k = previous >= 0 ? Math.min(previous, s.total - 1) : startIndex(s, direction);
            // The match's block, if it has many, gets its marks about the
            // screen with the match's: its lines read before any change.
            const index = s.blockOf[k];
            const block = s.view?.elements[index];
            const range = s.ranges.get(index);
            if (observer && block && range && range[1] - range[0] > MARK_WHOLE_MAX && s.unmarked.has(block)) {
                s.unmarked.delete(block);
                markBlock(s, index);
            }
            setActive(s, k);
        }
        removeRetired();
        // Its block showed another text than the one read (an image that
        // did not load shows its alternative text): searched again.
        if (s.stale && !(await searchAgain(s))) return latest();
        return result(s);
    }

    /**
     * A step from the active match.
     * @param {FindState} s
     * @param {string} direction
     */
    async function step(s, direction) {
        if (state !== s) return latest();
        const view = getView();
        if (!s.stale && (s.view !== view || (view && view.count !== s.count))) s.stale = true;
        if (!s.stale && s.filling >= 0) {
            // A long block still going in when it was read: what came since
            // is searched too.
            const block = view?.elements[s.filling];
            if (!block || shownTextOf(block) !== s.texts[s.filling]) s.stale = true;
        }
        // A block's highlighting or math changed its text, or more of the
        // document came: the matches are found again and the step goes on
        // from the one that was active.
        if (s.stale && !(await searchAgain(s))) return latest();
        if (s.total > 0) {
            const by = direction === 'previous' ? -1 : 1;
            setActive(s, ((s.active < 0 ? (by > 0 ? -1 : 0) : s.active) + by + s.total) % s.total);
        }
        return result(s);
    }

    /**
     * Finds the matches again, keeping the index of the one that was active.
     * @param {FindState} s
     */
    async function searchAgain(s) {
        const previous = s.active;
        // Twice at most: the text read the second time is the text shown.
        for (let round = 0; round < 2 && s.stale; round++) {
            s.active = -1;
            if (!(await searchShown(s))) return false;
            removeRetired();
            if (s.total > 0 && previous >= 0) setActive(s, Math.min(previous, s.total - 1));
        }
        return true;
    }

    /** @param {import('../protocol.js').RequestPayload<'find'>} payload */
    async function find(payload) {
        if (!isPlainObject(payload) || typeof payload.query !== 'string'
            || typeof payload.caseSensitive !== 'boolean' || typeof payload.restart !== 'boolean'
            || !['next', 'previous', 'replaceAll'].includes(payload.direction)) {
            throw new PageError('invalidPayload', 'find needs query, direction, caseSensitive and restart');
        }
        if (payload.direction === 'replaceAll') throw new PageError('unsupported', 'the page cannot replace text');
        const generation = getView()?.generation ?? 0;
        const same = state && state.query === payload.query && state.caseSensitive === payload.caseSensitive ? state : null;
        // After a render the reader asks again, and a count that was not
        // final is asked for anew (a restart of the same query): the same
        // match stays active. A step always moves.
        const rendered = same !== null && (same.generation !== generation || (payload.restart && same.partial));
        if (!same || payload.restart || rendered) {
            const previous = rendered ? same.active : -1;
            if (holding) holding.cancelled = true;
            clearMarks(true);
            const fresh = newState(payload.query, payload.caseSensitive, generation);
            state = fresh;
            const answer = start(fresh, payload.direction, previous);
            fresh.busy = answer;
            return answer;
        }
        const s = same;
        const next = () => step(s, payload.direction);
        const answer = s.busy.then(next, next);
        s.busy = answer;
        return answer;
    }

    // ---- changes to the page -------------------------------------------

    /**
     * A block was replaced by its highlighting and math: its matches are
     * marked in its new element, or, if it shows another text than the
     * search read, the search is made again at its next step.
     * @param {number} index
     */
    function replaced(index) {
        const view = getView();
        if (!view) return;
        // Typeset a few formulas at a time, a block keeps its element.
        const block = view.elements[index];
        textCache.delete(block);
        nodeCache.delete(block);
        const s = state;
        if (!s || s.view !== view) return;
        const searched = s.texts[index];
        if (searched === undefined) return;
        s.waiting[index] = 0;
        if (!s.done || !s.ranges.has(index)) {
            // A search under way marks it with the others.
            if (textOf(block).shown !== searched) s.stale = true;
            return;
        }
        const range = /** @type {[number, number]} */ (s.ranges.get(index));
        for (let k = range[0]; k < range[1]; k++) s.marks.delete(k);
        s.open.delete(index);
        markBlock(s, index);
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
        nodeCache.delete(block);
        if (state) state.stale = true;
    }

    function clear() {
        if (holding) holding.cancelled = true;
        clearMarks();
        state = null;
        return { ...NO_MATCH };
    }

    /**
     * Reads the text of a document's blocks ahead of a search, a few
     * milliseconds a frame, so that the first search of a long document
     * only searches; and again every few frames while the worker still
     * sends highlighting and math, whose texts each need folding (a
     * formula's boxes hold invisible spaces). Ends when another document
     * is shown.
     * @param {Searched} view
     */
    async function prepare(view) {
        let arrived = view.dressing === undefined;
        void view.dressing?.arrived().then(() => { arrived = true; });
        for (;;) {
            const last = arrived;
            let index = 0;
            while (index < view.count && getView() === view && !disposed) {
                const slice = await budget.next('read');
                if (isHidden(doc, geometry) || getView() !== view || disposed) {
                    slice.end();
                    return;
                }
                for (; index < view.count && slice.left() > 0; index++) {
                    const dressed = view.dressing?.textOf(index);
                    if (dressed === undefined) textOf(view.elements[index]);
                    else dressedTextOf(view, index, dressed);
                }
                slice.end();
            }
            if (last || getView() !== view || disposed) return;
            for (let frame = 0; frame < PREPARE_AGAIN_FRAMES && !arrived; frame++) {
                if (await scheduler.nextFrame() === null) return;
            }
        }
    }

    /**
     * The document is all in place: a search that read only part of it is
     * made again at the next request, from the match that was active.
     * @param {Searched} view
     */
    function completed(view) {
        if (state && state.view === view && state.partial) state.stale = true;
    }

    // Another document took the place of the one searched (or the full
    // parse of the one whose head was shown): the marks go, and the next
    // step searches again.
    function forget() {
        if (!state) return;
        clearMarks();
        state.stale = true;
    }

    function dispose() {
        disposed = true;
        clear();
        observer?.disconnect();
        win?.removeEventListener('scroll', onScroll);
    }

    return { find, clear, forget, replaced, prepare, completed, changed, dispose };
}
