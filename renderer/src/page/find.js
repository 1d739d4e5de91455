// Find in page: every match is wrapped in <mark class="md-find">, the active
// one also carries "md-find-active" and is scrolled into view. Text inside
// the math annotation, the copy buttons and diagrams is not searched. A block
// still waiting for its highlighting and math is searched in the text they
// will show, and marked once they are in place (at once for the match shown).
// Text is searched as it reads, the query too: white space is one space
// (a line break in a paragraph, a tab, a no-break space), invisible
// format characters (soft hyphens, zero-width spaces and joiners, direction
// marks) are passed over, and a letter with its combining marks, or Korean
// written in its letters' parts, is the character they make together.
//
// A search runs in slices between which the page draws and hears newer
// requests: a newer search ends an older one at once. Every match is
// counted and can be stepped to; marks go in near the screen only, a long
// table or list getting them for the rows about the screen as it scrolls.

import { PageError, isPlainObject } from './protocol.js';
import { isHidden } from './layout.js';
import { KINDS } from './budget.js';

// How long a match shown is kept in place while the page around it
// changes, and how many still frames end that.
const HOLD_FRAMES = 60;
const HOLD_STILL_FRAMES = 3;
const SEPARATOR = '\u0000';
// Blocks' texts searched in one go, joined.
const GROUP_CHARS = 256 * 1024;
// Frames between two readings of the texts the worker sent meanwhile.
const PREPARE_AGAIN_FRAMES = 12;
// A block with more matches than this is marked where the screen is, as
// the reader comes near, rather than all at once.
const MARK_WHOLE_MAX = 48;
// Blocks with many matches whose text nodes a search reads ahead of marking.
const INDEXES_AHEAD = 8;

const SKIP = '.katex-mathml, .md-copy, .md-diagram, script, style';
// A query that typeset formulas are likely to show where the text around
// them does not: a character beyond ASCII (a Greek letter, an operator, an
// arrow, which formulas show for commands). A search for another waits for
// no formula: at 5 MiB the worker typesets for seconds after the page holds
// still, and the step after a formula is in place searches again.
const MATH_QUERY = /[^\x00-\x7f]/;

// Where text may read differently from how it is stored: an invisible
// format character, a combining mark, a Korean letter written in parts,
// white space other than a space, or two spaces. Scanned for as single
// characters: most text has none, and a space alone is read as it is.
const FOLDABLE = /[\p{Default_Ignorable_Code_Point}\p{M}\u1100-\u11FF\uA960-\uA97F\uD7B0-\uD7FF]|[^\S \uFEFF]| {2}/uy;
// Where one of them may be: a character beyond printable ASCII, found
// without Unicode's classes several times faster over a long text (most
// of a document's text is ASCII), or two spaces.
const BEYOND_ASCII = /[^\x20-\x7e]/g;
const IGNORABLE_CHAR = /\p{Default_Ignorable_Code_Point}/u;
const IGNORABLE = /\p{Default_Ignorable_Code_Point}/gu;
const MARK_CHAR = /\p{M}/u;
const SPACE_CHAR = /[^\S\uFEFF]/u;
// Korean letters: leading consonants, vowels, trailing consonants; syllables.
/** @param {number} c */
const isLeading = (c) => (c >= 0x1100 && c <= 0x115f) || (c >= 0xa960 && c <= 0xa97f);
/** @param {number} c */
const isVowel = (c) => (c >= 0x1160 && c <= 0x11a7) || (c >= 0xd7b0 && c <= 0xd7c6);
/** @param {number} c */
const isTrailing = (c) => (c >= 0x11a8 && c <= 0x11ff) || (c >= 0xd7cb && c <= 0xd7ff);
/** @param {number} c */
const isSyllable = (c) => c >= 0xac00 && c <= 0xd7a3;

/**
 * A scan of a text for where it may read differently from how it is
 * stored: each call gives the first such character (or run of two spaces)
 * at or after `from`, a `from` never smaller than the call before's.
 * @param {string} shown
 * @returns {(from: number) => RegExpExecArray | null}
 */
