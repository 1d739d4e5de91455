// @ts-check
// Turning the parse result into elements, a range of blocks at a time. Plain
// blocks are parsed from their HTML text in one go; a block with raw HTML is
// sanitised on its own and its trusted pieces are put back.

const RAW_TAGS = new Set(['p', 'ul', 'ol', 'blockquote', 'div', 'section', 'h1', 'h2', 'h3', 'h4', 'h5', 'h6']);
const RAW_ATTRIBUTES = new Set(['class', 'start', 'data-tasks']);

/** @typedef {import('./state.js').Block} Block */
/** @typedef {import('./state.js').ImageCounts} ImageCounts */
/** @typedef {import('./sanitize.js').Sanitizer} Sanitizer */

/**
 * What raw blocks need: the sanitiser, the document their images belong to,
 * the counts of those images, and what a refused image says.
 * @typedef {object} RawContext
 * @property {Sanitizer} sanitizer
 * @property {string} documentID
 * @property {ImageCounts} counts
 * @property {string} refusedReason
 */

/**
 * @param {Document} doc
 * @param {string} html
 */
function parseHTML(doc, html) {
    const template = doc.createElement('template');
    template.innerHTML = html;
    return template.content;
}

// The element of one raw block, with its sanitised content.
/**
 * @param {Document} doc
 * @param {Block & {raw: import('./state.js').RawMarkup}} block
 * @param {Sanitizer} sanitizer
 * @param {string} documentID
 * @param {ImageCounts} counts
 * @param {string} [refusedReason]
 */
export function rawBlockElement(doc, block, sanitizer, documentID, counts, refusedReason = '') {
    const raw = block.raw;
    const element = doc.createElement(RAW_TAGS.has(raw.tag) ? raw.tag : 'div');
    for (const [name, value] of Object.entries(raw.attrs ?? {})) {
        if (RAW_ATTRIBUTES.has(name)) element.setAttribute(name, String(value));
    }
    element.id = block.id;
    const fragment = sanitizer.sanitizeHTML(raw.html, documentID, counts, refusedReason);

    // Pieces and ids count only where they carry this render's nonce.
    for (const holder of Array.from(fragment.querySelectorAll('[data-md-piece]'))) {
        const index = Number(holder.getAttribute('data-md-piece'));
        const piece = holder.getAttribute('data-md-k') === raw.nonce && Number.isInteger(index)
            ? raw.pieces[index] : undefined;
        if (piece === undefined) {
            holder.remove();
            continue;
        }
        holder.replaceWith(parseHTML(doc, piece));
    }
    for (const holder of Array.from(fragment.querySelectorAll('[data-md-k], [data-md-id]'))) {
        const trustedID = holder.getAttribute('data-md-k') === raw.nonce ? holder.getAttribute('data-md-id') : null;
        holder.removeAttribute('data-md-k');
        holder.removeAttribute('data-md-id');
        if (trustedID) holder.id = trustedID;
    }
    element.append(fragment);
    return element;
}

// A block whose markup is longer than this goes in piece by piece: its
// element with its first items (a table's rows, a list's items), then the
// rest of them in groups, a group per slice. In one go, the browser would
// parse and lay out the whole block in one frame. A long code block goes in
// whole: the browser lays out all of its text again at each change to it,
// so that pieces would cost many times its one layout.
export const LONG_BLOCK_CHARS = 48 * 1024;

/**
 * Where a long block's markup can be cut so that its pieces, each parsed on
 * its own and appended in turn, make the same elements as the whole: the
 * offsets of its items' starts, then the offset where its items end.
 * `into` names the element the items after the first piece go into: the
 * table's body or the list itself. Null when the block has no such items,
 * or fewer than two.
 * @param {string} html  the block's markup
 * @param {string} kind
 * @returns {{cuts: number[], into: 'tbody' | 'list'} | null}
 */
