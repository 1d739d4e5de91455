// Where to cut the head of a long document for a quick first parse: at a
// blank line after `size` characters, outside fenced code and display math.
// The head's blocks are checked against the full parse before they are kept.

export const HEAD_SIZE = 4 * 1024;

/**
 * @param {string} source
 * @param {number} [size]
 * @returns {number}  where the head ends, or 0 to parse the whole at once
 */
export function headCut(source, size = HEAD_SIZE) {

    if (source.length < size * 4) return 0;
    /** @type {string | null} */
    let fence = null;
    let math = false;
    let pos = 0;
    while (pos < source.length) {
        let end = source.indexOf('\n', pos);
        if (end < 0) end = source.length;
        const line = source.slice(pos, end).replace(/\r$/, '');
        const trimmed = line.trimStart();
        if (fence) {
            if (trimmed.startsWith(fence) && trimmed.slice(fence.length).trim() === '') fence = null;
        } else if (math) {
            if (trimmed.trimEnd().endsWith('$$')) math = false;
        } else {
            const open = /^(`{3,}|~{3,})/.exec(trimmed);
            if (open && line.length - trimmed.length < 4) fence = open[1];
            else if (trimmed.startsWith('$$') && !(trimmed.length > 2 && trimmed.trimEnd().endsWith('$$'))) math = true;
            else if (trimmed === '' && pos >= size) {
                const next = source.slice(end + 1, end + 2);
                // Not where an indented continuation follows.
                if (next !== ' ' && next !== '\t') return end + 1;
            }
        }
        pos = end + 1;
    }
    return 0;
}
