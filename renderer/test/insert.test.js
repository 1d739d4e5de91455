import { test } from 'node:test';
import assert from 'node:assert/strict';
import { nextPieceSize } from '../src/page/insert.js';

test('a long block\'s next piece follows the slices seen, within its bounds', () => {
    // A quick slice: the piece may grow, but at most twofold.
    assert.equal(nextPieceSize(5, 16384, null, 24).bytes, 32768);
    // However quick, never past the largest piece.
    assert.equal(nextPieceSize(1, 200000, null, 24).bytes, 256 * 1024);
    // A slice far over its time shrinks it, but not below the smallest.
    assert.equal(nextPieceSize(1000, 2048, null, 24).bytes, 2048);
    // The least time per character seen stands for the new items; the rest
    // of the slice is the block's own part, smoothed. Once that part passes
    // half the slice's time, a piece costs about as much as it.
    const next = nextPieceSize(100, 40000, { perChar: 0.001, own: 30 }, 24);
    assert.equal(next.seen.perChar, 0.001);
    assert.ok(Math.abs(next.seen.own - 39) < 1e-9);
    assert.equal(next.bytes, 39000);
    // While the own part is small, the piece fills the rest of the time
    // granted.
    const small = nextPieceSize(20, 16000, { perChar: 0.001, own: 2 }, 24);
    assert.equal(small.bytes, Math.round((24 - small.seen.own) / 0.001));
    assert.ok(nextPieceSize(20, 16000, { perChar: 0.001, own: 2 }, 10).bytes < small.bytes);
});