export function itemCuts(html, kind) {
    if (kind === 'table') {
        const body = html.indexOf('<tbody>');
        const end = html.lastIndexOf('</tbody>');
        if (body < 0 || end < body) return null;
        return cutsAt(html, /<(\/?)tr[\s>]/g, body, end, 'tbody');
    }
    if (kind === 'list') {
        const open = /^<(ul|ol)[\s>]/.exec(html);
        if (!open) return null;
        const end = html.lastIndexOf(`</${open[1]}>`);
        if (end < 0) return null;
        return cutsAt(html, /<(\/?)li[\s>]/g, open[0].length, end, 'list');
    }
    return null;
}

/**
 * The starts of the outermost elements that `pattern` (with the closing
 * slash as its group) opens between `from` and `end`, and `end`.
 * @param {string} html
 * @param {RegExp} pattern
 * @param {number} from
 * @param {number} end
 * @param {'tbody' | 'list'} into
 */
function cutsAt(html, pattern, from, end, into) {
    const cuts = [];
    let depth = 0;
    pattern.lastIndex = from;
    for (let match = pattern.exec(html); match && match.index < end; match = pattern.exec(html)) {
        if (match[1]) {
            depth -= 1;
            continue;
        }
        if (depth === 0) cuts.push(match.index);
        depth += 1;
    }
    if (cuts.length < 2 || depth !== 0) return null;
    cuts.push(end);
    return { cuts, into };
}

/**
 * A long block going in piece by piece.
 * @typedef {object} LongBlock
 * @property {number} index  the block's
 * @property {string} html  its markup
 * @property {number[]} cuts  see itemCuts
 * @property {number} next  the cut where the items still to come start
 * @property {Element} container  where they go
 * @property {boolean} [settled]  a table's columns are fixed (see
 *     fitColumns)
 * @property {ColumnTexts} [columns]  then, what they hold at most
 */

/**
 * Starts a long block: appends its element with the items that fit in
 * about `bytes` of markup (at least one) to the container, as elements[index].
 * Null when it cannot be cut, and nothing was appended.
 * @param {Document} doc
 * @param {Element} container
 * @param {import('./state.js').ParseResult} result
 * @param {number} index
 * @param {Element[]} elements
 * @param {number} bytes
 * @returns {LongBlock | null}
 */
export function startLongBlock(doc, container, result, index, elements, bytes) {
    const block = result.blocks[index];
    if (block.raw) return null;
    const html = result.html.slice(result.offsets[index], result.offsets[index + 1]);
    const found = itemCuts(html, block.kind);
    if (!found) return null;
    const { cuts, into } = found;
    const next = nextCut(cuts, 1, bytes);
    const end = cuts[cuts.length - 1];
    const fragment = parseHTML(doc, html.slice(0, cuts[next]) + html.slice(end));
    const element = fragment.firstElementChild;
    if (!element || fragment.children.length !== 1 || element.id !== block.id) return null;
    const target = into === 'tbody' ? element.querySelector('tbody') : element;
    if (!target) return null;
    container.append(fragment);
    elements[index] = element;
    return { index, html, cuts, next, container: target };
}

/**
 * Appends the long block's next items, about `bytes` of markup (at least
 * one); returns the diagram placeholders among them. A table's columns are
 * fitted before its second piece (or the first after it was laid out).
 * @param {Document} doc
 * @param {LongBlock} long
 * @param {number} bytes
 * @param {(element: Element) => number} measure  an element's laid-out width
 * @returns {Element[]}
 */
export function continueLongBlock(doc, long, bytes, measure) {
    const table = long.container.closest('table');
    // Until the table has been laid out (a page without a size), its
    // columns are fitted at the next piece.
    if (!long.settled && table) {
        const end = long.cuts[long.cuts.length - 1];
        long.columns ??= columnTexts(long.html.slice(long.cuts[0], end), table.tHead?.rows[0]?.cells.length ?? 0);
        long.settled = fitColumns(table, long.columns, measure);
    }
    const next = nextCut(long.cuts, long.next + 1, bytes, long.cuts[long.next]);
    const fragment = parseHTML(doc, long.html.slice(long.cuts[long.next], long.cuts[next]));
    long.next = next;
    const diagrams = Array.from(fragment.querySelectorAll('[data-diagram]'));
    long.container.append(fragment);
    return diagrams;
}

/**
 * What a long table's columns hold at most, from its whole markup: the
 * inner markup of each column's longest cell and its longest word.
 * @typedef {{cells: string[], words: string[]}} ColumnTexts
 */

