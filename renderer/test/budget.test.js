import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createFrameBudget, FRAME_MS, KINDS } from '../src/page/budget.js';

// Frames the test lets come one by one, and a clock that moves only as the
// work in the slices says.
function frames() {
    let clock = 0;
    let stamp = 0;
    /** @type {((stamp: number) => void)[]} */
    const waiting = [];
    const scheduler = {
        nextFrame: () => new Promise((resolve) => waiting.push(resolve)),
        yieldTask: () => new Promise((resolve) => setImmediate(resolve)),
    };
    const budget = createFrameBudget({ scheduler, now: () => clock });
    return {
        budget,
        work(ms) { clock += ms; },
        // The next frame, and the slices granted in it.
        async frame() {
            stamp += 16;
            clock = Math.max(clock, stamp);
            for (const resolve of waiting.splice(0)) resolve(stamp);
            await new Promise((resolve) => setImmediate(resolve));
        },
        async settle() {
            await new Promise((resolve) => setImmediate(resolve));
        },
    };
}

// Asks for a slice of `kind` and, once it is granted, works `ms` in it and
// notes what it got.
function worker(f, log, kind, ms, wish) {
    return f.budget.next(kind, wish).then((slice) => {
        log.push({ kind, frame: slice.frame, granted: slice.ms });
        f.work(ms);
        slice.end();
        return slice;
    });
}

test('a frame\'s slices go out by priority, one a kind, within the frame\'s time, and what took it is known', async () => {
    const f = frames();
    const log = [];
    // A slice under way takes the frame's whole time; the others, asked in
    // the reverse of their priorities meanwhile, wait for the next frame.
    const holder = await f.budget.next('find', FRAME_MS);
    void worker(f, log, 'read', 1);
    void worker(f, log, 'dress', FRAME_MS - 10, FRAME_MS);
    void worker(f, log, 'insert', 10, 10);
    f.work(FRAME_MS);
    holder.end();
    await f.settle();
    assert.deepEqual(log, []);
    await f.frame();
    // insert (10 ms) has what it asks; dress gets what is left of the
    // frame's time; read has nothing left and waits.
    assert.deepEqual(log.map((l) => l.kind), ['insert', 'dress']);
    assert.deepEqual(log.map((l) => l.granted), [10, FRAME_MS - 10]);
    assert.ok(log.every((l) => l.frame === 16));
    await f.frame();
    assert.deepEqual(log.map((l) => l.kind), ['insert', 'dress', 'read']);
    assert.equal(log[2].frame, 32);
    // Dressing the screen and the blocks near it is one work: one slice of
    // the two a frame.
    void worker(f, log, 'screen', 1);
    await f.settle();
    assert.equal(log.length, 4);
    void worker(f, log, 'dress', 1);
    await f.settle();
    assert.equal(log.length, 4);
    await f.frame();
    assert.deepEqual(log.slice(3).map((l) => [l.kind, l.frame]), [['screen', 32], ['dress', 48]]);

    // Each frame's cost by what took it.
    const costs = f.budget.frames();
    assert.deepEqual(costs.at(-4), { frame: null, gap: null, spent: { find: FRAME_MS } });
    assert.deepEqual(costs.at(-3), { frame: 16, gap: null, spent: { insert: 10, dress: FRAME_MS - 10 } });
    assert.deepEqual(costs.at(-2), { frame: 32, gap: 16, spent: { read: 1, screen: 1 } });
});

test('work of a lower priority waits behind a search that takes every frame, but never for ever', async () => {
    const f = frames();
    const log = [];
    await f.frame();
    let searching = true;
    const search = async () => {
        while (searching) {
            const slice = await f.budget.next('find', FRAME_MS);
            log.push('find');
            f.work(slice.ms);
            slice.end();
        }
    };
    void search();
    void worker(f, log, 'insert', 1);
    for (let frame = 0; frame < 8 && !log.includes('insert'); frame++) await f.frame();
    // Four frames behind the search, then it goes first.
    assert.equal(log.findIndex((l) => l !== 'find'), 4, log.join());
    searching = false;

    // A slice its owner never ends ends when the owner waits for anything
    // else: the frame goes on to the next kind.
    const f2 = frames();
    const log2 = [];
    await f2.frame();
    await f2.budget.next('find');
    f2.work(3);
    void worker(f2, log2, 'insert', 1);
    await f2.settle();
    await f2.settle();
    assert.deepEqual(log2.map((l) => l.kind), ['insert']);
    assert.deepEqual(f2.budget.frames().at(-1).spent, { find: 3, insert: 1 });
});

test('an idle page starts its work at once, and a closed one hands out no more slices', async () => {
    const f = frames();
    const log = [];
    // No frame under way: granted without waiting for one.
    await worker(f, log, 'insert', 4);
    assert.deepEqual(log, [{ kind: 'insert', frame: null, granted: KINDS.insert.ms }]);
    f.budget.dispose();
    let granted = false;
    void f.budget.next('find').then(() => { granted = true; });
    await f.frame();
    await f.settle();
    assert.equal(granted, false);
});
