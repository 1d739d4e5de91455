// How find reads text: the text searched for a text shown, where it reads
// differently from how it is stored (white space is one space, invisible
// format characters are passed over, a letter with its combining marks or
// Korean written in its letters' parts is the character they make), where
// each searched unit stands in the text shown, and the pattern of a query.

// Where text may read differently from how it is stored: an invisible
// format character, a combining mark, a Korean letter written in parts,
// white space other than a space, or two spaces. Scanned for as single
// characters: most text has none, and a space alone is read as it is.
const FOLDABLE = /[\p{Default_Ignorable_Code_Point}\p{M}\u1100-\u11FF\uA960-\uA97F\uD7B0-\uD7FF]|[^\S \uFEFF]| {2}/uy;
// Where one of them may be: a character beyond printable ASCII, found
// without Unicode's classes several times faster over a long text (most
// of a document's text is ASCII), or two spaces.
const BEYOND_ASCII = /[^\x20-\x7e]/g;
const IGNORABLE_CHAR = /\p{Default_Ignorable_Code_Point}/u;
const IGNORABLE = /\p{Default_Ignorable_Code_Point}/gu;
const MARK_CHAR = /\p{M}/u;
const SPACE_CHAR = /[^\S\uFEFF]/u;
// Korean letters: leading consonants, vowels, trailing consonants; syllables.
/** @param {number} c */
const isLeading = (c) => (c >= 0x1100 && c <= 0x115f) || (c >= 0xa960 && c <= 0xa97f);
/** @param {number} c */
const isVowel = (c) => (c >= 0x1160 && c <= 0x11a7) || (c >= 0xd7b0 && c <= 0xd7c6);
/** @param {number} c */
const isTrailing = (c) => (c >= 0x11a8 && c <= 0x11ff) || (c >= 0xd7cb && c <= 0xd7ff);
/** @param {number} c */
const isSyllable = (c) => c >= 0xac00 && c <= 0xd7a3;

/**
 * A scan of a text for where it may read differently from how it is
 * stored: each call gives the first such character (or run of two spaces)
 * at or after `from`, a `from` never smaller than the call before's.
 * @param {string} shown
 * @returns {(from: number) => RegExpExecArray | null}
 */
function foldableIn(shown) {
    // The next two spaces at or after the last `from`, -1 if none.
    let pair = -2;
    return (from) => {
        if (pair !== -1 && pair < from) pair = shown.indexOf('  ', from);
        BEYOND_ASCII.lastIndex = from;
        for (;;) {
            const beyond = BEYOND_ASCII.exec(shown);
            const at = beyond ? beyond.index : -1;
            const candidate = pair >= 0 && (at < 0 || pair < at) ? pair : at;
            if (candidate < 0) return null;
            FOLDABLE.lastIndex = candidate;
            const found = FOLDABLE.exec(shown);
            if (found) return found;
            // A character beyond the first plane is read whole.
            const code = shown.charCodeAt(candidate);
            if (code >= 0xd800 && code <= 0xdbff) BEYOND_ASCII.lastIndex = candidate + 2;
        }
    };
}

/**
 * The text searched for a text shown, where they differ, and where each of
 * its code units stands in the text shown: segment k starts at code unit
 * `at[k]` of the searched text and either runs on unit for unit from `from[k]`
 * of the text shown (`to[k]` is -1), or stands as a whole for the shown
 * units [from[k], to[k]) (a character composed of several).
 * @typedef {{text: string, at: Int32Array, from: Int32Array, to: Int32Array}} Folding
 */

/**
 * @param {string} shown
 * @returns {Folding | null}  null when the text is searched as shown
 */
