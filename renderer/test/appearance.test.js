import { test, describe } from 'node:test';
import assert from 'node:assert/strict';
import { createHarness } from './support/harness.js';
import { isValidFamily, familyStack, DEFAULT_STACKS } from '../src/page/typography.js';
import { gradientCSS, GRADIENTS, contrastRatio } from '../src/page/theme.js';

const TYPOGRAPHY = {
    fontSizePx: 17.5, widthPreset: 'wide', lineHeightPreset: 'loose', bodyFamily: '"Noto Serif"',
    monoFamily: 'Iosevka', headingFamily: '', fontWeight: 500, wideBlocks: 'full',
};

describe('typography', () => {
    test('applies every field and reports what is in force', async () => {
        const h = createHarness();
        const { payload } = await h.request('setTypography', TYPOGRAPHY);
        assert.deepEqual(payload, {
            fontSizePx: 17.5, widthPreset: 'wide', lineHeightPreset: 'loose', proseWidthRem: 58, lineHeight: 1.9,
            bodyFamily: '"Noto Serif"', monoFamily: 'Iosevka', headingFamily: '', fontWeight: 500, headingWeight: 700,
            wideBlocks: 'full', rejected: [],
        });
        const style = h.doc.documentElement.style;
        assert.equal(style.getPropertyValue('--md-font-body'), `"Noto Serif", ${DEFAULT_STACKS.body}`);
        assert.equal(style.getPropertyValue('--md-font-heading'), DEFAULT_STACKS.heading);
        assert.equal(h.doc.documentElement.getAttribute('data-wide-blocks'), 'full');
        h.close();
    });

    test('malformed or missing fields are refused and the values in force stay', async () => {
        const h = createHarness();
        await h.request('setTypography', TYPOGRAPHY);
        const { payload } = await h.request('setTypography', {
            fontSizePx: Number.NaN,
            widthPreset: 'Wide',
            lineHeightPreset: 'standard',
            bodyFamily: 'Inter; } body { display: none',
            monoFamily: 'url(https://evil.example/f.woff2)',
            headingFamily: '"Unclosed',
            fontWeight: 450.5,
        });
        assert.deepEqual(payload.rejected, ['fontSizePx', 'widthPreset', 'bodyFamily', 'monoFamily', 'headingFamily', 'fontWeight', 'wideBlocks']);
        assert.equal(payload.lineHeightPreset, 'standard');
        assert.equal(payload.fontSizePx, 17.5);
        assert.equal(payload.bodyFamily, '"Noto Serif"');
        assert.equal(payload.wideBlocks, 'full');
        assert.ok(!h.doc.documentElement.getAttribute('style').includes('evil'));
        h.close();
    });

    test('the text at the reading line stays there through every change of size, width and spacing', async () => {
        // Blocks grow with the text size; the document's blocks differ in
        // height, so that a block's place depends on every block above it.
        const root = () => parseFloat(h.doc.documentElement.style.getPropertyValue('--md-font-size')) || 16;
        const h = createHarness({ geometry: { heightOf: (index) => (40 + (index % 3) * 30) * (root() / 16) } });
        try {
            const source = Array.from({ length: 600 }, (_, i) => `Paragraph ${i}.`).join('\n\n');
            await h.render(source);
            await h.request('setViewportInsets', { top: 50, bottom: 0 });
            const steps = [
                { fontSizePx: 17 }, { fontSizePx: 18 }, { fontSizePx: 20 }, { fontSizePx: 13, widthPreset: 'compact' },
                { fontSizePx: 16, lineHeightPreset: 'loose' },
            ];
            for (const [index, within] of [[30, 0], [300, 0], [550, 0], [300, 0.5]]) {
                await h.request('setTypography', { ...TYPOGRAPHY, fontSizePx: 16 });
                const block = h.blocks()[index];
                h.geometry.setScrollTop(h.geometry.top(block) + within * h.geometry.height(block) - 50);
                for (const step of steps) {
                    await h.request('setTypography', { ...TYPOGRAPHY, ...step });
                    const line = h.geometry.scrollTop() + 50;
                    const expected = h.geometry.top(block) + within * h.geometry.height(block);
                    assert.ok(Math.abs(line - expected) <= 1, `block ${index} at ${JSON.stringify(step)}: ${line} ${expected}`);
                }
            }
        } finally {
            h.close();
        }
    });

    test('family values', () => {
        const good = ['', '  ', 'Inter', '"Source Han Sans SC"', "'PingFang SC'", 'Noto Sans', 'Inter, "Noto Sans", serif', '霞鹜文楷'];
        const bad = [
            'a;b', 'a{', '"a" b', '"', '""', 'a,', ',a', 'inherit', 'Initial', 'url(x)', 'a\\62', '/* x */ a',
            'a\nb', 'expression(alert(1))', '"a";color:red', 12, null,
        ];
        for (const value of good) assert.equal(isValidFamily(value), true, String(value));
        for (const value of bad) assert.equal(isValidFamily(value), false, String(value));
        assert.equal(familyStack('  Inter ', 'mono'), `Inter, ${DEFAULT_STACKS.mono}`);
    });
});

