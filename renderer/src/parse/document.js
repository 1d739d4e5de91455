// Markdown text to the page's block list. Each top-level block of the
// document becomes one element with an id, its kind and its 1-based source
// line range. Plain blocks arrive as HTML text (one string for all of them,
// cut by offsets); blocks holding raw HTML arrive apart, to be sanitised.

import GithubSlugger from 'github-slugger';
import { headingSlug } from '../slugs.js';
import {
    md, escapeHtml, renderCode, renderDiagram, typesetMath, fenceLanguage, fenceKind, mathLoaded, FOOTNOTE_PREFIX, MATH,
} from './markdown.js';
import { languageKey, languageLoaded } from './highlight.js';
import { textsFor } from '../texts.js';
import { fingerprint } from './fingerprint.js';

export { fingerprint };

export const MAX_DIAGRAMS = 100;

/** @typedef {import('markdown-it').Token} Token */

/**
 * What a parse is asked for; missing switches are on.
 * @typedef {object} ParseOptions
 * @property {string} [documentID]  the document's images belong to
 * @property {string} [language]  of the page's own texts
 * @property {boolean} [highlight]
 * @property {boolean} [math]
 * @property {boolean} [diagrams]
 * @property {number} [generation]  goes into the diagram ids
 * @property {number} [maxDiagrams]
 * @property {number} [firstScreen]  the height (px, by the blocks' estimates)
 *     of the first screen, whose blocks come with their highlighting and
 *     math even when the others' come later
 */

/**
 * The switches in force while rendering.
 * @typedef {object} RenderOptions
 * @property {string} documentID
 * @property {boolean} highlight
 * @property {boolean} math
 * @property {boolean} diagrams
 * @property {number} maxDiagrams
 * @property {boolean} [mathLater]  math comes typeset later: a formula shows
 *     a placeholder of about its size meanwhile, not its source
 */

/**
 * What the renderer rules share during one parse (markdown-it's env).
 * @typedef {object} RenderEnv
 * @property {RenderOptions} opts  a deferred block renders later with the full ones
 * @property {import('../texts.js').Texts} texts
 * @property {number} generation
 * @property {boolean} raw  inside a block of raw markup: trusted pieces become placeholders
 * @property {string} nonce  the placeholders' mark
 * @property {string[]} pieces  the trusted pieces of the raw block under way
 * @property {import('../page/state.js').ImageCounts} images
 * @property {{id: string, source: string}[]} diagrams
 * @property {number} diagramsSkipped
 * @property {Map<string, string>} mathCache  typeset math by display mode and source
 * @property {string} docId  the footnote plugin's prefix of its ids
 * @property {Set<string>} missing  the code this render lacked (MATH, highlight.js languages)
 */

/**
 * The code a parse needs loaded on demand (MATH and highlight.js languages'
 * table names): what it lacked, and what its deferred blocks will need.
 * @typedef {{missing: Set<string>, later: Set<string>}} Needs
 */

/**
 * A block whose highlighting and math come later: render() gives its full HTML.
 * @typedef {{index: number, render: () => string}} Deferred
 */

/** @type {Map<string, string>} */
const mathCache = new Map();

/** @type {Record<string, string>} */
const CONTAINER_KINDS = {
    heading_open: 'heading',
    paragraph_open: 'paragraph',
    bullet_list_open: 'list',
    ordered_list_open: 'list',
    blockquote_open: 'blockquote',
    table_open: 'table',
    footnote_block_open: 'footnotes',
};

function now() {
    return globalThis.performance ? performance.now() : Date.now();
}

function makeNonce() {
    const bytes = new Uint8Array(16);
    globalThis.crypto.getRandomValues(bytes);
    return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
}

// The text of a heading: text, code and math source, without markup.
// Images (badges beside a title) count only in a heading that has no other
// text, by their alternative text. `text` is shown, trimmed; `raw` keeps the
// spaces that raw tags and badges leave at either end, as links written for
// GitHub count them in the heading's id.
/**
 * @param {Token[] | null | undefined} children
 * @returns {{text: string, raw: string}}
 */