function foldableIn(shown) {
    // The next two spaces at or after the last `from`, -1 if none.
    let pair = -2;
    return (from) => {
        if (pair !== -1 && pair < from) pair = shown.indexOf('  ', from);
        BEYOND_ASCII.lastIndex = from;
        for (;;) {
            const beyond = BEYOND_ASCII.exec(shown);
            const at = beyond ? beyond.index : -1;
            const candidate = pair >= 0 && (at < 0 || pair < at) ? pair : at;
            if (candidate < 0) return null;
            FOLDABLE.lastIndex = candidate;
            const found = FOLDABLE.exec(shown);
            if (found) return found;
            // A character beyond the first plane is read whole.
            const code = shown.charCodeAt(candidate);
            if (code >= 0xd800 && code <= 0xdbff) BEYOND_ASCII.lastIndex = candidate + 2;
        }
    };
}

/**
 * The text searched for a text shown, where they differ, and where each of
 * its code units stands in the text shown: segment k starts at code unit
 * `at[k]` of the searched text and either runs on unit for unit from `from[k]`
 * of the text shown (`to[k]` is -1), or stands as a whole for the shown
 * units [from[k], to[k]) (a character composed of several).
 * @typedef {{text: string, at: Int32Array, from: Int32Array, to: Int32Array}} Folding
 */

/**
 * @param {string} shown
 * @returns {Folding | null}  null when the text is searched as shown
 */
export function foldText(shown) {
    const nextFoldable = foldableIn(shown);
    let found = nextFoldable(0);
    if (!found) return null;
    /** @type {string[]} */
    const parts = [];
    /** @type {number[]} */
    const at = [0];
    /** @type {number[]} */
    const from = [0];
    /** @type {number[]} */
    const to = [-1];
    let length = 0;
    // Shown units [0, copied) are in the text searched.
    let copied = 0;
    /**
     * A segment from the searched unit `unit` on.
     * @param {number} unit
     * @param {number} start
     * @param {number} end
     */
    const segment = (unit, start, end) => {
        const last = at.length - 1;
        if (at[last] === unit) {
            from[last] = start;
            to[last] = end;
            return;
        }
        at.push(unit);
        from.push(start);
        to.push(end);
    };
    /** @param {number} upTo */
    const copy = (upTo) => {
        if (upTo <= copied) return;
        parts.push(shown.slice(copied, upTo));
        length += upTo - copied;
        copied = upTo;
    };
    /** @param {number} i */
    const charAt = (i) => String.fromCodePoint(/** @type {number} */ (shown.codePointAt(i)));
    while (found) {
        let start = found.index;
        if (start < copied) {
            found = nextFoldable(start + found[0].length);
            continue;
        }
        const first = charAt(start);
        const code = /** @type {number} */ (first.codePointAt(0));
        let end = start + first.length;
        if (IGNORABLE_CHAR.test(first) && !(isLeading(code) || isVowel(code))) {
            // Passed over.
            while (end < shown.length && IGNORABLE_CHAR.test(charAt(end))) end += charAt(end).length;
            copy(start);
            copied = end;
            segment(length, end, -1);
        } else if (SPACE_CHAR.test(first)) {
            while (end < shown.length && SPACE_CHAR.test(shown[end])) end += 1;
            // A space just before the run is where it begins.
            const joined = start > 0 && shown[start - 1] === ' ' && copied <= start - 1;
            copy(start);
            if (joined) {
                copied = end;
                segment(length, end, -1);
            } else {
                parts.push(' ');
                length += 1;
                copied = end;
                if (end - start > 1) segment(length, end, -1);
            }
        } else {
            // A character and its combining marks, or a Korean syllable in
            // parts: composed.
            if (MARK_CHAR.test(first) || isVowel(code) || isTrailing(code)) {
                const before = start > copied ? /** @type {number} */ (shown.codePointAt(start - 1)) : -1;
                if (start > copied && !(before >= 0xdc00 && before <= 0xdfff)) start -= 1;
                else if (start > copied + 1) start -= 2;
            }
            const lead = /** @type {number} */ (shown.codePointAt(start));
            end = start + String.fromCodePoint(lead).length;
            if (isLeading(lead)) {
                while (end < shown.length && isLeading(shown.charCodeAt(end))) end += 1;
                if (end < shown.length && isVowel(shown.charCodeAt(end))) {
                    while (end < shown.length && isVowel(shown.charCodeAt(end))) end += 1;
                    while (end < shown.length && isTrailing(shown.charCodeAt(end))) end += 1;
                }
            } else if (isSyllable(lead) || isVowel(lead) || isTrailing(lead)) {
                while (end < shown.length && isTrailing(shown.charCodeAt(end))) end += 1;
            }
            while (end < shown.length && MARK_CHAR.test(charAt(end))) end += charAt(end).length;
            const run = shown.slice(start, end);
            const composed = run.replace(IGNORABLE, '').normalize('NFC');
            copy(start);
            copied = end;
            if (composed.length === run.length) {
                parts.push(composed);
                length += composed.length;
            } else {
                if (composed.length > 0) {
                    segment(length, start, end);
                    parts.push(composed);
                    length += composed.length;
                }
                segment(length, end, -1);
            }
        }
        found = nextFoldable(copied);
    }
    copy(shown.length);
    return { text: parts.join(''), at: Int32Array.from(at), from: Int32Array.from(from), to: Int32Array.from(to) };
}

