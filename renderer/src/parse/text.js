// The text a block's markup shows, as find reads it in the page: every text
// node, without typeset math's annotation, copy buttons, diagrams, scripts
// and styles. Worked out from the markup itself (the worker's own, whose
// attribute values never hold a raw ">" and whose texts hold only the
// entities below), so that a block's highlighting and math can be searched
// before they are put in place.

const SKIPPED_CLASSES = ['katex-mathml', 'md-copy', 'md-diagram'];
const SKIPPED_TAGS = new Set(['script', 'style']);
const VOID_TAGS = new Set(['area', 'base', 'br', 'col', 'embed', 'hr', 'img', 'input', 'link', 'meta', 'source', 'track', 'wbr']);
/** @type {Record<string, string>} */
const NAMED = { amp: '&', lt: '<', gt: '>', quot: '"', apos: "'", nbsp: '\u00a0' };
const ENTITY = /&(?:#(\d+)|#[xX]([0-9a-fA-F]+)|([A-Za-z]+));/g;

/** @param {string} text */
function decode(text) {
    if (!text.includes('&')) return text;
    return text.replace(ENTITY, (whole, decimal, hex, name) => {
        if (decimal !== undefined || hex !== undefined) {
            const code = decimal !== undefined ? Number(decimal) : parseInt(hex, 16);
            return code > 0 && code <= 0x10ffff ? String.fromCodePoint(code) : '\ufffd';
        }
        return Object.hasOwn(NAMED, name) ? NAMED[name] : whole;
    });
}

/**
 * @param {string} tag  a start tag's text between "<" and ">"
 * @param {string} name  its element's
 */
function skipsContent(tag, name) {
    if (SKIPPED_TAGS.has(name)) return true;
    const found = /\sclass="([^"]*)"/.exec(tag);
    if (!found) return false;
    const classes = found[1].split(/\s+/);
    return SKIPPED_CLASSES.some((skipped) => classes.includes(skipped));
}

/**
 * @param {string} html
 * @returns {string}
 */
export function shownText(html) {
    let text = '';
    // Depth of elements inside the skipped one, 0 outside.
    let skipping = 0;
    // Depth of elements: text outside every element (the line break after
    // a block's markup) is not part of the element that takes its place.
    let depth = 0;
    let at = 0;
    while (at < html.length) {
        const open = html.indexOf('<', at);
        const end = open < 0 ? html.length : open;
        if (skipping === 0 && depth > 0 && end > at) text += decode(html.slice(at, end));
        if (open < 0) break;
        const close = html.indexOf('>', open);
        if (close < 0) break;
        const tag = html.slice(open + 1, close);
        at = close + 1;
        if (tag.startsWith('/')) {
            if (skipping > 0) skipping -= 1;
            if (depth > 0) depth -= 1;
            continue;
        }
        if (tag.startsWith('!')) continue;
        const name = (/^[A-Za-z][^\s/>]*/.exec(tag)?.[0] ?? '').toLowerCase();
        // Self-closing: void elements, and those of SVG and MathML that say so.
        if (VOID_TAGS.has(name) || tag.endsWith('/')) continue;
        depth += 1;
        if (skipping > 0) skipping += 1;
        else if (skipsContent(tag, name)) skipping = 1;
    }
    return text;
}
