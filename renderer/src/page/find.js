// Find in page: every match is wrapped in <mark class="md-find">, the active
// one also carries "md-find-active" and is scrolled into view. Text inside
// the math annotation, the copy buttons and diagrams is not searched.

import { PageError, isPlainObject } from './protocol.js';

export const MAX_MATCHES = 10000;

const SKIP = '.katex-mathml, .md-copy, .md-diagram, script, style';

/** @param {string} text */
function escapeRegExp(text) {
    return text.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
}

/**
 * A search under way; each match is the marks that wrap its text.
 * @typedef {{query: string, caseSensitive: boolean, generation: number, revision: number,
 *     matches: HTMLElement[][], active: number}} FindState
 */

/**
 * @param {object} parts
 * @param {Document} parts.doc
 * @param {() => Element[]} parts.getBlocks  the blocks in place, as shown
 * @param {import('./state.js').Geometry} parts.geometry
 * @param {() => number} parts.getInsetTop
 * @param {() => number} parts.getGeneration
 * @param {() => number} [parts.getRevision]
 */
export function createFind({ doc, getBlocks, geometry, getInsetTop, getGeneration, getRevision = () => 0 }) {
    /** @type {FindState | null} */
    let state = null;

    function clearMarks() {
        if (!state) return;
        for (const match of state.matches) {
            for (const mark of match) {
                const parent = mark.parentNode;
                if (!parent) continue;
                while (mark.firstChild) parent.insertBefore(mark.firstChild, mark);
                parent.removeChild(mark);
                parent.normalize();
            }
        }
        state.matches = [];
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
     * @param {string} query
     * @param {boolean} caseSensitive
     */
    function search(query, caseSensitive) {
        /** @type {HTMLElement[][]} */
        const matches = [];
        if (query === '') return matches;
        const pattern = new RegExp(escapeRegExp(query), caseSensitive ? 'gu' : 'giu');
        for (const block of getBlocks()) {
            if (matches.length >= MAX_MATCHES) break;
            const nodes = textNodesOf(block);
            if (nodes.length === 0) continue;
            const starts = [];
            let text = '';
            for (const node of nodes) {
                starts.push(text.length);
                text += node.data;
            }
            /** @type {[number, number][]} */
            const ranges = [];
            pattern.lastIndex = 0;
            for (let m = pattern.exec(text); m; m = pattern.exec(text)) {
                if (m[0].length === 0) {
                    pattern.lastIndex += 1;
                    continue;
                }
                ranges.push([m.index, m.index + m[0].length]);
                if (matches.length + ranges.length >= MAX_MATCHES) break;
            }
            // Wrap from the end: splitting a text node keeps its head in the
            // original node, so the offsets of earlier matches stay valid.
            /** @type {HTMLElement[][]} */
            const wrapped = new Array(ranges.length);
            for (let r = ranges.length - 1; r >= 0; r--) wrapped[r] = wrap(nodes, starts, ranges[r][0], ranges[r][1]);
            for (const match of wrapped) matches.push(match);
        }
        return matches;
    }

    /** @param {number} index */
    function setActive(index) {
        if (!state) return;
        for (const mark of state.matches[state.active] ?? []) mark.classList.remove('md-find-active');
        state.active = index;
        const marks = state.matches[index] ?? [];
        for (const mark of marks) mark.classList.add('md-find-active');
        if (marks[0] && typeof marks[0].scrollIntoView === 'function') {
            marks[0].scrollIntoView({ block: 'center', inline: 'nearest' });
            geometry.didScroll?.();
        }
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
        if (direction === 'previous') {
            const bottom = geometry.scrollTop() + geometry.viewportHeight();
            for (let i = count - 1; i >= 0; i--) if (geometry.top(state.matches[i][0]) <= bottom) return i;
            return count - 1;
        }
        for (let i = 0; i < count; i++) if (geometry.top(state.matches[i][0]) >= line) return i;
        return 0;
    }

    function result() {
        const count = state ? state.matches.length : 0;
        const active = state && count > 0 ? state.active : -1;
        return { matchCount: count, activeIndex: active, found: count > 0 };
    }

    /** @param {import('../protocol.js').RequestPayload<'find'>} payload */
    function find(payload) {
        if (!isPlainObject(payload) || typeof payload.query !== 'string'
            || typeof payload.caseSensitive !== 'boolean' || typeof payload.restart !== 'boolean'
            || !['next', 'previous', 'replaceAll'].includes(payload.direction)) {
            throw new PageError('invalidPayload', 'find needs query, direction, caseSensitive and restart');
        }
        if (payload.direction === 'replaceAll') throw new PageError('unsupported', 'the page cannot replace text');
        const revision = getRevision();
        const generation = getGeneration();
        const same = state && state.query === payload.query && state.caseSensitive === payload.caseSensitive ? state : null;
        const stale = same !== null && same.generation !== generation;
        if (!same || payload.restart || stale) {
            const previous = stale ? same.active : -1;
            clearMarks();
            /** @type {FindState} */
            const fresh = { query: payload.query, caseSensitive: payload.caseSensitive, generation, revision, matches: [], active: -1 };
            state = fresh;
            fresh.matches = search(payload.query, payload.caseSensitive);
            if (fresh.matches.length > 0) {
                // After a re-render the active match stays where it was.
                const index = stale && previous >= 0 ? Math.min(previous, fresh.matches.length - 1) : startIndex(fresh, payload.direction);
                setActive(index);
            }
            return result();
        }
        state = same;
        if (state.revision !== revision) {
            // Blocks of this document changed (highlighting and math came
            // in): the matches are found again and the step goes on from the
            // one that was active.
            const previous = state.active;
            clearMarks();
            state.revision = revision;
            state.matches = search(payload.query, payload.caseSensitive);
            state.active = -1;
            if (state.matches.length > 0 && previous >= 0) setActive(Math.min(previous, state.matches.length - 1));
        }
        const count = state.matches.length;
        if (count > 0) {
            const step = payload.direction === 'previous' ? -1 : 1;
            setActive(((state.active < 0 ? (step > 0 ? -1 : 0) : state.active) + step + count) % count);
        }
        return result();
    }

    function clear() {
        clearMarks();
        state = null;
        return { matchCount: 0, activeIndex: -1, found: false };
    }

    // A new render replaced the content the marks lived in.
    function forget() {
        if (state) state.matches = [];
    }

    return { find, clear, forget };
}
