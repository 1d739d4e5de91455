import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { linkKind } from '../src/page/links.js';
import { createHarness } from './support/harness.js';
import { createScheduler } from '../src/page/scheduler.js';

describe('links', () => {
    test('kinds from the raw destination', () => {
        const cases = [
            ['#intro', 'fragment'], ['#', 'fragment'], ['  #x', 'fragment'],
            ['file:///tmp/a.md', 'file'], ['FILE:/x', 'file'], ['/abs/path.md', 'file'], ['//host/x', 'file'],
            ['https://example.org', 'external'], ['mailto:a@b.c', 'external'], ['ftp://x', 'external'],
            ['javascript:void(0)', 'external'], ['x-custom+1.2:thing', 'external'],
            ['other.md', 'relative'], ['./a/../b.md#h', 'relative'], ['', 'relative'], ['1http:x', 'relative'],
            ['?query', 'relative'],
        ];
        for (const [href, kind] of cases) assert.equal(linkKind(href), kind, href);
    });

    test('destinations a URL cannot hold are reported as written, not encoded', async () => {
        const h = createHarness();
        await h.render('[s](https://example.com/search?filter[name]=x) <https://example.com/a|b> '
            + '[x](<https://example.com/a b>) <https://example.com?find=\\*> [p](100%.md)');
        for (const a of h.article().querySelectorAll('a')) a.click();
        assert.deepEqual(h.eventsOf('openLink').map((e) => [e.payload.href, e.payload.kind]), [
            ['https://example.com/search?filter[name]=x', 'external'],
            ['https://example.com/a|b', 'external'],
            ['https://example.com/a b', 'external'],
            ['https://example.com?find=\\*', 'external'],
            ['100%.md', 'relative'],
        ]);
        h.close();
    });

    test('a click reports the destination as written, with modifiers, and never navigates', async () => {
        const h = createHarness();
        await h.render('[a](my%20file.md#Part%20Two) [b](<with space.md>) <a href="../x.md?y=1"><em>nested</em></a> [c](#sec)');
        const [a, b, raw, c] = Array.from(h.article().querySelectorAll('a'));
        const click = (element, init = {}) => {
            const event = new h.win.MouseEvent('click', { bubbles: true, cancelable: true, ...init });
            element.dispatchEvent(event);
            return event.defaultPrevented;
        };
        assert.equal(click(a, { ctrlKey: true }), true);
        assert.equal(click(b, { metaKey: true, altKey: true, shiftKey: true }), true);
        assert.equal(click(raw.querySelector('em')), true);
        assert.equal(click(c), true);
        const links = h.eventsOf('openLink').map((e) => e.payload);
        assert.deepEqual(links, [
            { href: 'my%20file.md#Part%20Two', kind: 'relative', modifiers: { command: true, option: false, shift: false } },
            { href: 'with space.md', kind: 'relative', modifiers: { command: true, option: true, shift: true } },
            { href: '../x.md?y=1', kind: 'relative', modifiers: { command: false, option: false, shift: false } },
            { href: '#sec', kind: 'fragment', modifiers: { command: false, option: false, shift: false } },
        ]);
        assert.equal(h.win.location.href, 'about:blank');
        h.close();
    });

    test('middle clicks open links; other auxiliary clicks are only stopped', async () => {
        const h = createHarness();
        await h.render('[a](https://example.org)');
        const link = h.article().querySelector('a');
        for (const button of [1, 2]) {
            const event = new h.win.MouseEvent('auxclick', { bubbles: true, cancelable: true, button });
            link.dispatchEvent(event);
            assert.equal(event.defaultPrevented, true);
        }
        assert.equal(h.eventsOf('openLink').length, 1);
        h.close();
    });

    test('the copy button of a code block posts its text', async () => {
        const h = createHarness();
        await h.render('```js\nlet a = "<b>";\n```');
        h.article().querySelector('button.md-copy').click();
        assert.deepEqual(h.eventsOf('copyText').map((e) => e.payload), [{ text: 'let a = "<b>";\n', kind: 'code' }]);
        h.close();
    });

    test('scrollToHeading finds the id, then its slug, and counts the top inset', async () => {
        const h = createHarness({ geometry: { viewportHeight: 200, blockHeight: 100 } });
        await h.request('setViewportInsets', { top: 30, bottom: 0 });
        await h.render('# Intro\n\na\n\nb\n\n## Part Two\n\nc\n\nd\n\ne\n\nRef[^1]\n\n[^1]: note');
        const found = await h.request('scrollToHeading', { id: 'part-two' });
        assert.deepEqual(found.payload, { id: 'part-two', found: true });
        assert.equal(h.geometry.scrollTop(), 300 - 30);
        const bySlug = await h.request('scrollToHeading', { id: 'Part Two' });
        assert.equal(bySlug.payload.found, true);
        const footnote = await h.request('scrollToHeading', { id: 'fn-F-1' });
        assert.equal(footnote.payload.found, true);
        const missing = await h.request('scrollToHeading', { id: 'nope' });
        assert.deepEqual(missing.payload, { id: 'nope', found: false });
        h.close();
    });

    test('scrollToHeading finds named anchors of raw markup, under the name as written or as sanitised', async () => {
        const h = createHarness({ geometry: { viewportHeight: 200, blockHeight: 100 } });
        await h.render('# Intro\n\na\n\nb\n\n## <a name="arc" href="#arc">#</a> Arc\n\nc\n\n<p><a name="deep"></a>deep</p>\n\nd\n\ne');
        for (const [id, top] of [['arc', 300], ['user-content-arc', 300], ['deep', 500], ['user-content-deep', 500]]) {
            h.geometry.setScrollTop(0);
            const reply = await h.request('scrollToHeading', { id });
            assert.deepEqual(reply.payload, { id, found: true });
            assert.equal(h.geometry.scrollTop(), top, id);
        }
        // A name outside the document is not a target.
        h.doc.body.insertAdjacentHTML('beforeend', '<a name="user-content-outside"></a>');
        assert.equal((await h.request('scrollToHeading', { id: 'outside' })).payload.found, false);
        h.close();
    });

    test('scrollToHeading finds a heading by its id and by the id slugged from its trimmed text', async () => {
        const h = createHarness({ geometry: { viewportHeight: 200, blockHeight: 100 } });
        await h.render([
            '# Intro', 'a', '## ![npm](b.svg) Opts', 'b', '## <a name="x"></a> Opts', 'c',
            '## Opts', 'd', '## Team ✨ <a name="team"></a>', 'e', '## Team', 'f',
        ].join('\n\n'));
        const ids = Array.from(h.article().querySelectorAll('h2'), (e) => e.id);
        assert.deepEqual(ids, ['-opts', '-opts-1', 'opts', 'team--', 'team']);
        for (const [id, top] of [
            // "opts" was the first heading's id: the one that has it now wins.
            ['-opts', 200], ['-opts-1', 400], ['opts', 600], ['team--', 800], ['team', 1000],
            // The ids as they were: "opts", "opts-1", "opts-2", "team-", "team".
            ['opts-1', 400], ['opts-2', 600], ['Opts 2', 600], ['team-', 800],
        ]) {
            h.geometry.setScrollTop(0);
            const reply = await h.request('scrollToHeading', { id });
            assert.deepEqual(reply.payload, { id, found: true });
            assert.equal(h.geometry.scrollTop(), top, id);
        }
        assert.equal((await h.request('scrollToHeading', { id: 'opts-3' })).payload.found, false);
        h.close();
    });

    test('a heading scroll is placed again while the chunks around it take their real heights', async () => {
        // A changelog: 28 sections of one item each. Blocks measure 40 px
        // (their estimate) until the first frame after the scroll lays them
        // out at 100 px; a wheel turn at that frame leaves the place to the reader.
        const changelog = ['# CHANGELOG'];
        for (let minor = 28; minor >= 1; minor--) changelog.push(`## 1.${minor}.0`, `- change ${minor}`);
        for (const interrupted of [false, true]) {
            let laidOut = false;
            let armed = false;
            let frames = 0;
            const h = createHarness({
                geometry: { viewportHeight: 300, heightOf: () => (laidOut ? 100 : 40) },
                scheduler: (win) => ({
                    ...createScheduler(win),
                    nextFrame: async () => {
                        frames += 1;
                        if (armed && !laidOut) {
                            laidOut = true;
                            if (interrupted) win.dispatchEvent(new win.Event('wheel'));
                        }
                        return frames;
                    },
                }),
            });
            await h.request('setViewportInsets', { top: 20, bottom: 0 });
            await h.render(changelog.join('\n\n'));
            armed = true;
            const startFrames = frames;
            // "## 1.2.0", the 54th block.
            const reply = await h.request('scrollToHeading', { id: '120' });
            assert.deepEqual(reply.payload, { id: '120', found: true });
            const heading = h.doc.getElementById('120');
            if (interrupted) {
                // Where the first placing put it: the end of the estimated layout.
                assert.equal(h.geometry.scrollTop(), 57 * 40 - 300);
            } else {
                assert.equal(h.geometry.top(heading) - h.geometry.scrollTop(), 20, 'at the reading line');
                // The last heading cannot reach the reading line: as near as the end allows.
                await h.request('scrollToHeading', { id: '110' });
                assert.equal(h.geometry.scrollTop(), h.geometry.maxScroll());
            }
            assert.ok(frames - startFrames < 20, `${frames - startFrames} frames`);
            h.close();
        }
    });
});
