import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import './support/loaded.js';
import { createParseService } from '../src/worker.js';

// The worker's service with its yields held until the test lets them go.
function service() {
    const posted = [];
    const held = [];
    const parses = createParseService({
        post: (message) => posted.push(message),
        yieldTask: () => new Promise((resolve) => held.push(resolve)),
    });
    const release = async () => {
        for (let spins = 0; held.length === 0; spins++) {
            if (spins > 10000) throw new Error('the service never yielded');
            await new Promise((resolve) => setImmediate(resolve));
        }
        held.shift()();
        await new Promise((resolve) => setImmediate(resolve));
    };
    return { parses, posted, release };
}

const SOURCE = Array.from({ length: 40 }, (_, i) => `Paragraph ${i} with $x_{${i}}$.`).join('\n\n');
const enhancedIndexes = (posted) => posted.filter((m) => m.type === 'enhanced').flatMap((m) => m.items.map((item) => item.index));

describe('parse worker service', () => {
    test('the blocks on screen come first, then those below, then those above, nearest first', async () => {
        const { parses, posted, release } = service();
        await parses.handle({ type: 'parse', id: 1, source: SOURCE, options: { language: 'en' }, later: true });
        assert.equal(posted.find((m) => m.type === 'result')?.later, 40);
        await parses.handle({ type: 'prefer', id: 1, from: 30, to: 32 });
        while (!posted.some((m) => m.type === 'enhanced' && m.done)) await release();
        const expected = [30, 31, 32, ...Array.from({ length: 7 }, (_, i) => 33 + i),
            ...Array.from({ length: 30 }, (_, i) => 29 - i)];
        assert.deepEqual(enhancedIndexes(posted), expected);
        assert.match(posted.find((m) => m.type === 'enhanced').items[0].text, /Paragraph 30/);
    });

    test('a preference for another parse changes nothing', async () => {
        const { parses, posted, release } = service();
        await parses.handle({ type: 'parse', id: 1, source: SOURCE, options: { language: 'en' }, later: true });
        await parses.handle({ type: 'prefer', id: 7, from: 30, to: 32 });
        await release();
        assert.equal(enhancedIndexes(posted)[0], 0);
    });
});