export function inlineText(children) {
    const raw = inlineTextOf(children, false);
    const text = raw.trim();
    if (text !== '') return { text, raw };
    const images = inlineTextOf(children, true).trim();
    return { text: images, raw: images };
}

/**
 * @param {Token[] | null | undefined} children
 * @param {boolean} withImages
 * @returns {string}
 */
function inlineTextOf(children, withImages) {
    let text = '';
    for (const token of children ?? []) {
        switch (token.type) {
            case 'text':
            case 'text_special':
            case 'code_inline':
            case 'math_inline':
                text += token.content;
                break;
            case 'softbreak':
            case 'hardbreak':
                text += ' ';
                break;
            case 'image':
                if (withImages) text += inlineTextOf(token.children, true);
                break;
            default:
                break;
        }
    }
    return text;
}

/** @param {string} text */
function lineStartsOf(text) {
    const starts = [0];
    let pos = text.indexOf('\n');
    while (pos >= 0) {
        starts.push(pos + 1);
        pos = text.indexOf('\n', pos + 1);
    }
    return starts;
}

// Whether 1-based line `line` holds nothing but spaces and tabs.
/**
 * @param {string} text
 * @param {number[]} lineStarts
 * @param {number} line
 */
function isBlankLine(text, lineStarts, line) {
    const from = lineStarts[line - 1];
    const to = line < lineStarts.length ? lineStarts[line] - 1 : text.length;
    for (let i = from; i < to; i++) {
        const c = text.charCodeAt(i);
        if (c !== 0x20 && c !== 0x09) return false;
    }
    return true;
}

/**
 * @param {Token[]} tokens
 * @param {number} from
 * @param {number} to
 */
function hasRawHTML(tokens, from, to) {
    for (let i = from; i <= to; i++) {
        const token = tokens[i];
        if (token.type === 'html_block') return true;
        if (token.type === 'inline' && token.children) {
            for (const child of token.children) if (child.type === 'html_inline') return true;
        }
    }
    return false;
}

// The longest details (in characters of source) that takes the Markdown
// inside it: a raw block is sanitised in one go on the page's thread.
const MAX_DETAILS_CHARS = 256 * 1024;
const DETAILS_OPEN = /<details(?=[\t\n\f\r />]|$)/gi;
const DETAILS_CLOSE = /<\/details[\t\n\f\r ]*>/gi;

/** @param {string} html */
function detailsBalance(html) {
    if (!/details/i.test(html)) return 0;
    return (html.match(DETAILS_OPEN)?.length ?? 0) - (html.match(DETAILS_CLOSE)?.length ?? 0);
}

// Where a details opened by raw markup at top-level token `from` closes: a
// `<details>` written with a blank line after its summary holds the Markdown
// blocks that follow, up to the raw markup that closes it, as the browser
// reads the document's HTML as a whole. Returns the last token of the
// top-level block that closes it, or `from` itself when it stays open to the
// end (then each block stands alone, as before) or holds the footnotes.
// `opens` is made once per parse: the count of details each token opens
// less those it closes, and the lowest running total from each token on.
/**
 * @param {Token[]} tokens
 * @param {number} from
 * @param {{delta: Int32Array, total: Int32Array, lowest: Int32Array}} opens
 */
function detailsEnd(tokens, from, opens) {
    if (opens.delta[from] <= 0) return from;
    const before = opens.total[from] - opens.delta[from];
    if (from + 1 >= tokens.length || opens.lowest[from + 1] > before) return from;
    let k = from + 1;
    while (opens.total[k] > before) {
        if (tokens[k].type === 'footnote_block_open') return from;
        k++;
    }
    while (k + 1 < tokens.length && (tokens[k + 1].level > 0 || tokens[k + 1].nesting === -1)) {
        if (tokens[k + 1].type === 'footnote_block_open') return from;
        k++;
    }
    return k;
}

/**
 * @param {Token[]} tokens
 * @returns {{delta: Int32Array, total: Int32Array, lowest: Int32Array}}
 */
