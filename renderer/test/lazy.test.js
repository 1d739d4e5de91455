// highlight.js and KaTeX load only for documents that need them, and what
// they give is the same as with everything loaded up front. This file runs
// in a process of its own: nothing is loaded when it starts, and the tests
// run in order.

import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import core from 'highlight.js/lib/core';
import { LANGUAGES } from '../src/parse/languages.js';
import { highlightCode, languageKey, languageLoaded, loadLanguages } from '../src/parse/highlight.js';
import { parseDocument } from '../src/parse/document.js';
import { MATH } from '../src/parse/markdown.js';
import { parseLoaded } from '../src/worker.js';
import { createWorkerParser } from '../src/page/parser.js';

// highlight.js as the page had it before: every language registered at once.
const eager = core.newInstance();
const definitions = {};
for (const name of Object.keys(LANGUAGES)) {
    definitions[name] = (await import(`highlight.js/lib/languages/${name}`)).default;
    eager.registerLanguage(name, definitions[name]);
}

const options = { documentID: 'DOC', language: 'en', generation: 1 };
const withoutNonce = (html) => html.replace(/data-md-k="[0-9a-f]+"/g, '');
const loadedKeys = () => Object.keys(LANGUAGES).filter(languageLoaded);

describe('loading on demand', () => {
    test('a document without code or math loads nothing; one with them loads only what it names', async () => {
        const plain = await parseLoaded('# Title\n\nText with `code` and a $ sign.\n\n```\nno language\n```\n', options);
        assert.equal(plain.needs.missing.size, 0);
        assert.deepEqual(loadedKeys(), []);

        // An HTML fence in a list, with a script and a style inside: xml and
        // what it embeds, nothing else.
        const source = '- item\n\n  ```HTML\n  <style>p { color: red }</style><script>let x = 1;</script>\n  ```\n';
        const first = await parseLoaded(source, options);
        assert.deepEqual(loadedKeys().sort(), ['css', 'graphql', 'javascript', 'xml']);
        const reference = eager.highlight('<style>p { color: red }</style><script>let x = 1;</script>\n',
            { language: 'html', ignoreIllegals: true }).value;
        assert.ok(first.result.html.includes(reference), 'the same highlighting as with every language loaded');
    });

    test('math and fences deferred for later are named for the worker to load before it renders them', async () => {
        const source = [
            '# Sums', '', 'Inline $x^2$ here.', '', '```sh', 'echo hi', '```', '',
            'Raw <b>bold</b> and $$\\frac{a}{b}$$.', '', '```math', 'a+b', '```', '',
            '```nosuchlanguage', 'x', '```', '',
        ].join('\n');
        const later = [];
        const { result, needs } = await parseLoaded(source, options, later);
        assert.deepEqual([...needs.later].sort(), ['bash', MATH].sort());
        assert.equal(languageLoaded('bash'), false, 'the plain first pass waits for nothing');
        assert.ok(!result.html.includes('class="katex"'));

        await loadLanguages(['bash']);
        const full = await parseLoaded(source, options);
        const rendered = Object.fromEntries(later.map((entry) => [entry.index, entry.render()]));
        const { html, offsets } = full.result;
        for (const [index, blockHTML] of Object.entries(rendered)) {
            assert.equal(withoutNonce(blockHTML), withoutNonce(html.slice(offsets[index], offsets[Number(index) + 1])));
        }
        assert.ok(html.includes('class="katex"') && html.includes('hljs-built_in'));
        // The raw block needed KaTeX in the first pass already.
        assert.ok(result.blocks.some((block) => block.raw && block.raw.pieces.some((piece) => piece.includes('katex'))));
    });
});

describe('the language table', () => {
    test('names, aliases and embedded languages are highlight.js\'s own', () => {
        const aliases = new Set();
        for (const [name, entry] of Object.entries(LANGUAGES)) {
            const language = definitions[name](eager);
            assert.deepEqual(entry.aliases, language.aliases ?? [], name);
            for (const alias of entry.aliases) {
                assert.ok(!aliases.has(alias) && !Object.hasOwn(LANGUAGES, alias), `${alias} names one language`);
                aliases.add(alias);
            }
            const embedded = new Set();
            const seen = new Set();
            const walk = (mode) => {
                if (!mode || typeof mode !== 'object' || seen.has(mode)) return;
                seen.add(mode);
                if (mode.subLanguage) for (const sub of [].concat(mode.subLanguage)) embedded.add(sub);
                for (const value of Object.values(mode)) walk(value);
            };
            walk(language);
            const known = [...embedded].filter((sub) => sub !== name && Object.hasOwn(LANGUAGES, sub));
            assert.deepEqual([...entry.uses].sort(), known.sort(), name);
        }
    });

    test('every name and alias, in any case, highlights as with every language loaded', async () => {
        await loadLanguages(Object.keys(LANGUAGES));
        const code = 'let x = "a" + 1; // note\n<b>x</b>\n';
        for (const [name, entry] of Object.entries(LANGUAGES)) {
            for (const spelling of [name, name.toUpperCase(), ...entry.aliases]) {
                assert.equal(languageKey(spelling), name, spelling);
                assert.equal(highlightCode(code, spelling), eager.highlight(code, { language: spelling, ignoreIllegals: true }).value, spelling);
            }
        }
        assert.equal(languageKey('nosuchlanguage'), null);
        assert.equal(languageKey('c"++'), null);
        assert.equal(highlightCode(code, 'nosuchlanguage'), null);
    });
});

describe('the page without module workers', () => {
    test('parses in the page with the code the document needs loaded', async () => {
        class BrokenWorker {
            constructor() {
                queueMicrotask(() => this.onerror?.({ message: 'module workers unavailable', preventDefault() {} }));
            }
            postMessage() {}
            terminate() {}
        }
        const parser = createWorkerParser({
            win: { Worker: BrokenWorker, setTimeout, clearTimeout },
            workerURL: 'parse-worker.js',
            importInPage: () => import('../src/worker.js'),
            now: () => performance.now(),
        });
        assert.equal(await parser.ping(1000), false);
        const outcome = await parser.parse('```rust\nfn main() {}\n```\n\n$$a^2$$\n', options, 0);
        assert.equal(outcome.status, 'ok');
        assert.equal(parser.mode, 'page');
        assert.ok(outcome.result.html.includes('hljs-keyword') && outcome.result.html.includes('class="katex'));
    });
});