/**
 * The segment of a folding that holds searched unit `unit`.
 * @param {Folding} folding
 * @param {number} unit
 */
function segmentOf(folding, unit) {
    const { at } = folding;
    let low = 0;
    let high = at.length - 1;
    while (low < high) {
        const mid = (low + high + 1) >> 1;
        if (at[mid] <= unit) low = mid;
        else high = mid - 1;
    }
    return low;
}

/**
 * Where searched unit `unit` starts in the text shown.
 * @param {Folding} folding
 * @param {number} unit
 */
function shownStart(folding, unit) {
    const k = segmentOf(folding, unit);
    return folding.to[k] >= 0 ? folding.from[k] : folding.from[k] + unit - folding.at[k];
}

/**
 * Where searched unit `unit` ends in the text shown.
 * @param {Folding} folding
 * @param {number} unit
 */
function shownEnd(folding, unit) {
    const k = segmentOf(folding, unit);
    return folding.to[k] >= 0 ? folding.to[k] : folding.from[k] + unit - folding.at[k] + 1;
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
    return foldText(query)?.text ?? query;
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
 * A block's text as shown, and as searched where that differs.
 * @typedef {{shown: string, folding: Folding | null}} BlockText
 */

/**
 * A block's text nodes (but those skipped), where each starts in the
 * block's text, and which of them hold more than white space (where the
 * block's lines are).
 * @typedef {{nodes: Text[], starts: Int32Array, solid: Int32Array, text: string}} NodeIndex
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
 * it was read; `partial`: the search read a document still going in, and
 * `settled` once that document is all in: the next request for the same
 * query (the reader asking again after the render) finds the matches again
 * and keeps the active one; `done` once the search has its matches,
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
 * @property {boolean} settled
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

const NO_MATCH = Object.freeze({ matchCount: 0, activeIndex: -1, found: false });

/**
 * @param {object} parts
 * @param {Document} parts.doc
 * @param {() => Searched | null} parts.getView
 * @param {import('./state.js').Geometry} parts.geometry
 * @param {() => number} parts.getInsetTop
 * @param {ReturnType<typeof import('./scheduler.js').createScheduler>} parts.scheduler
 * @param {ReturnType<typeof import('./budget.js').createFrameBudget>} parts.budget  grants the search its slices of frames
 * @param {() => number} parts.now
 */
export function createFind({ doc, getView, geometry, getInsetTop, scheduler, budget, now }) {
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

    /** @param {Element} block */
    function textNodesOf(block) {
        /** @type {Text[]} */
        const nodes = [];
        const skips = block.matches(SKIP) || block.querySelector(SKIP) !== null;
        const walker = doc.createTreeWalker(block, 4 /* SHOW_TEXT */);
        for (let node = walker.nextNode(); node; node = walker.nextNode()) {
            if (skips && node.parentElement?.closest(SKIP)) continue;
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
            const nodes = textNodesOf(block);
            const starts = new Int32Array(nodes.length);
            /** @type {number[]} */
            const solid = [];
            /** @type {string[]} */
            const parts = [];
            let length = 0;
            for (let i = 0; i < nodes.length; i++) {
                const data = nodes[i].data;
                starts[i] = length;
                length += data.length;
                parts.push(data);
                if (/\S/.test(data)) solid.push(i);
            }
            found = { nodes, starts, solid: Int32Array.from(solid), text: parts.join('') };
            if (index !== s.filling) nodeCache.set(block, found);
        }
        const shown = found.text === searched ? found : null;
        s.indexes.set(block, shown);
        return shown;
    }

    // ---- marking -------------------------------------------------------

    /**
     * The text piece that holds offset `offset` of a text node as it was
     * read: marks split a node, and its pieces follow it, some in marks.
     * @param {Text} node
     * @param {number} offset
     * @returns {[Text, number] | null}  the piece and where it starts
     */
    function pieceAt(node, offset) {
        /** @type {Node | null} */
        let piece = node;
        let start = 0;
        while (piece && piece.nodeType === 3) {
            const length = /** @type {Text} */ (piece).data.length;
            if (offset < start + length) return [/** @type {Text} */ (piece), start];
            start += length;
            /** @type {Element | null} */
            const parent = piece.parentElement;
            /** @type {Node | null} */
            let next = parent && isMark(parent) ? parent.nextSibling : piece.nextSibling;
            if (next && next.nodeType === 1 && isMark(/** @type {Element} */ (next))) next = next.firstChild;
            piece = next;
        }
        return null;
    }

    /** @param {Element} element */
    function isMark(element) {
        return element.localName === 'mark' && element.classList.contains('md-find');
    }

    /**
     * The first of `count` items from `low` for which `test` holds, or
     * `low + count` (the test holding from some item on).
     * @param {number} low
     * @param {number} high  exclusive
     * @param {(i: number) => boolean} test
     */
    function firstWhere(low, high, test) {
        while (low < high) {
            const mid = (low + high) >> 1;
            if (test(mid)) high = mid;
            else low = mid + 1;
        }
        return low;
    }

    /**
     * Wraps [start, end) of the block's text, which may span nodes.
     * @param {NodeIndex} index
     * @param {number} start
     * @param {number} end
     */
    function wrap(index, start, end) {
        const { nodes, starts } = index;
        /** @type {HTMLElement[]} */
        const marks = [];
        const total = index.text.length;
        for (let i = Math.max(0, firstWhere(0, nodes.length, (k) => starts[k] > start) - 1); i < nodes.length && starts[i] < end; i++) {
            const nodeEnd = i + 1 < nodes.length ? starts[i + 1] : total;
            if (nodeEnd <= start) continue;
            const from = Math.max(start, starts[i]) - starts[i];
            const to = Math.min(end, nodeEnd) - starts[i];
            const found = pieceAt(nodes[i], from);
            if (!found) continue;
            let [node] = found;
            const pieceStart = found[1];
            if (to - pieceStart < node.data.length) node.splitText(to - pieceStart);
            if (from > pieceStart) node = node.splitText(from - pieceStart);
            const mark = doc.createElement('mark');
            mark.className = 'md-find';
            node.parentNode?.insertBefore(mark, node);
            mark.appendChild(node);
            marks.push(mark);
        }
        return marks;
    }

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
     * Where the lines of a block that holds text offset `offset` start and end on the page.
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

    // The marks of a search that a newer one took over: they go when the
    // newer one's marks go in, or when it has none, so that the page is
    // laid out once for both (a long table is laid out whole at each change
    // to its cells).
    /** @type {HTMLElement[][]} */
    let retired = [];

    function removeRetired() {
        if (retired.length === 0) return;
        /** @type {Set<Node>} */
        const parents = new Set();
        for (const marks of retired) {
            for (const mark of marks) {
                const parent = mark.parentNode;
                if (!parent) continue;
                while (mark.firstChild) parent.insertBefore(mark.firstChild, mark);
                parent.removeChild(mark);
                parents.add(parent);
            }
        }
        // The pieces of each text node are one node again, the node read.
        for (const parent of parents) parent.normalize();
        retired = [];
    }

    /** @param {boolean} [later]  the marks stay until the next search's go in */
    function clearMarks(later = false) {
        if (!state) {
            if (!later) removeRetired();
            return;
        }
        for (const marks of state.marks.values()) retired.push(marks);
        if (!later) removeRetired();
        state.marks.clear();
        state.unmarked.clear();
        state.open.clear();
        state.indexes.clear();
        observer?.disconnect();
    }

    // ---- searching -----------------------------------------------------

    /**
     * @param {string} query
     * @param {boolean} caseSensitive
     * @param {number} generation
     * @returns {FindState}
     */
    function newState(query, caseSensitive, generation) {
        return {
            query, caseSensitive, generation, view: null, count: 0, done: false, stale: false,
            total: 0, blockOf: new Int32Array(256), startOf: new Int32Array(256), endOf: new Int32Array(256),
            ranges: new Map(), texts: [], waiting: new Uint8Array(0), marks: new Map(), unmarked: new Map(),
            open: new Set(), indexes: new Map(), active: -1, filling: -1, inSource: false,
            partial: false, settled: false, busy: Promise.resolve(),
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
     * Finds the matches in every block in place: in the text each shows, or
     * the text its highlighting and math will show once they are put in
     * place. False if a newer search, a clear or another document took over.
     * @param {FindState} s
     * @param {Searched | null} view
     */
    async function search(s, view) {
        clearMarks(true);
        s.done = false;
        s.stale = false;
        s.total = 0;
        s.ranges.clear();
        s.texts = [];
        s.filling = -1;
        s.inSource = false;
        s.view = view;
        s.count = view?.count ?? 0;
        s.partial = view !== null && (view.long !== null || s.count < (view.blocks?.length ?? s.count));
        s.settled = false;
        s.waiting = new Uint8Array(s.count);
        const folded = foldQuery(s.query);
        // The blocks' texts are searched joined by a character that no text
        // shown holds (the page's parser makes every U+0000 another
        // character), so that no match spans two blocks.
        if (!view || folded === '' || folded.includes(SEPARATOR)) return true;
        const filling = view.long?.index ?? -1;
        const pattern = patternFor(s.query, s.caseSensitive);
        const mathQuery = MATH_QUERY.test(folded) && view.dressing !== undefined;
        await pause();
        if (state !== s || disposed || getView() !== view) return false;
        let sliceStarted = now();
        let index = 0;
        while (index < s.count) {
            const first = index;
            /** @type {string[]} */
            const searched = [];
            /** @type {(Folding | null)[]} */
            const foldings = [];
            let chars = 0;
            while (index < s.count && chars < GROUP_CHARS) {
                const dressed = view.dressing?.textOf(index);
                const text = dressed !== undefined ? dressedTextOf(view, index, dressed) : textOf(view.elements[index], index === filling);
                // Formulas not typeset yet are quiet boxes, with no text.
                if (dressed !== undefined) s.waiting[index] = 1;
                else if (mathQuery && !s.inSource && view.dressing?.coming(index)
                    && view.elements[index].querySelector('.md-math-pending')) s.inSource = true;
                s.texts[index] = text.shown;
                foldings.push(text.folding);
                searched.push(text.folding?.text ?? text.shown);
                chars += searched[searched.length - 1].length + 1;
                index += 1;
                if ((index % 32 === 0 || text.shown.length > 4096) && now() - sliceStarted > sliceMs) break;
            }
            const all = searched.join(SEPARATOR);
            let block = 0;
            let blockStart = 0;
            pattern.lastIndex = 0;
            for (let m = pattern.exec(all); m; m = pattern.exec(all)) {
                while (m.index >= blockStart + searched[block].length + 1) {
                    blockStart += searched[block].length + 1;
                    block += 1;
                }
                // Offsets in the text shown, which the marks wrap.
                const folding = foldings[block];
                const from = m.index - blockStart;
                const to = from + m[0].length;
                addMatch(s, first + block, folding ? shownStart(folding, from) : from, folding ? shownEnd(folding, to - 1) : to);
            }
            if (index < s.count && now() - sliceStarted > sliceMs) {
                await pause();
                if (state !== s || disposed || getView() !== view) return false;
                sliceStarted = now();
            }
        }
        if (filling >= 0 && filling < s.count && !s.waiting[filling]) s.filling = filling;
        return true;
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
        if (!s || s.total === 0) return { ...NO_MATCH };
        return { matchCount: s.total, activeIndex: s.active, found: true };
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
        // After a render, and after the rest of a document searched while
        // it went in, the reader asks again: the same match stays active.
        const rendered = same !== null && (same.generation !== generation || same.settled);
        if (!same || payload.restart || rendered) {
            // After a re-render the active match stays where it was.
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
        if (state && state.view === view && state.partial) state.settled = true;
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