function detailsOpens(tokens) {
    const n = tokens.length;
    const delta = new Int32Array(n);
    const total = new Int32Array(n);
    const lowest = new Int32Array(n);
    let running = 0;
    for (let k = 0; k < n; k++) {
        const token = tokens[k];
        if (token.type === 'html_block') {
            delta[k] = detailsBalance(token.content);
        } else if (token.type === 'inline' && token.children) {
            for (const child of token.children) {
                if (child.type === 'html_inline') delta[k] += detailsBalance(child.content);
            }
        }
        running += delta[k];
        total[k] = running;
    }
    for (let k = n - 1; k >= 0; k--) lowest[k] = k + 1 < n ? Math.min(total[k], lowest[k + 1]) : total[k];
    return { delta, total, lowest };
}

/**
 * @param {string} kind
 * @param {number} lines
 * @param {number} chars
 */
function estimateHeight(kind, lines, chars) {
    const wrapped = Math.max(lines, Math.ceil(chars / 90));
    switch (kind) {
        case 'code': return 34 + lines * 21;
        case 'table': return 16 + lines * 37;
        case 'heading': return 48;
        case 'rule': return 32;
        default: return 16 + wrapped * 28;
    }
}

// Whether a block's tokens [from, to] hold highlighting or math that can
// come later: 'later', 'now' (a diagram, whose placeholder must be made in
// the first pass) or 'none'. The code that later rendering needs (MATH and
// highlight.js languages) goes into `needs`.
/**
 * @param {Token[]} tokens
 * @param {number} from
 * @param {number} to
 * @param {RenderOptions} opts
 * @param {Set<string>} needs
 */
function enhancementOf(tokens, from, to, opts, needs) {
    let later = false;
    /** @type {(string | null)[]} */
    const wanted = [];
    for (let k = from; k <= to && k < tokens.length; k++) {
        const token = tokens[k];
        if (token.type === 'fence') {
            const language = fenceLanguage(token).toLowerCase();
            if (language === 'mermaid') return 'now';
            if (language === 'math' ? opts.math : language !== '' && opts.highlight) {
                later = true;
                wanted.push(language === 'math' ? MATH : languageKey(language));
            }
        } else if (token.type === 'math_block') {
            if (opts.math) later = true;
            if (opts.math) wanted.push(MATH);
        } else if (token.type === 'inline' && token.children && opts.math) {
            for (const child of token.children) {
                if (child.type !== 'math_inline') continue;
                later = true;
                wanted.push(MATH);
            }
        }
    }
    for (const key of wanted) if (key !== null) needs.add(key);
    return later ? 'later' : 'none';
}

// Whether the code that a block's tokens [from, to] need to be highlighted
// and typeset is loaded.
/**
 * @param {Token[]} tokens
 * @param {number} from
 * @param {number} to
 * @param {RenderOptions} opts
 */
function loadedFor(tokens, from, to, opts) {
    const needs = new Set();
    enhancementOf(tokens, from, to, opts, needs);
    for (const key of needs) if (key === MATH ? !mathLoaded() : !languageLoaded(key)) return false;
    return true;
}

// Options: documentID, language, highlight, math, diagrams (booleans),
// generation (for diagram ids), maxDiagrams.
//
// Highlighting and math need code loaded on demand (highlight.js, markdown.js).
// What this render needed and lacked goes into `needs.missing` (the result is
// then incomplete: load it and parse again); what the `later` entries will
// need goes into `needs.later` (load it before calling them).
//
// With `later` (an array), plain blocks are first rendered without
// highlighting and math, and each block that has some gets an entry
// {index, render} in `later`: render() gives the block's full HTML. Blocks
// with raw HTML, diagrams or no source lines of their own are rendered in
// full at once.
/**
 * @param {string} source
 * @param {ParseOptions} options
 * @param {Deferred[]} [later]
 * @param {Needs} [needs]
 * @returns {import('../page/state.js').ParseResult}
 */
