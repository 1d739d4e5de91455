import { test } from 'node:test';
import assert from 'node:assert/strict';
import { nextPieceSize } from '../src/page/insert.js';

test('a long block\'s next piece follows the frames seen, within its bounds', () => {
    // A quick frame: the piece may grow, but at most twofold.
    assert.equal(nextPieceSize(5, 16384, null).bytes, 32768);
    // However quick, never past the largest piece.
    assert.equal(nextPieceSize(1, 200000, null).bytes, 256 * 1024);
    // A frame far over the target shrinks it, but not below the smallest.
    assert.equal(nextPieceSize(1000, 2048, null).bytes, 2048);
    // The least time per character seen stands for the new items; the rest
    // of the frame is the block's own part, smoothed. Once that part passes
    // half the target, a piece costs about as much as it.
    const next = nextPieceSize(100, 40000, { perChar: 0.001, own: 30 });
    assert.equal(next.seen.perChar, 0.001);
    assert.ok(Math.abs(next.seen.own - 39) < 1e-9);
    assert.equal(next.bytes, 39000);
    // While the own part is small, the piece fills the rest of the target.
    const small = nextPieceSize(20, 16000, { perChar: 0.001, own: 2 });
    assert.equal(small.bytes, Math.round((34 - small.seen.own) / 0.001));
});
