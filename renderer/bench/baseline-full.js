// The full-featured naive page that bench/render measures the renderer page
// against: markdown-it with the renderer's plugins, highlight.js for fences
// that name a language and KaTeX, all in one synchronous pass, then one
// innerHTML assignment. Its KaTeX fonts are loaded before it says "ready",
// so that no late font swap lands in its figures.

import MarkdownIt from 'markdown-it';
import footnotePlugin from 'markdown-it-footnote';
import katex from 'katex';
import mathPlugin from '../src/parse/math.js';
import taskListPlugin from '../src/parse/tasks.js';
import { highlightCode, loadLanguages } from '../src/parse/highlight.js';
import { LANGUAGES } from '../src/parse/languages.js';
import { answer, announce } from './baseline-protocol.js';

const md = new MarkdownIt('default', {
    html: true,
    linkify: true,
    highlight: (code, language) => highlightCode(code, language) ?? '',
});
md.use(mathPlugin);
md.use(taskListPlugin);
md.use(footnotePlugin);

const typeset = (tex, displayMode) => {
    try {
        return katex.renderToString(tex, { displayMode, throwOnError: false });
    } catch {
        return md.utils.escapeHtml(tex);
    }
};
md.renderer.rules.math_inline = (tokens, idx) => typeset(tokens[idx].content, tokens[idx].meta.display);
md.renderer.rules.math_block = (tokens, idx) => `<div class="md-math">${typeset(tokens[idx].content, true)}</div>`;

const FONTS = ['KaTeX_Main', 'KaTeX_Math', 'KaTeX_Size1', 'KaTeX_Size2'];
const fontsLoaded = Promise.all(FONTS.flatMap((family) => [
    document.fonts.load(`16px ${family}`),
    document.fonts.load(`italic 16px ${family}`),
])).catch(() => {});
// Every language up front (bundled into this page), as the naive page would.
const languagesLoaded = loadLanguages(Object.keys(LANGUAGES));

answer((source) => md.render(source));
Promise.all([fontsLoaded, languagesLoaded]).then(announce);
