// The payload types that tsc checks the page against are generated from
// protocol.json and the golden envelopes; a stale file would let the page
// drift from what the reader sends and expects.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { expected, generate, OUTPUT_PATH } from '../tools/protocol-types.mjs';

test('src/protocol.d.ts is what protocol.json and the golden envelopes give', async () => {
    const current = await readFile(OUTPUT_PATH, 'utf8');
    assert.equal(current, await expected(), 'stale: run `node tools/protocol-types.mjs`');
});

const table = {
    protocolVersion: 1,
    envelopeKeys: ['type', 'payload'],
    messageTypes: ['ask', 'answer', 'note', 'unused'],
    requests: { ask: 'answer' },
    events: ['note'],
};
const envelope = (type, payload) => ({ type, payload });
const make = (files) => generate(table, files, {});

test('payload shapes are merged over every example of a message', () => {
    const text = make([
        { a: envelope('ask', { id: 'x', line: 3 }), b: envelope('answer', { items: [{ n: 1 }], value: 'v' }) },
        {
            c: envelope('ask', { id: 'y', extra: true }),
            d: envelope('answer', { items: [], value: null }),
            e: envelope('note', {}),
        },
    ]);
    const cases = [
        ['a key in every example is required', /ask: \{\n\s+extra\?: boolean;\n\s+id: string;\n\s+line\?: number;/],
        ['differing kinds make a union', /value: string \| null;/],
        ['an empty list takes its element from the other examples', /items: \{\n\s+n: number;\n\s+\}\[\];/],
        ['an empty payload takes no keys', /note: Record<string, never>;/],
        ['a message nobody sends gets no payload', /^(?![\s\S]*unused:)/],
    ];
    for (const [what, pattern] of cases) assert.match(text, pattern, what);
});

test('examples that cannot give a type are refused', () => {
    const cases = [
        ['a message without examples', [{ a: envelope('ask', {}) }], /no golden envelope shows a "answer"/],
        ['an unknown message type', [{ a: envelope('asked', {}) }], /unknown type: asked/],
        ['a list empty in every example',
            [{ a: envelope('ask', { list: [] }), b: envelope('answer', {}), c: envelope('note', {}) }], /ask\.list is an empty list/],
    ];
    for (const [what, files, error] of cases) assert.throws(() => make(files), error, what);
});