export function foldText(shown) {
    const nextFoldable = foldableIn(shown);
    let found = nextFoldable(0);
    if (!found) return null;
    /** @type {string[]} */
    const parts = [];
    /** @type {number[]} */
    const at = [0];
    /** @type {number[]} */
    const from = [0];
    /** @type {number[]} */
    const to = [-1];
    let length = 0;
    // Shown units [0, copied) are in the text searched.
    let copied = 0;
    /**
     * A segment from the searched unit `unit` on.
     * @param {number} unit
     * @param {number} start
     * @param {number} end
     */
    const segment = (unit, start, end) => {
        const last = at.length - 1;
        if (at[last] === unit) {
            from[last] = start;
            to[last] = end;
            return;
        }
        at.push(unit);
        from.push(start);
        to.push(end);
    };
    /** @param {number} upTo */
    const copy = (upTo) => {
        if (upTo <= copied) return;
        parts.push(shown.slice(copied, upTo));
        length += upTo - copied;
        copied = upTo;
    };
    // The last unit of the text searched so far.
    const lastUnit = () => {
        const part = parts[parts.length - 1];
        return part[part.length - 1];
    };
    /** @param {number} i */
    const charAt = (i) => String.fromCodePoint(/** @type {number} */ (shown.codePointAt(i)));
    while (found) {
        let start = found.index;
        if (start < copied) {
            found = nextFoldable(start + found[0].length);
            continue;
        }
        const first = charAt(start);
        const code = /** @type {number} */ (first.codePointAt(0));
        let end = start + first.length;
        if (IGNORABLE_CHAR.test(first) && !(isLeading(code) || isVowel(code))) {
            // Passed over.
            while (end < shown.length && IGNORABLE_CHAR.test(charAt(end))) end += charAt(end).length;
            copy(start);
            // Between a space and more white space it is part of the one
            // space they read as.
            if (end < shown.length && SPACE_CHAR.test(shown[end]) && length > 0 && lastUnit() === ' ') {
                while (end < shown.length && (SPACE_CHAR.test(shown[end]) || IGNORABLE_CHAR.test(charAt(end)))) end += charAt(end).length;
            }
            copied = end;
            segment(length, end, -1);
        } else if (SPACE_CHAR.test(first)) {
            while (end < shown.length && SPACE_CHAR.test(shown[end])) end += 1;
            // A space just before the run is where it begins.
            const joined = start > 0 && shown[start - 1] === ' ' && copied <= start - 1;
            copy(start);
            if (joined) {
                copied = end;
                segment(length, end, -1);
            } else {
                parts.push(' ');
                length += 1;
                copied = end;
                if (end - start > 1) segment(length, end, -1);
            }
        } else {
            // A character and its combining marks, or a Korean syllable in
            // parts: composed.
            if (MARK_CHAR.test(first) || isVowel(code) || isTrailing(code)) {
                const before = start > copied ? /** @type {number} */ (shown.codePointAt(start - 1)) : -1;
                if (start > copied && !(before >= 0xdc00 && before <= 0xdfff)) start -= 1;
                else if (start > copied + 1) start -= 2;
            }
            const lead = /** @type {number} */ (shown.codePointAt(start));
            end = start + String.fromCodePoint(lead).length;
            if (isLeading(lead)) {
                while (end < shown.length && isLeading(shown.charCodeAt(end))) end += 1;
                if (end < shown.length && isVowel(shown.charCodeAt(end))) {
                    while (end < shown.length && isVowel(shown.charCodeAt(end))) end += 1;
                    while (end < shown.length && isTrailing(shown.charCodeAt(end))) end += 1;
                }
            } else if (isSyllable(lead) || isVowel(lead) || isTrailing(lead)) {
                while (end < shown.length && isTrailing(shown.charCodeAt(end))) end += 1;
            }
            while (end < shown.length && MARK_CHAR.test(charAt(end))) end += charAt(end).length;
            const run = shown.slice(start, end);
            const composed = run.replace(IGNORABLE, '').normalize('NFC');
            copy(start);
            copied = end;
            if (composed.length === run.length) {
                parts.push(composed);
                length += composed.length;
            } else {
                if (composed.length > 0) {
                    segment(length, start, end);
                    parts.push(composed);
                    length += composed.length;
                }
                segment(length, end, -1);
            }
        }
        found = nextFoldable(copied);
    }
    copy(shown.length);
    return { text: parts.join(''), at: Int32Array.from(at), from: Int32Array.from(from), to: Int32Array.from(to) };
}

