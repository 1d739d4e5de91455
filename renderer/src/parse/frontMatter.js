// YAML front matter: a "---" line at the very start of the document, up to
// the next "---" or "..." line. It becomes a hidden token, so the lines keep
// their numbers and the block never shows as body text.

/**
 * @param {import('markdown-it').StateBlock} state
 * @param {number} startLine
 * @param {number} endLine
 * @param {boolean} silent
 */
function frontMatter(state, startLine, endLine, silent) {
    if (startLine !== 0 || state.blkIndent !== 0 || state.parentType !== 'root') return false;
    const lineText = (/** @type {number} */ line) => state.src.slice(state.bMarks[line], state.eMarks[line]);
    if (lineText(0).trimEnd() !== '---') return false;

    for (let line = 1; line < endLine; line++) {
        const text = lineText(line).trimEnd();
        if (text === '---' || text === '...') {
            if (silent) return true;
            const token = state.push('front_matter', '', 0);
            token.hidden = true;
            token.block = true;
            token.content = state.getLines(1, line, 0, true);
            token.map = [0, line + 1];
            state.line = line + 1;
            return true;
        }
    }
    return false;
}

/** @param {import('markdown-it').MarkdownIt} md */
export default function frontMatterPlugin(md) {

    md.block.ruler.before('table', 'front_matter', frontMatter, {
        alt: ['paragraph', 'reference', 'blockquote', 'list'],
    });
    md.renderer.rules.front_matter = () => '';
}
