import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { foldText, foldQuery, patternFor, shownStart, shownEnd } from '../src/page/folding.js';
import { matchGroup } from '../src/page/search.js';

// The parts of a text shown that a query finds.
const found = (shown, query, caseSensitive = false) => {
    const parts = [];
    matchGroup(patternFor(query, caseSensitive), [{ shown, folding: foldText(shown) }], (block, start, end) => parts.push(shown.slice(start, end)));
    return parts;
};

describe('text as find reads it', () => {
    test('a table of texts, queries and what they find', () => {
        const family = '\u{1F468}\u200d\u{1F469}\u200d\u{1F467}';
        const rows = [
            // White space is one space, however it is written.
            ['brown\n\tfox, brown\u00a0fox, brown \u202f fox', 'brown fox', ['brown\n\tfox', 'brown\u00a0fox', 'brown \u202f fox']],
            ['a \u200b b, a\u200b \u00ad\tb, a \u2060\u200b\u00a0b', 'a b', ['a \u200b b', 'a\u200b \u00ad\tb', 'a \u2060\u200b\u00a0b']],
            // Invisible format characters are passed over.
            ['ne\u200bedle extra\u00adordinary', 'needle', ['ne\u200bedle']],
            // Combining marks and Korean letters in parts make one character.
            ['cafe\u0301 café cafe', 'café', ['cafe\u0301', 'café']],
            ['\u1112\u1161\u11ab \ud55c', '\ud55c', ['\u1112\u1161\u11ab', '\ud55c']],
            ['\u{1D400}\u0301x \u{1D400}x', '\u{1D400}x', ['\u{1D400}x']],
            // A match starts and ends where a character as the reader sees it does.
            ['\u{1F44D}\u{1F3FD} \u{1F44D}', '\u{1F44D}', ['\u{1F44D}']],
            [`${family} \u{1F469}`, '\u{1F469}', ['\u{1F469}']],
            [`${family}`, family, [family]],
            ['1\ufe0f\u20e3 1', '1', ['1']],
            ['\u{1F1E9}\u{1F1EA}\u{1F1F8}\u{1F1EA}', '\u{1F1EA}\u{1F1F8}', []],
            ['\u{1F1E9}\u{1F1EA}\u{1F1F8}\u{1F1EA}', '\u{1F1F8}\u{1F1EA}', ['\u{1F1F8}\u{1F1EA}']],
            ['ne\u200cedle', 'ne', ['ne']],
            // Case as Unicode folds it, ASCII queries too.
            ['Straße STRASSE \u017fo \u212a', 's', ['S', 'S', 'S', 'S', '\u017f']],
        ];
        for (const [shown, query, expected] of rows) assert.deepEqual(found(shown, query), expected, `${JSON.stringify(query)} in ${JSON.stringify(shown)}`);
        assert.deepEqual(found('Apple APPLE', 'APPLE', true), ['APPLE']);
    });

    test('every part of a folded text maps back to text shown that folds to it', () => {
        // Random texts of the characters folding treats alike or apart.
        const alphabet = ['a', 'b', ' ', ' ', '\t', '\n', '\u00a0', '\u200b', '\u200d', '\u00ad', '\ufe0f', '\u0301', '\u0308',
            '\u1100', '\u1161', '\u11a8', '\uac00', '\u{1F44D}', '\u{1F3FD}', '\u{1F1EA}', 'é', '\u20e3', '\u{E0041}', '\u2060'];
        let seed = 7;
        const random = (n) => {
            seed = (seed * 1103515245 + 12345) % 2147483648;
            return seed % n;
        };
        for (let round = 0; round < 3000; round++) {
            const shown = Array.from({ length: 1 + random(14) }, () => alphabet[random(alphabet.length)]).join('');
            const folding = foldText(shown);
            const text = folding?.text ?? shown;
            const points = [0];
            for (const char of text) points.push(points[points.length - 1] + char.length);
            for (let i = 0; i < points.length; i++) {
                for (let j = i + 1; j < points.length; j++) {
                    const part = text.slice(points[i], points[j]);
                    const start = folding ? shownStart(folding, points[i]) : points[i];
                    const end = folding ? shownEnd(folding, points[j] - 1) : points[j];
                    assert.equal(foldQuery(shown.slice(start, end)), part, `${JSON.stringify(shown)} [${i}, ${j})`);
                }
            }
        }
    });
});
