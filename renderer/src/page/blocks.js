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
