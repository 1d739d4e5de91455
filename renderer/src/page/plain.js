// @ts-check
// The document as plain text, for when it could not be laid out in time:
// chunks of lines in <pre> blocks, with their source lines.

import { fingerprint } from '../parse/fingerprint.js';

const LINES_PER_BLOCK = 200;

/** @param {string} text */
export function escapeHTML(text) {
    return text.replace(/[&<>"]/g, (c) => (c === '&' ? '&amp;' : c === '<' ? '&lt;' : c === '>' ? '&gt;' : '&quot;'));
}

/**
 * @param {string} source
 * @returns {import('./state.js').ParseResult}
 */
export function plainResult(source) {
    const lines = String(source).split(/\r\n|\n|\r/);
    /** @type {import('./state.js').Block[]} */
    const blocks = [];
    const offsets = [0];
    const parts = [];
    let length = 0;
    for (let first = 0; first < lines.length; first += LINES_PER_BLOCK) {
        const chunk = lines.slice(first, first + LINES_PER_BLOCK).join('\n');
        const id = `B${blocks.length + 1}`;
        const start = first + 1;
        const end = Math.min(lines.length, first + LINES_PER_BLOCK);
        blocks.push({ id, kind: 'plain', start, end, fp: fingerprint(`plain\n${chunk}`), heading: -1, est: (end - start + 1) * 22 });
        const html = `<pre id="${id}" class="md-plain">${escapeHTML(chunk)}\n</pre>`;
        parts.push(html);
        length += html.length;
        offsets.push(length);
    }
    return {
        html: parts.join(''),
        offsets,
        blocks,
        headings: [],
        images: { local: 0, remote: 0, rejected: 0 },
        diagrams: [],
        limits: { depthClamped: 0, nodesClamped: 0, codeTruncated: 0, diagramsSkipped: 0 },
        lineCount: lines.length,
        parseMs: 0,
    };
}
