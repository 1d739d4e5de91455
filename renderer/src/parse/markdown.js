// The Markdown engine: markdown-it with GitHub-flavoured extensions and our
// own renderer rules for code, math, diagrams, images, task boxes and
// footnotes. Everything here runs in the parse worker and produces HTML text.
//
// Blocks that contain raw HTML are sanitised later, in the page, where a DOM
// exists. Inside such a block ("env.raw") the trusted pieces that the
// sanitiser would strip (typeset math, highlighted code, images pointing at
// the document scheme, task boxes, footnote references) are emitted as
// placeholders that carry a per-render nonce and are put back afterwards.

import MarkdownIt from 'markdown-it';
import footnotePlugin from 'markdown-it-footnote';
import mathPlugin from './math.js';
import taskListPlugin from './tasks.js';
import frontMatterPlugin from './frontMatter.js';
import { classifyImage } from './images.js';
import { highlightCode, SAFE_LANGUAGE } from './highlight.js';

// KaTeX is loaded only for a document that has math: until then a render
// that meets math notes MATH in its `missing` set (see highlight.js).
export const MATH = 'math';
/** @type {typeof import('katex').default | null} */
let katex = null;

/** @returns {Promise<void>} */
export async function loadMath() {
    katex ??= (await import('katex')).default;
}

export function mathLoaded() {
    return katex !== null;
}

export const FOOTNOTE_PREFIX = 'F';

const DANGEROUS_LINK = /^(?:javascript|vbscript|data):/i;

/** @typedef {import('markdown-it').Token} Token */
/** @typedef {import('./document.js').RenderEnv} RenderEnv */

/**
 * A renderer rule, given the env of our parses; T is what it knows of its
 * tokens beyond markdown-it's type.
 * @template [T=Token]
 * @typedef {(tokens: T[], idx: number, options: Required<import('markdown-it').MarkdownItOptions>,
 *     env: RenderEnv, self: import('markdown-it').Renderer) => string} Rule
 */

/** @param {string | number} url  an attribute's value */
function compactScheme(url) {
    return String(url).replace(/[\u0000-\u0020]/g, '');
}

const md = new MarkdownIt('default', { html: true, linkify: true, typographer: false });
const { escapeHtml, unescapeAll } = md.utils;

// Link destinations stay exactly as written: the page reports the raw text
// when a link is clicked and never lets the browser resolve it.
md.normalizeLink = (url) => url;
md.validateLink = (url) => !/^(?:javascript|vbscript):/i.test(compactScheme(url));