/**
 * @param {string} markup  a table's row markup
 * @param {number} columns
 * @returns {ColumnTexts}
 */
export function columnTexts(markup, columns) {
    const cells = new Array(columns).fill('');
    const cellLengths = new Array(columns).fill(-1);
    const words = new Array(columns).fill('');
    const row = /<tr[\s>]([\s\S]*?)<\/tr>/g;
    const cell = /<t[dh][^>]*>([\s\S]*?)<\/t[dh]>/g;
    for (let r = row.exec(markup); r; r = row.exec(markup)) {
        let k = 0;
        cell.lastIndex = 0;
        for (let c = cell.exec(r[1]); c && k < columns; c = cell.exec(r[1]), k++) {
            const text = c[1].replace(/<[^>]*>/g, '').replace(/&[a-z#0-9]+;/gi, 'x');
            if (text.length > cellLengths[k]) {
                cellLengths[k] = text.length;
                cells[k] = c[1];
            }
            for (const word of text.split(/\s+/)) if (word.length > words[k].length) words[k] = word;
        }
    }
    return { cells, words };
}

/**
 * Gives a long table fixed column widths, as an automatic layout of the
 * whole table would size them: each column as wide as its longest cell on
 * one line (its heading's included) when all fit in the room there is,
 * else at least as wide as its longest word, the room left shared in
 * proportion to what each column would still take. The widths come from
 * the column texts set on one line out of sight in a cell of the column,
 * so that the rows need not be laid out. Otherwise the browser lays the
 * whole table out again at each piece of rows (its columns are sized from
 * every cell), so that the cost of a long table grows faster than its
 * rows. A table that has not been laid out (a hidden page) keeps its
 * automatic layout: it is laid out once, whole, when shown. Fitted from
 * the whole table's cells from the start, so that its late rows fit as its
 * first do; fitted again when the text changes (typography), where a fit
 * that changes no width by more than its room to spare leaves the table as
 * it is. Whether the table has fixed columns.
 * @param {HTMLTableElement} table
 * @param {ColumnTexts} texts
 * @param {(element: Element) => number} measure  an element's laid-out width
 */
export function fitColumns(table, texts, measure) {
    const head = table.tHead?.rows[0];
    const body = table.tBodies[0]?.rows[0];
    if (!head) return false;
    const cells = Array.from(head.cells);
    const room = table.parentElement ? measure(table.parentElement) : 0;
    if (!(room > 0)) return false;
    const doc = table.ownerDocument;
    const view = doc.defaultView;
    /**
     * The width of `fill`'s content on one line, set in `cell`.
     * @param {Element} cell
     * @param {(probe: HTMLElement) => void} fill
     */
    const oneLine = (cell, fill) => {
        const probe = doc.createElement('span');
        probe.style.cssText = 'position:absolute;visibility:hidden;white-space:nowrap;left:0;top:0';
        fill(probe);
        cell.append(probe);
        const width = measure(probe);
        probe.remove();
        return width;
    };
    /** @type {number[]} */
    const least = [];
    /** @type {number[]} */
    const most = [];
    for (let k = 0; k < cells.length; k++) {
        const cell = cells[k];
        const sample = body?.cells[k] ?? cell;
        const style = view?.getComputedStyle(cell);
        // The padding and rules do not grow with the text.
        const fixed = style ? (parseFloat(style.paddingLeft) || 0) + (parseFloat(style.paddingRight) || 0)
            + (parseFloat(style.borderRightWidth) || 0) : 0;
        const heading = oneLine(cell, (probe) => { probe.innerHTML = cell.innerHTML; });
        const longest = oneLine(sample, (probe) => { probe.innerHTML = texts.cells[k] ?? ''; });
        const word = oneLine(sample, (probe) => { probe.textContent = texts.words[k] ?? ''; });
        const headingWord = oneLine(cell, (probe) => {
            probe.textContent = (cell.textContent ?? '').split(/\s+/).reduce((a, b) => (b.length > a.length ? b : a), '');
        });
        // Room to spare: the longest cell by its characters stands for
        // others as long, whose glyphs (digits, bold) may run wider.
        least.push(fixed + Math.max(word, headingWord) * 1.05 + 2);
        most.push(fixed + Math.max(heading, longest) * 1.05 + 2);
    }
    // The table's own left rule.
    const space = room - 1;
    const sum = (/** @type {number[]} */ values) => values.reduce((total, w) => total + w, 0);
    const low = sum(least);
    const high = sum(most);
    let widths = most;
    if (high > space) {
        const share = low >= space ? 0 : (space - low) / (high - low);
        widths = least.map((w, k) => w + (Math.max(w, most[k]) - w) * share);
    }
    // Within the room to spare the columns stay: a change of width lays
    // the whole table out again.
    const current = cells.map((cell) => parseFloat(/** @type {HTMLElement} */ (cell).style.width));
    const keep = (/** @type {number} */ w, /** @type {number} */ k) => Math.abs(w - widths[k]) <= Math.max(0.5, widths[k] * 0.03);
    if (table.style.tableLayout === 'fixed' && current.every(keep)) return true;
    cells.forEach((cell, k) => {
        const style = /** @type {HTMLElement} */ (cell).style;
        style.boxSizing = 'border-box';
        style.width = `${widths[k].toFixed(1)}px`;
    });
    table.style.width = `${(sum(widths) + 1).toFixed(1)}px`;
    table.style.tableLayout = 'fixed';
    return true;
}

/**
 * The first cut from `from` on that ends at least one item and no more than
 * `bytes` of markup after `start` (more for a single item).
 * @param {number[]} cuts
 * @param {number} from
 * @param {number} bytes
 * @param {number} [start]
 */
function nextCut(cuts, from, bytes, start = cuts[0]) {
    let next = Math.min(from, cuts.length - 1);
    while (next + 1 < cuts.length && cuts[next + 1] - start <= bytes) next += 1;
    return next;
}

/** @param {LongBlock} long  the share of its items' markup in place */
export function longBlockShare(long) {
    const first = long.cuts[0];
    const end = long.cuts[long.cuts.length - 1];
    return end > first ? (long.cuts[long.next] - first) / (end - first) : 1;
}

// Appends blocks [from, to) of the result to the container, filling
// elements[from..to). Returns the diagram placeholders among them.
/**
 * @param {Document} doc
 * @param {Element} container
 * @param {import('./state.js').ParseResult} result
 * @param {number} from
 * @param {number} to
 * @param {Element[]} elements
 * @param {RawContext} raw
 * @returns {Element[]}
 */
export function appendBlocks(doc, container, result, from, to, elements, raw) {
    /** @type {Element[]} */
    const diagrams = [];

    let i = from;
    while (i < to) {
        const block = result.blocks[i];
        if (block.raw) {
            const withMarkup = /** @type {Block & {raw: import('./state.js').RawMarkup}} */ (block);
            const element = rawBlockElement(doc, withMarkup, raw.sanitizer,
 raw.documentID, raw.counts, raw.refusedReason);
            for (const placeholder of element.querySelectorAll('[data-diagram]')) diagrams.push(placeholder);
            container.append(element);
            elements[i] = element;
            i += 1;
            continue;
        }
        let j = i;
        while (j < to && !result.blocks[j].raw) j++;
        const fragment = parseHTML(doc, result.html.slice(result.offsets[i], result.offsets[j]));
        const children = Array.from(fragment.children);
        if (children.length === j - i) {
            for (let k = 0; k < children.length; k++) elements[i + k] = children[k];
        } else {
            // Not one element per block: build them one by one instead.
            fragment.replaceChildren();
            for (let k = i; k < j; k++) {
                const part = parseHTML(doc, result.html.slice(result.offsets[k], result.offsets[k + 1]));
                let element = part.firstElementChild;
                if (!element || part.children.length !== 1) {
                    element = doc.createElement('div');
                    element.append(part);
                }
                element.id = result.blocks[k].id;
                fragment.append(element);
                elements[k] = element;
            }
        }
        for (const placeholder of fragment.querySelectorAll('[data-diagram]')) diagrams.push(placeholder);
        container.append(fragment);
        i = j;
    }
    return diagrams;
}
