// The reader's calls and the page's events cross the boundary as JSON text.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createHarness } from './support/harness.js';
import { postAsText, textEntry } from '../src/page/protocol.js';

test('the text entry answers with the reply envelope as one JSON string', async () => {
    const h = createHarness();
    const entry = textEntry(h.page.handleMessage);
    const source = Array.from({ length: 300 }, (_, i) => `## Part ${i}\n\nText "${i}" \\ é\n`).join('\n');
    const request = h.envelope('render', { source, language: 'en' });
    const text = await entry(JSON.stringify(request));
    assert.equal(typeof text, 'string');
    const reply = JSON.parse(text);
    assert.equal(reply.type, 'rendered');
    assert.equal(reply.messageID, request.messageID);
    assert.equal(reply.payload.headings.length, 300);
    assert.equal(reply.payload.headings[299].text, 'Part 299');

    // The same envelope the object entry gives, value for value.
    const again = h.envelope('probe');
    assert.deepEqual(JSON.parse(await entry(JSON.stringify(again))),
        JSON.parse(JSON.stringify(await h.page.handleMessage(again))));
    h.close();
});

test('text that is no request is answered with an error envelope, never a throw', async () => {
    const h = createHarness();
    const entry = textEntry(h.page.handleMessage);
    for (const text of ['{"protocolVersion":', '"render"', '[]', undefined, 42]) {
        const reply = JSON.parse(await entry(text));
        assert.equal(reply.type, 'error', String(text));
        assert.equal(reply.payload.code, 'invalidEnvelope', String(text));
    }
    h.close();
});

test('events reach the handler as JSON text, and nothing is posted without one', () => {
    const bodies = [];
    const envelope = { type: 'copyText', payload: { text: 'a "quoted" \u2028 line\n', kind: 'code' } };
    postAsText({ postMessage: (body) => bodies.push(body) }, envelope);
    assert.equal(bodies.length, 1);
    assert.equal(typeof bodies[0], 'string');
    assert.deepEqual(JSON.parse(bodies[0]), envelope);
    assert.doesNotThrow(() => postAsText(undefined, envelope));
});