describe('theme, background and accessibility', () => {
    const tokens = (extra = {}) => ({ '--md-canvas': '#141B2B', '--md-text': '#E6EDF7', '--md-selection': '#8FBDF545', ...extra });

    test('tokens are set on the root, echoed and counted; bad ones are skipped', async () => {
        const h = createHarness();
        const reply = await h.request('setTheme', {
            themeID: 'midnight',
            themeRevision: 12,
            tokens: tokens({ '--md-link': 'red', '--not-md': '#FFFFFF', '--md-x': '#12345', '--md-y': 5 }),
        });
        assert.deepEqual(reply.payload, { themeID: 'midnight', themeRevision: 12, appliedCount: 3 });
        const style = h.doc.documentElement.style;
        assert.equal(style.getPropertyValue('--md-canvas'), '#141B2B');
        assert.equal(style.getPropertyValue('--md-link'), '');
        assert.equal(style.getPropertyValue('--md-page-gradient'), gradientCSS('midnight'));
        assert.match(gradientCSS('midnight'), /#1A2540 0%, #141B2B 45%, #0F1522 100%/);
        h.close();
    });

    test('solid background drops the gradient; a later theme without it brings it back', async () => {
        const h = createHarness();
        const style = h.doc.documentElement.style;
        await h.request('setTheme', { themeID: 'forest', themeRevision: 1, tokens: tokens({ '--md-background-style': 'solid' }) });
        assert.equal(style.getPropertyValue('--md-page-gradient'), 'none');
        assert.equal(h.doc.documentElement.hasAttribute('data-solid'), true);
        const reply = await h.request('setTheme', { themeID: 'forest', themeRevision: 2, tokens: tokens() });
        assert.equal(reply.payload.appliedCount, 3);
        assert.equal(style.getPropertyValue('--md-background-style'), '');
        assert.notEqual(style.getPropertyValue('--md-page-gradient'), 'none');
        // Graphite has no gradient at all; an unknown theme neither.
        assert.equal(GRADIENTS.graphite, null);
        assert.equal(gradientCSS('graphite'), 'none');
        assert.equal(gradientCSS('toString'), 'none');
        // Reduced transparency also means solid.
        await h.request('setAccessibility', { reduceMotion: true, reduceTransparency: true, increaseContrast: false });
        assert.equal(style.getPropertyValue('--md-page-gradient'), 'none');
        h.close();
    });

    test('a theme switch changes the page background with the text, before the background push', async () => {
        const h = createHarness();
        const root = h.doc.documentElement;
        const light = { '--md-canvas': '#FAFBFC', '--md-text': '#20242C' };
        await h.request('setTheme', { themeID: 'porcelain', themeRevision: 1, tokens: light });
        await h.request('setBackground', { pageBackground: '#FAFBFC', colorScheme: 'light' });
        await h.request('setTheme', { themeID: 'midnight', themeRevision: 2, tokens: tokens() });
        assert.equal(root.style.getPropertyValue('--md-text'), '#E6EDF7');
        assert.equal(root.style.getPropertyValue('--md-page-background'), '#141B2B');
        // A theme without a canvas leaves the stylesheet's, not the last theme's.
        await h.request('setTheme', { themeID: 'graphite', themeRevision: 3, tokens: { '--md-text': '#E6EDF7' } });
        assert.equal(root.style.getPropertyValue('--md-page-background'), '');
        h.close();
    });

    test('code is outlined only in themes whose code background is close to the page', async () => {
        const h = createHarness();
        const root = h.doc.documentElement;
        // canvas, code background: the six themes' own.
        const themes = [
            ['porcelain', '#FAFBFC', '#EEF1F5', false], ['linen', '#F7F3EB', '#F0E8DC', false],
            ['mist', '#EFF5F3', '#E6EFEB', false], ['graphite', '#191B20', '#17191E', true],
            ['midnight', '#141B2B', '#111927', true], ['forest', '#15231F', '#111E19', true],
            // A translucent code background is judged as it looks over the canvas.
            ['porcelain', '#FAFBFC', '#20242C04', true],
            // Without a code background nothing is outlined.
            ['graphite', '#191B20', null, false],
        ];
        for (const [themeID, canvas, code, outlined] of themes) {
            const tokens = { '--md-canvas': canvas, '--md-table-border': '#383D47' };
            if (code) tokens['--md-code-bg'] = code;
            await h.request('setTheme', { themeID, themeRevision: 1, tokens });
            assert.equal(root.hasAttribute('data-code-edge'), outlined, `${themeID} ${code}`);
        }
        assert.ok(contrastRatio('#000000', '#FFFFFF') > 20.9 && contrastRatio('#777777', '#777777') === 1);
        h.close();
    });

    test('background and accessibility replies', async () => {
        const h = createHarness();
        const background = await h.request('setBackground', { pageBackground: '#191B20', colorScheme: 'dark' });
        assert.equal(background.type, 'backgroundApplied');
        assert.equal(background.payload.pageBackground, '#191B20');
        assert.equal(typeof background.payload.computedBackground, 'string');
        assert.equal(typeof background.payload.computedColorScheme, 'string');
        const bad = await h.request('setBackground', { pageBackground: 'red' });
        assert.equal(bad.payload.code, 'invalidPayload');
        const options = { reduceMotion: true, reduceTransparency: false, increaseContrast: true };
        const applied = await h.request('setAccessibility', options);
        assert.deepEqual(applied.payload, options);
        assert.ok(h.doc.documentElement.hasAttribute('data-reduce-motion'));
        assert.ok(h.doc.documentElement.hasAttribute('data-increase-contrast'));
        const partial = await h.request('setAccessibility', { reduceMotion: true });
        assert.equal(partial.type, 'error');
        h.close();
    });

    test('viewport insets are applied and echoed with the content origin', async () => {
        const h = createHarness();
        const reply = await h.request('setViewportInsets', { top: 52, bottom: 0 });
        assert.equal(reply.type, 'viewportInsetsApplied');
        assert.equal(reply.payload.top, 52);
        assert.equal(reply.payload.bottom, 0);
        assert.equal(typeof reply.payload.originOffset, 'number');
        assert.equal(h.doc.documentElement.style.getPropertyValue('--md-inset-top'), '52px');
        h.close();
    });
});
