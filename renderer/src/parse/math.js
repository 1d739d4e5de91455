// $…$ and $$…$$ for markdown-it, in the manner readers of GitHub expect:
// an inline "$" opens only when a non-space follows it and closes only when a
// non-space precedes it and no digit follows it ("$5 and $10" stays text);
// a formula never holds an unescaped "$", so a "$" that cannot close ends
// the formula it would open ("Pay $5, get $x^2$ back." has one formula);
// "$$" inside a paragraph is display math; a block starting with "$$" runs to
// the line that ends with "$$". Typesetting happens in the renderer rules.

/** @param {number} code */
function isWhitespace(code) {
    return code === 0x20 || code === 0x09 || code === 0x0a;
}

/** @param {number} code */
function isDigit(code) {
    return code >= 0x30 && code <= 0x39;
}

/**
 * @param {import('markdown-it').StateInline & {mathNoCloserFrom?: [number, number]}} state
 *     the first position past which no closer exists, inline and display
 * @param {boolean} silent
 */
function mathInline(state, silent) {
    const src = state.src;
    const start = state.pos;
    if (src.charCodeAt(start) !== 0x24 /* $ */) return false;
    const display = src.charCodeAt(start + 1) === 0x24;
    const open = display ? 2 : 1;
    const first = start + open;
    if (first >= state.posMax || isWhitespace(src.charCodeAt(first))) return false;
    if (!display && src.charCodeAt(first) === 0x24) return false;

    // Once a scan found no closer from some position, none exists further
    // on either: remember that, so a paragraph full of "$" stays linear.
    const slot = display ? 1 : 0;
    if (state.mathNoCloserFrom && state.mathNoCloserFrom[slot] <= first) return false;

    let pos = first;
    while (pos < state.posMax) {
        const found = src.indexOf('$', pos);
        if (found < 0 || found >= state.posMax) {
            if (!state.mathNoCloserFrom) state.mathNoCloserFrom = [Infinity, Infinity];
            state.mathNoCloserFrom[slot] = Math.min(state.mathNoCloserFrom[slot], first);
            return false;
        }
        // A delimiter preceded by an odd number of backslashes is escaped.
        let backslashes = 0;
        for (let i = found - 1; i >= first && src.charCodeAt(i) === 0x5c; i--) backslashes++;
        if (backslashes % 2 === 1) {
            pos = found + 1;
            continue;
        }
        if (display) {
            // A lone "$" inside display math: no formula here.
            if (src.charCodeAt(found + 1) !== 0x24 || found + 1 >= state.posMax) return false;
            if (found === first) return false;
            if (!silent) {
                const token = state.push('math_inline', 'math', 0);
                token.content = src.slice(first, found);
                token.markup = '$$';
                token.meta = { display: true };
            }
            state.pos = found + 2;
            return true;
        }
        // A "$" that cannot close: the formula would hold it.
        if (isWhitespace(src.charCodeAt(found - 1)) || isDigit(src.charCodeAt(found + 1))) return false;
        if (!silent) {
            const token = state.push('math_inline', 'math', 0);
            token.content = src.slice(first, found);
            token.markup = '$';
            token.meta = { display: false };
        }
        state.pos = found + 1;
        return true;
    }
    if (!state.mathNoCloserFrom) state.mathNoCloserFrom = [Infinity, Infinity];
    state.mathNoCloserFrom[slot] = Math.min(state.mathNoCloserFrom[slot], first);
    return false;
}

/**
 * @param {import('markdown-it').StateBlock} state
 * @param {number} startLine
 * @param {number} endLine
 * @param {boolean} silent
 */
function mathBlock(state, startLine, endLine, silent) {
    let pos = state.bMarks[startLine] + state.tShift[startLine];
    let max = state.eMarks[startLine];
    if (state.sCount[startLine] - state.blkIndent >= 4) return false;
    if (pos + 2 > max || state.src.slice(pos, pos + 2) !== '$$') return false;

    pos += 2;
    let firstLine = state.src.slice(pos, max);
    let lastLine = '';
    let nextLine = startLine;
    let closed = false;

    if (firstLine.trim().endsWith('$$')) {
        // "$$ x $$" on one line.
        firstLine = firstLine.trim().slice(0, -2);
        closed = true;
    }
    if (silent) return true;

    if (!closed) {
        for (nextLine = startLine + 1; nextLine < endLine; nextLine++) {
            pos = state.bMarks[nextLine] + state.tShift[nextLine];
            max = state.eMarks[nextLine];
            // Display math holds no blank line; an unclosed "$$" ends there.
            if (pos >= max || (pos < max && state.sCount[nextLine] < state.blkIndent)) break;
            const text = state.src.slice(pos, max).trimEnd();
            if (text.endsWith('$$')) {
                lastLine = text.slice(0, -2);
                closed = true;
                break;
            }
        }
    }
    if (!closed) return false;

    state.line = nextLine + 1;
    const token = state.push('math_block', 'math', 0);
    token.block = true;
    token.content = (firstLine.trim() ? firstLine + '\n' : '')
        + (nextLine > startLine + 1 ? state.getLines(startLine + 1, nextLine, state.tShift[startLine], true) : '')
        + (lastLine.trim() ? lastLine : '');
    token.map = [startLine, state.line];
    token.markup = '$$';
    return true;
}

/** @param {import('markdown-it').MarkdownIt} md */
export default function mathPlugin(md) {

    md.inline.ruler.after('escape', 'math_inline', mathInline);
    md.block.ruler.after('blockquote', 'math_block', mathBlock, {
        alt: ['paragraph', 'reference', 'blockquote', 'list'],
    });
}