export function parseDocument(source, options, later, needs = { missing: new Set(), later: new Set() }) {
    const started = now();
    /** @type {RenderOptions} */
    const opts = {
        documentID: String(options.documentID ?? ''),
        highlight: options.highlight !== false,
        math: options.math !== false,
        diagrams: options.diagrams !== false,
        maxDiagrams: options.maxDiagrams ?? MAX_DIAGRAMS,
    };
    const texts = textsFor(options.language);
    const text = String(source).replace(/\r\n?/g, '\n');
    /** @type {RenderEnv} */
    const env = {
        opts,
        texts,
        generation: options.generation ?? 0,
        raw: false,
        nonce: makeNonce(),
        pieces: [],
        images: { local: 0, remote: 0, rejected: 0 },
        diagrams: [],
        diagramsSkipped: 0,
        mathCache,
        docId: FOOTNOTE_PREFIX,
        missing: needs.missing,
    };

    const fullOpts = opts;
    const plainOpts = later && (opts.highlight || opts.math)
        ? { ...opts, highlight: false, math: false, mathLater: opts.math }
        : opts;
    env.opts = plainOpts;
    // Renders in full: a deferred block later, or a block that cannot wait.
    /**
     * @template T
     * @param {() => T} render
     * @returns {T}
     */
    const inFull = (render) => {
        if (env.opts === fullOpts) return render();
        env.opts = fullOpts;
        try {
            return render();
        } finally {
            env.opts = plainOpts;
        }
    };

    const tokens = md.parse(text, env);
    const lineStarts = lineStartsOf(text);
    const lineCount = lineStarts.length;
    const slugger = new GithubSlugger();
    const maxNesting = md.options.maxNesting;

    /** @type {string[]} */
    const parts = [];
    const offsets = [0];
    let length = 0;
    /** @type {import('../page/state.js').Block[]} */
    const blocks = [];
    /** @type {import('../page/state.js').Heading[]} */
    const headings = [];
    let depthClamped = 0;
    let lastLine = 1;
    // The estimated height of the blocks so far.
    let filled = 0;
    const firstScreen = options.firstScreen ?? 0;

    /**
     * @param {import('../page/state.js').Block} block
     * @param {string | undefined} html  none for raw markup
     */
    const emit = (block, html) => {
        blocks.push(block);
        if (html) {
            parts.push(html);
            length += html.length;
        }
        offsets.push(length);
    };

    const opens = /<details/i.test(text) ? detailsOpens(tokens) : null;

    let consumed = -1;
    for (let i = 0; i < tokens.length; i++) {
        if (i <= consumed) continue;
        const token = tokens[i];
        if (token.level !== 0 || token.nesting === -1) continue;
        if (token.type === 'front_matter') continue;

        let end = i;
        if (token.type === 'footnote_block_open') {
            // The footnote plugin does not keep levels inside its block.
            while (end + 1 < tokens.length && tokens[end + 1].type !== 'footnote_block_close') end++;
            end++;
        } else if (token.nesting === 1) {
            while (end + 1 < tokens.length && !(tokens[end + 1].level === 0 && tokens[end + 1].nesting === -1)) end++;
            end++;
        }
        // Raw markup that opens a details takes the blocks up to its close,
        // unless they are too long to be sanitised in one go.
        // The lines of the details, blocks inside included, when grouped.
        /** @type {[number, number] | null} */
        let groupedMap = null;
        if (opens !== null && token.type === 'html_block' && token.level === 0 && token.map) {
            const close = detailsEnd(tokens, i, opens);
            let lastMapped = token.map[1];
            for (let k = i + 1; k <= close; k++) {
                const inner = tokens[k].map;
                if (inner) lastMapped = Math.max(lastMapped, inner[1]);
            }
            const size = (lineStarts[lastMapped] ?? text.length) - lineStarts[token.map[0]];
            if (close > i && size <= MAX_DETAILS_CHARS) {
                end = close;
                groupedMap = [token.map[0], lastMapped];
            }
        }
        consumed = end;
        let deepest = 0;
        for (let k = i; k <= end && k < tokens.length; k++) if (tokens[k].level > deepest) deepest = tokens[k].level;
        if (deepest >= maxNesting - 1) depthClamped += 1;

        const index = blocks.length;
        let map = groupedMap ?? token.map;
        if (!map) {
            // A block without its own lines (the footnotes) spans its parts' lines.
            for (let k = i + 1; k < end; k++) {
                const inner = tokens[k].map;
                if (!inner) continue;
                map = map ? [Math.min(map[0], inner[0]), Math.max(map[1], inner[1])] : [inner[0], inner[1]];
            }
        }
        const start = map ? map[0] + 1 : Math.min(lastLine, lineCount);
        let last = map ? Math.max(map[0] + 1, map[1]) : lineCount;
        // markdown-it counts the blank lines after a list as the list's own;
        // a block's range ends at its last line that holds text.
        while (last > start && isBlankLine(text, lineStarts, last)) last--;
        lastLine = last;
        const from = lineStarts[start - 1] ?? text.length;
        const to = last < lineCount ? lineStarts[last] - 1 : text.length;
        const sourceText = text.slice(from, to);

        let kind = CONTAINER_KINDS[token.type] ?? 'block';
        let id = `B${index + 1}`;
        let headingIndex = headings.length - 1;

        if (token.type === 'heading_open') {
            const { text: title, raw } = inlineText(tokens[i + 1]?.children);
            id = headingSlug(slugger, title, raw);
            headings.push({ level: Number(token.tag.slice(1)) || 1, text: title, id });
            headingIndex = headings.length - 1;
        }

        /** @type {import('../page/state.js').Block} */
        const block = {
            id,
            kind,
            start,
            end: last,
            fp: '',
            heading: headingIndex,
            est: 0,
        };
        block.est = estimateHeight(kind, last - start + 1, sourceText.length);

        let enhancement = plainOpts === fullOpts ? 'none' : !map ? 'now' : enhancementOf(tokens, i, end, fullOpts, needs.later);
        // The first screen is shown as it stays, not plain first, when the
        // code for it is loaded (the worker loads KaTeX as it starts): it
        // does not wait for code.
        if (enhancement === 'later' && filled < firstScreen && loadedFor(tokens, i, end, fullOpts)) enhancement = 'now';
        filled += block.est;
        // A deferred block renders again with counts of its own, so that
        // images are not counted twice.
        /** @param {() => string} render */
        const deferRender = (render) => {
            /** @type {Deferred[]} */ (later).push({
                index,
                render: () => inFull(() => {
                    const counts = env.images;
                    env.images = { local: 0, remote: 0, rejected: 0 };
                    try {
                        return render();
                    } finally {
                        env.images = counts;
                    }
                }),
            });
        };

        if (groupedMap !== null) {
            inFull(() => {
                env.raw = true;
                env.pieces = [];
                // Headings inside keep GitHub's ids, in the document's order;
                // the outline lists only the headings outside.
                for (let k = i + 1; k < end; k++) {
                    const inner = tokens[k];
                    if (inner.type !== 'heading_open') continue;
                    const { text: title, raw } = inlineText(tokens[k + 1]?.children);
                    inner.attrSet('data-md-id', headingSlug(slugger, title, raw));
                    inner.attrSet('data-md-k', env.nonce);
                }
                const html = md.renderer.render(tokens.slice(i, end + 1), md.options, env);
                block.kind = 'html';
                block.raw = { tag: 'div', attrs: { class: 'md-html' }, html, pieces: env.pieces };
                block.est = estimateHeight('html', last - start + 1, sourceText.length);
                block.fp = fingerprint('html\n' + sourceText);
                env.raw = false;
                env.pieces = [];
            });
            emit(block, undefined);
            continue;
        }

        if (token.nesting === 0) {
            // Self-contained block tokens.
            const renderSelf = () => {
                /** @type {string | undefined} */
                let html;
                switch (token.type) {
                    case 'fence':
                    case 'code_block': {
                        const language = token.type === 'fence' ? fenceLanguage(token) : '';
                        const fk = token.type === 'fence' ? fenceKind(language, env) : 'code';
                        if (fk === 'math') {
                            kind = 'math';
                            html = `<div id="${id}" class="md-math">${typesetMath(token.content, true, env)}</div>`;
                        } else if (fk === 'diagram') {
                            kind = 'diagram';
                            html = renderDiagram(token.content, env, ` id="${id}"`);
                        } else {
                            kind = 'code';
                            html = `<div id="${id}" class="md-code">`
                                + `<button class="md-copy" type="button">${escapeHtml(texts.copy)}</button>`
                                + `${renderCode(token.content, language, env)}</div>`;
                        }
                        break;
                    }
                    case 'math_block':
                        kind = 'math';
                        html = `<div id="${id}" class="md-math">${typesetMath(token.content, true, env)}</div>`;
                        break;
                    case 'hr':
                        kind = 'rule';
                        html = `<hr id="${id}">`;
                        break;
                    case 'html_block':
                        kind = 'html';
                        block.raw = { tag: 'div', attrs: { class: 'md-html' }, html: token.content, pieces: [] };
                        break;
                    default:
                        html = `<div id="${id}">${md.renderer.render([token], md.options, env)}</div>`;
                        break;
                }
                return html;
            };
            const html = enhancement === 'now' ? inFull(renderSelf) : renderSelf();
            // Raw markup (the only block without HTML here) is never deferred.
            if (enhancement === 'later') deferRender(/** @type {() => string} */ (renderSelf));
            block.kind = kind;
            block.est = estimateHeight(kind, last - start + 1, sourceText.length);
            block.fp = fingerprint(kind + '\n' + sourceText);
            emit(block, html);
            continue;
        }

        // Container blocks: tokens i..end.
        block.fp = fingerprint(kind + '\n' + (map ? sourceText : ''));
        const isTable = token.type === 'table_open';
        if (hasRawHTML(tokens, i, end)) inFull(() => {
            env.raw = true;
            env.pieces = [];
            let tag = token.tag || 'div';
            /** @type {Record<string, string | number>} */
            const attrs = {};


            let inner;
            if (isTable) {
                tag = 'div';
                attrs.class = 'md-table';
                inner = md.renderer.render(tokens.slice(i, end + 1), md.options, env);
            } else if (token.type === 'footnote_block_open') {
                tag = 'section';
                attrs.class = 'md-footnotes';
                inner = `<ol>${md.renderer.render(tokens.slice(i + 1, end), md.options, env)}</ol>`;
            } else {
                for (const [name, value] of token.attrs ?? []) attrs[name] = value;
                inner = md.renderer.render(tokens.slice(i + 1, end), md.options, env);
            }
            block.raw = { tag, attrs, html: inner, pieces: env.pieces, nonce: env.nonce };
            env.raw = false;
            env.pieces = [];
            if (!map) block.fp = fingerprint(kind + '\n' + inner);
            emit(block, '');
        });
        if (block.raw) continue;

        const renderContainer = () => {
            if (isTable) {
                return `<div id="${id}" class="md-table">`
                    + md.renderer.render(tokens.slice(i, end + 1), md.options, env) + '</div>';
            }
            token.attrSet('id', id);
            return md.renderer.render(tokens.slice(i, end + 1), md.options, env);
        };
        const html = enhancement === 'now' ? inFull(renderContainer) : renderContainer();
        if (enhancement === 'later') deferRender(renderContainer);
        if (!map) block.fp = fingerprint(kind + '\n' + html);
        emit(block, html);
    }

    for (const block of blocks) if (block.raw) block.raw.nonce = env.nonce;

    return {
        html: parts.join(''),
        offsets,
        blocks,
        headings,
        images: env.images,
        diagrams: env.diagrams,
        limits: { depthClamped, nodesClamped: 0, codeTruncated: 0, diagramsSkipped: env.diagramsSkipped },
        lineCount,
        parseMs: now() - started,
    };
}
