// Find's marks: reading a block's text nodes (those shown), wrapping a
// range of the block's text in <mark class="md-find"> pieces, and taking the
// marks out again, the text nodes joined as they were read.

// Text find does not read: typeset math's annotation, copy buttons,
// diagrams, scripts and styles, and what a document hides (a closed
// details' body is read: a step into it opens it).
const SKIP = '.katex-mathml, .md-copy, .md-diagram, script, style, [hidden]';

/**
 * Opens the closed details that hold `node` below their summaries, so that
 * what a step lands on is shown.
 * @param {Node} node
 */
export function reveal(node) {
    for (let element = node.parentElement; element; element = element.parentElement) {
        if (element.localName !== 'details' || element.hasAttribute('open')) continue;
        const summary = Array.from(element.children).find((child) => child.localName === 'summary');
        if (!summary || !summary.contains(node)) element.setAttribute('open', '');
    }
}

/**
 * A block's text nodes (but those skipped), where each starts in the
 * block's text, and which of them hold more than white space (where the
 * block's lines are).
 * @typedef {{nodes: Text[], starts: Int32Array, solid: Int32Array, text: string}} NodeIndex
 */

/** @param {Element} block */
function textNodesOf(block) {
    /** @type {Text[]} */
    const nodes = [];
    const skips = block.matches(SKIP) || block.querySelector(SKIP) !== null;
    const walker = /** @type {Document} */ (block.ownerDocument).createTreeWalker(block, 4 /* SHOW_TEXT */);
    for (let node = walker.nextNode(); node; node = walker.nextNode()) {
        if (skips && node.parentElement?.closest(SKIP)) continue;
        nodes.push(/** @type {Text} */ (node));
    }
    return nodes;
}

// The block's text as shown; most blocks hold nothing that is skipped.
/** @param {Element} block */
export function shownTextOf(block) {
    if (!block.matches(SKIP) && !block.querySelector(SKIP)) return block.textContent ?? '';
    let text = '';
    for (const node of textNodesOf(block)) text += node.data;
    return text;
}

/**
 * The text nodes of a block, read.
 * @param {Element} block
 * @returns {NodeIndex}
 */
export function indexNodes(block) {
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
    return { nodes, starts, solid: Int32Array.from(solid), text: parts.join('') };
}

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
 * The first item in [low, high) for which `test` holds, or `high` (the
 * test holding from some item on).
 * @param {number} low
 * @param {number} high  exclusive
 * @param {(i: number) => boolean} test
 */
export function firstWhere(low, high, test) {
    while (low < high) {
        const mid = (low + high) >> 1;
        if (test(mid)) high = mid;
        else low = mid + 1;
    }
    return low;
}

/** @param {Document} doc */
export function createMarks(doc) {
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

    /**
     * Marks that go at the next removal.
     * @param {HTMLElement[]} marks
     */
    function retire(marks) {
        retired.push(marks);
    }

    return { wrap, retire, removeRetired };
}