/**
 * The segment of a folding that holds searched unit `unit`.
 * @param {Folding} folding
 * @param {number} unit
 */
function segmentOf(folding, unit) {
    const { at } = folding;
    let low = 0;
    let high = at.length - 1;
    while (low < high) {
        const mid = (low + high + 1) >> 1;
        if (at[mid] <= unit) low = mid;
        else high = mid - 1;
    }
    return low;
}

/**
 * Where searched unit `unit` starts in the text shown.
 * @param {Folding} folding
 * @param {number} unit
 */
export function shownStart(folding, unit) {
    const k = segmentOf(folding, unit);
    return folding.to[k] >= 0 ? folding.from[k] : folding.from[k] + unit - folding.at[k];
}

/**
 * Where searched unit `unit` ends in the text shown.
 * @param {Folding} folding
 * @param {number} unit
 */
export function shownEnd(folding, unit) {
    const k = segmentOf(folding, unit);
    return folding.to[k] >= 0 ? folding.to[k] : folding.from[k] + unit - folding.at[k] + 1;
}

/** @param {string} text */
function escapeRegExp(text) {
    return text.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
}

/**
 * A query as the text it is searched in reads.
 * @param {string} query
 */
export function foldQuery(query) {
    return foldText(query)?.text ?? query;
}

/**
 * The search for a query: its text, in any case unless asked otherwise, as
 * Unicode's case folding matches it. Searching with that folding ("u") is
 * several times slower on a long document; an ASCII query finds the same
 * matches without it, once the two letters that fold to ASCII from
 * elsewhere are named (long s to "s", the Kelvin sign to "k").
 * @param {string} query
 * @param {boolean} caseSensitive
 */
export function patternFor(query, caseSensitive) {
    const folded = foldQuery(query);
    const escaped = escapeRegExp(folded);
    if (!/^[\x00-\x7f]*$/.test(folded)) return new RegExp(escaped, caseSensitive ? 'gu' : 'giu');
    if (caseSensitive) return new RegExp(escaped, 'g');
    return new RegExp(escaped.replace(/[sk]/gi, (letter) => (letter.toLowerCase() === 's' ? '[s\u017f]' : '[k\u212a]')), 'gi');
}

const graphemes = new Intl.Segmenter(undefined, { granularity: 'grapheme' });
// How far around a place a text is read to tell whether a character as
// the reader sees it (a grapheme cluster) begins there.
const CLUSTER_READ = 64;

/**
 * Whether a character as the reader sees it begins at `at` of a text: not
 * within an emoji's sequence, a flag, a keycap or a letter and its marks.
 * Passed over are the invisible format characters that end a cluster
 * (a zero-width non-joiner after a letter).
 * @param {string} text
 * @param {number} at
 */
function isClusterStart(text, at) {
    if (at <= 0 || at >= text.length) return true;
    const before = text.charCodeAt(at - 1);
    const after = text.charCodeAt(at);
    // Below U+0300 no character joins the one before it (but a line feed
    // after a carriage return).
    if (before < 0x300 && after < 0x300) return !(before === 13 && after === 10);
    const from = Math.max(0, at - CLUSTER_READ);
    let next = -1;
    for (const { index } of graphemes.segment(text.slice(from, Math.min(text.length, at + CLUSTER_READ)))) {
        if (from + index === at) return true;
        if (from + index > at) {
            next = from + index;
            break;
        }
    }
    if (next < 0) next = text.length;
    for (let i = at; i < next; i += String.fromCodePoint(/** @type {number} */ (text.codePointAt(i))).length) {
        if (!IGNORABLE_CHAR.test(String.fromCodePoint(/** @type {number} */ (text.codePointAt(i))))) return false;
    }
    return true;
}

/**
 * Whether [start, end) of a text shown holds whole characters as the
 * reader sees them.
 * @param {string} shown
 * @param {number} start
 * @param {number} end
 */
export function holdsWholeClusters(shown, start, end) {
    return isClusterStart(shown, start) && isClusterStart(shown, end);
}
