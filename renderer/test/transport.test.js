// The reader's calls and the page's events cross the boundary as JSON text.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createHarness } from './support/harness.js';
import { createTextTransport, postAsText, sliceText, textEntry } from '../src/page/protocol.js';

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

// Sends `text` as the reader does when it is long: slices of `size` code
// units, the last one with handleMessageText.
function sendInSlices(transport, transfer, text, size, replySliceBytes = 0) {
    const slices = sliceText(text, size);
    slices.slice(0, -1).forEach((slice, i) => assert.equal(transport.appendMessageText(transfer, i, slice), true));
    return transport.handleMessageText(slices.at(-1), transfer, slices.length - 1, replySliceBytes);
}

// Takes a reply as the reader does: whole, or its first slice under the
// header and the others one call each.
function takeWhole(transport, text) {
    const header = /^#(\d+) (\S+)\n/.exec(text);
    if (!header) return { text, slices: 1 };
    const count = Number(header[1]);
    let whole = text.slice(header[0].length);
    for (let i = 1; i < count; i++) {
        const slice = transport.takeReplyText(header[2], i);
        assert.equal(typeof slice, 'string', `slice ${i}`);
        whole += slice;
    }
    assert.equal(transport.takeReplyText(header[2], 1), null, 'a reply taken whole is not kept');
    return { text: whole, slices: count };
}

test('long requests and replies cross in slices and are handled as one text', async () => {
    const h = createHarness();
    const transport = createTextTransport(h.page.handleMessage);
    // Surrogate pairs, three-byte characters and escapes at every offset.
    const source = Array.from({ length: 400 }, (_, i) => `## Part ${i} 🌸\n\n中文 "${i}" \\ é 𝄞\n`).join('\n');
    const request = h.envelope('render', { source, language: 'en' });
    const text = JSON.stringify(request);

    const direct = JSON.parse(await textEntry(h.page.handleMessage)(text));
    for (const size of [7, 1000, 4096]) {
        const replyText = await sendInSlices(transport, `T${size}`, text, size, 3000);
        const { text: whole, slices } = takeWhole(transport, replyText);
        assert.ok(slices > 1, 'the reply came in slices');
        const reply = JSON.parse(whole);
        assert.equal(reply.messageID, request.messageID);
        assert.deepEqual(reply.payload.headings, direct.payload.headings, `slices of ${size}`);
    }
    // A short reply comes back whole, and no limit means no slicing.
    const probe = h.envelope('probe');
    assert.deepEqual(JSON.parse(await transport.handleMessageText(JSON.stringify(probe), '', 0, 3000)).messageID, probe.messageID);
    assert.match(await transport.handleMessageText(text), /^\{/);
    h.close();
});

test('no slice splits a surrogate pair, and the slices give back the text', () => {
    const text = '𝄞a🌸中'.repeat(50);
    for (const size of [2, 3, 5, 64]) {
        const slices = sliceText(text, size);
        assert.equal(slices.join(''), text);
        for (const slice of slices) {
            assert.ok(slice.length <= size);
            assert.ok(slice.isWellFormed(), `size ${size}`);
        }
    }
    assert.deepEqual(sliceText('', 10), ['']);
});

test('an interrupted or broken transfer is refused, and a new one replaces it', async () => {
    const h = createHarness();
    const transport = createTextTransport(h.page.handleMessage);
    const text = JSON.stringify(h.envelope('probe'));
    const [a, b, c] = [text.slice(0, 10), text.slice(10, 20), text.slice(20)];

    // Abandoned after its first slice: another transfer takes its place.
    transport.appendMessageText('old', 0, a);
    transport.appendMessageText('new', 0, a);
    transport.appendMessageText('new', 1, b);
    await assert.rejects(transport.handleMessageText(c, 'old', 2), /incomplete transfer old/);
    // The last call of a transfer ends it, whatever happened.
    await assert.rejects(transport.handleMessageText(c, 'new', 2), /incomplete transfer new/);

    // A missing slice: the transfer is dropped, not handled without it.
    transport.appendMessageText('gap', 0, a);
    assert.equal(transport.appendMessageText('gap', 2, c), false);
    await assert.rejects(transport.handleMessageText(c, 'gap', 2), /incomplete transfer/);

    // Whole again.
    transport.appendMessageText('ok', 0, a);
    transport.appendMessageText('ok', 1, b);
    assert.equal(JSON.parse(await transport.handleMessageText(c, 'ok', 2)).type, 'capabilities');

    // Unknown or out of range reply slices are none.
    assert.equal(transport.takeReplyText('reply-9', 1), null);
    assert.equal(transport.appendMessageText('', 0, a), false);
    h.close();
});