// GitHub's extended autolinks: "www." addresses, but not bare domains such as
// "notes.md".
md.linkify.add('www.', {
    validate(text, pos) {
        const match = /^[a-z0-9-]+(?:\.[a-z0-9-]+)*\.[a-z]{2,}(?::\d{1,5})?(?:[/?#][^\s<]*)?/i.exec(text.slice(pos));
        if (!match) return 0;
        let link = match[0];
        for (;;) {
            const trimmed = link.replace(/[?!.,:*_~'"]+$/, '');
            const opens = (trimmed.match(/\(/g) || []).length;
            const closes = (trimmed.match(/\)/g) || []).length;
            const next = closes > opens && trimmed.endsWith(')') ? trimmed.slice(0, -1) : trimmed;
            if (next === link) break;
            link = next;
        }
        return link.length;
    },
    normalize(match) {
        match.url = `http://${match.url}`;
    },
});

md.use(frontMatterPlugin);
md.use(mathPlugin);
md.use(taskListPlugin);
md.use(footnotePlugin);

// Table alignment as the align attribute, which survives sanitising.
md.core.ruler.push('table_align', (/** @type {any} */ state) => {
    for (const token of state.tokens) {
        if (token.type !== 'th_open' && token.type !== 'td_open') continue;
        const style = token.attrGet('style');
        if (!style) continue;
        const match = /text-align:(left|right|center)/.exec(style);
        token.attrs = token.attrs.filter((/** @type {[string, string]} */ [name]) => name !== 'style');
        if (match) token.attrSet('align', match[1]);
    }
});

// A trusted fragment: direct HTML in a plain block, a placeholder in a block
// that will be sanitised.
/**
 * @param {string} html
 * @param {RenderEnv} env
 */
export function trusted(html, env) {
    if (!env.raw) return html;
    env.pieces.push(html);
    return `<span data-md-piece="${env.pieces.length - 1}" data-md-k="${env.nonce}"></span>`;
}

/** @type {import('katex').KatexOptions} */
const KATEX_OPTIONS = {
    throwOnError: false,
    errorColor: 'var(--md-error-text)',
    output: 'htmlAndMathml',
    trust: false,
    strict: 'ignore',
    maxSize: 25,
    maxExpand: 500,
};

// Math in a paragraph ("inline", display or not) stays inline when it is
// not typeset: a block element there would split the paragraph in two.
/**
 * @param {string} tex
 * @param {boolean} display
 * @param {RenderEnv} env
 * @param {boolean} [inline]  inside a paragraph
 * @returns {string}
 */
export function typesetMath(tex, display, env, inline = false) {
    if (!env.opts.math && env.opts.mathLater) return mathPlaceholder(tex, display && !inline);
    if (!env.opts.math) {
        const source = display ? `$$${tex}$$` : `$${tex}$`;
        return display && !inline ? `<pre class="md-math-source">${escapeHtml(source)}</pre>` : escapeHtml(source);
    }
    if (katex === null) {
        env.missing.add(MATH);
        return escapeHtml(tex);
    }
    const key = (display ? 'D' : 'I') + tex;
    let html = env.mathCache.get(key);
    if (html === undefined) {
        try {
            html = katex.renderToString(tex, { ...KATEX_OPTIONS, displayMode: display });
        } catch {
            html = `<span class="md-math-error">${escapeHtml(tex)}</span>`;
        }
        if (env.mathCache.size > 4000) env.mathCache.clear();
        env.mathCache.set(key, html);
    }
    return html;
}

// Commands that show no glyph of their own (structure, fonts, spacing).
const SILENT_COMMANDS = /\\(?:frac|dfrac|tfrac|binom|left|right|big+l?r?|Big+l?r?|math[a-z]+|text[a-z]*|operatorname|begin\{[^}]*\}|end\{[^}]*\}|sqrt|displaystyle|limits|[,;:! ]|q?quad)/g;

// Large operators, which take their limits above and below in display.
const LARGE_OPERATOR = /\\(?:sum|prod|coprod|bigcup|bigcap|bigoplus|bigotimes|bigvee|bigwedge|bigsqcup)(?![a-zA-Z])\s*(?:\\limits\s*)?([_^])?/g;
const INTEGRAL = /\\(?:i+nt|oint)(?![a-zA-Z])\s*(?:\\limits\s*)?[_^]/;
const FRACTION = /\\(?:d?frac|binom|dbinom|cfrac)(?![a-zA-Z])/;
// The binary operators and relations, set with space on either side.
const SPACED = /[+\-=<>]|\\(?:leq?|geq?|neq|cdot|times|pm|mp|approx|equiv|sim|simeq|to|rightarrow|leftarrow|Rightarrow|iff|in|subset|subseteq|cup|cap|le|ge)(?![a-zA-Z])/g;

/**
 * How many scripts (_ and ^, at most two) follow position `at` of `tex`.
 * @param {string} tex
 * @param {number} at
 */
function scriptsAfter(tex, at) {
    let pos = at;
    let count = 0;
    const skipSpace = () => { while (tex[pos] === ' ') pos++; };
    while (count < 2) {
        skipSpace();
        if (tex[pos] !== '_' && tex[pos] !== '^') break;
        pos++;
        skipSpace();
        if (tex[pos] === '{') {
            let depth = 0;
            for (; pos < tex.length; pos++) {
                if (tex[pos] === '{') depth++;
                else if (tex[pos] === '}' && --depth === 0) break;
            }
            pos++;
        } else if (tex[pos] === '\\') {
            pos++;
            while (/[a-zA-Z]/.test(tex[pos] ?? '')) pos++;
        } else {
            pos++;
        }
        count++;
    }
    return count;
}

/**
 * What a formula shows until it is typeset: an empty box of the size it
 * will take, as near as its source tells (never its source). Its height in
 * ems of the text, as KaTeX sets it (its formulas' text is 1.21 times the
 * page's, a line 1.2 of that): one line of symbols; a fraction in display
 * about 2.5, a large operator with limits above and below 3.8 (a lower limit
 * only 2.9), an integral with limits 3, a row of a matrix or an alignment
 * about 1.7. In a line of text a fraction or an operator with limits makes
 * the box a little taller and deeper than the text. Its width from its
 * glyphs (those in scripts smaller) and the space around operators.
 * @param {string} tex
 * @param {boolean} block  a display formula standing as a block
 */
function mathPlaceholder(tex, block) {
    const visible = tex.replace(SILENT_COMMANDS, '');
    const spaced = (visible.match(SPACED) ?? []).length;
    // Script glyphs: those in a group or single glyph after _ or ^.
    const scripts = (visible.match(/[_^](?:\{[^{}]*\}|\\[a-zA-Z]+|.)/g) ?? [])
        .reduce((sum, script) => sum + Math.max(1, script.replace(/\\[a-zA-Z]+/g, 'x').replace(/[{}_^\s]/g, '').length), 0);
    const glyphs = visible.replace(/\\[a-zA-Z]+/g, 'x').replace(/[{}^_&\s\\]/g, '').length;
    const em = Math.max(0.6, (glyphs - scripts) * 0.62 + scripts * 0.45 + spaced * 0.5);
    const width = Math.min(block ? 40 : 24, em).toFixed(1);
    const fraction = FRACTION.test(tex);
    // No large operator, or the most scripts one of them has.
    let limits = -1;
    for (const match of tex.matchAll(LARGE_OPERATOR)) limits = Math.max(limits, scriptsAfter(tex, (match.index ?? 0) + match[0].length - (match[1] ? 1 : 0)));
    const integral = INTEGRAL.test(tex);
    if (!block) {
        if (!fraction && limits <= 0 && !integral) return `<span class="md-math-pending" style="width:${width}em"></span>`;
        return `<span class="md-math-pending" style="width:${width}em;height:1.45em;vertical-align:-0.45em"></span>`;
    }
    const rows = (tex.match(/\\\\/g)?.length ?? 0) + 1;
    let height = 1.45;
    if (fraction) height = Math.max(height, 2.5);
    if (/\\lim(?![a-zA-Z])/.test(tex)) height = Math.max(height, fraction ? 3 : 1.75);
    if (integral) height = Math.max(height, 3);
    if (limits >= 0) height = Math.max(height, [2.5, 2.9, 3.8][limits]);
    if (rows > 1) height = Math.max(height, 1.6 * rows);
    return `<span class="md-math-pending md-math-pending-display" style="width:${width}em;height:${height.toFixed(2)}em"></span>`;
}

/** @param {Token} token */
export function fenceLanguage(token) {
    const info = token.info ? unescapeAll(token.info).trim() : '';
    return info.split(/\s+/)[0] || '';
}

// <pre><code> for a fence: highlighted only when it names a known language.
/**
 * @param {string} code
 * @param {string} language
 * @param {RenderEnv} env
 */
export function renderCode(code, language, env) {
    const safe = SAFE_LANGUAGE.test(language);
    const highlighted = env.opts.highlight && language && code.length <= 512 * 1024
        ? highlightCode(code, language, env.missing)
        : null;
    const cls = safe ? ` class="language-${escapeHtml(language)}${highlighted !== null ? ' hljs' : ''}"` : '';
    return `<pre><code${cls}>${highlighted ?? escapeHtml(code)}</code></pre>`;
}

// A diagram placeholder; the page asks the reader to render it.
/**
 * @param {string} source
 * @param {RenderEnv} env
 * @param {string} [attrs]  for the placeholder's element
 */
export function renderDiagram(source, env, attrs = '') {
    const id = `D${env.generation}-${env.diagrams.length + 1}`;
    env.diagrams.push({ id, source });
    return `<div${attrs} class="md-diagram" data-diagram="${id}">`
        + `<div class="md-diagram-status" role="status">${escapeHtml(env.texts.diagramPending)}</div>`
        + `<pre class="md-diagram-source"><code>${escapeHtml(source)}</code></pre></div>`;
}

/**
 * @param {string} language
 * @param {RenderEnv} env
 * @returns {'math' | 'diagram' | 'code'}
 */
export function fenceKind(language, env) {
    const lower = language.toLowerCase();
    if (lower === 'math') return 'math';
    if (lower === 'mermaid' && env.opts.diagrams) {
        if (env.diagrams.length < env.opts.maxDiagrams) return 'diagram';
        env.diagramsSkipped += 1;
    }
    return 'code';
}

/** @type {Record<string, any>} */
const rules = md.renderer.rules;

/** @type {Rule} */
rules.fence = (tokens, idx, options, env) => {
    const token = tokens[idx];
    const language = fenceLanguage(token);
    switch (fenceKind(language, env)) {
        case 'math':
            return trusted(`<div class="md-math">${typesetMath(token.content, true, env)}</div>`, env);
        case 'diagram':
            return trusted(renderDiagram(token.content, env), env);
        default:
            return trusted(renderCode(token.content, language, env), env);
    }
};

/** @type {Rule<Token & {meta: {display: boolean}}>} set by the math plugin */
rules.math_inline = (tokens, idx, options, env) =>
    trusted(typesetMath(tokens[idx].content, tokens[idx].meta.display, env, true), env);

/** @type {Rule} */
rules.math_block = (tokens, idx, options, env) =>
    trusted(`<div class="md-math">${typesetMath(tokens[idx].content, true, env)}</div>`, env);

/** @type {Rule<Token & {meta: {checked: boolean}}>} set by the task list plugin */
rules.task_checkbox = (tokens, idx, options, env) =>
    trusted(`<input type="checkbox" disabled${tokens[idx].meta.checked ? ' checked' : ''}> `, env);

// markdown-it's parser gives an image its alternative text as children and
// texts as attribute values.
/** @type {Rule<{children: Token[], attrGet(name: string): string | null} & Token>} */
rules.image = (tokens, idx, options, env, self) => {

    const token = tokens[idx];
    const alt = self.renderInlineAsText(token.children, options, env);
    const decision = classifyImage(token.attrGet('src'), env.opts.documentID);
    env.images[decision.kind] += 1;
    const title = token.attrGet('title');
    const titleAttr = title ? ` title="${escapeHtml(title)}"` : '';
    if (decision.kind === 'rejected') {
        return trusted(`<span class="md-image-rejected"${titleAttr} data-reason="${escapeHtml(env.texts.imageNotAllowed)}">`
            + `${escapeHtml(alt)}</span>`, env);
    }
    const referrer = decision.kind === 'remote' ? ' referrerpolicy="no-referrer"' : '';
    return trusted(`<img src="${escapeHtml(decision.src)}" alt="${escapeHtml(alt)}"${titleAttr}`
        + ` loading="lazy" decoding="async"${referrer}>`, env);
};

/** @type {Rule} */
const defaultLinkOpen = rules.link_open ?? ((tokens, idx, options, env, self) => self.renderToken(tokens, idx, options));
/** @type {Rule} */
rules.link_open = (tokens, idx, options, env, self) => {
    const href = tokens[idx].attrGet('href');
    if (href !== null && DANGEROUS_LINK.test(compactScheme(href))) tokens[idx].attrSet('href', '');
    return defaultLinkOpen(tokens, idx, options, env, self);
};

const footnoteRef = rules.footnote_ref;
/** @type {Rule} */
rules.footnote_ref = (tokens, idx, options, env, self) => trusted(footnoteRef(tokens, idx, options, env, self), env);

/** @type {Rule} */
rules.footnote_block_open = (tokens, idx, options, env, self) =>
    `<section${self.renderAttrs(tokens[idx])} class="md-footnotes">\n<ol class="footnotes-list">\n`;

const footnoteOpen = rules.footnote_open;
/** @type {Rule} */
rules.footnote_open = (tokens, idx, options, env, self) => {

    const html = footnoteOpen(tokens, idx, options, env, self);
    if (!env.raw) return html;
    // The id is restored after sanitising, only where the nonce matches.
    const id = /id="([^"]*)"/.exec(html)?.[1] ?? '';
    return `<li data-md-id="${id}" data-md-k="${env.nonce}">`;
};

export { md, escapeHtml };
