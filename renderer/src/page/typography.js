// @ts-check
// Reader typography: size, prose width, line height, families, weight and
// the layout of wide blocks. A field that is missing or malformed is refused
// (named in "rejected") and the value in force stays.

import { PageError, isPlainObject, isInteger, isFiniteNumber } from './protocol.js';

/** @type {Readonly<Record<string, number>>} prose width in rem, by preset */
export const WIDTH_REM = Object.freeze({ comfortable: 44, compact: 36, wide: 58 });
/** @type {Readonly<Record<string, number>>} by preset */
export const LINE_HEIGHT = Object.freeze({ standard: 1.7, compact: 1.5, loose: 1.9 });

export const DEFAULT_STACKS = Object.freeze({
    body: 'system-ui, -apple-system, "Cantarell", "Noto Sans", "DejaVu Sans", "Noto Sans CJK SC", "Source Han Sans SC", sans-serif',
    mono: 'ui-monospace, "DejaVu Sans Mono", "Noto Sans Mono", "Liberation Mono", "Noto Sans Mono CJK SC", monospace',
    heading: 'system-ui, -apple-system, "Cantarell", "Noto Sans", "DejaVu Sans", "Noto Sans CJK SC", "Source Han Sans SC", sans-serif',
});

const CSS_WIDE = new Set(['inherit', 'initial', 'unset', 'revert', 'revert-layer', 'default']);
const IDENT = /^-?[A-Za-z_\u00A0-\uFFFF][-A-Za-z0-9_\u00A0-\uFFFF]*$/;

// A CSS font-family value: comma-separated names, each a quoted string or a
// run of identifiers. Anything that could end the declaration is refused.
/** @param {unknown} value */
export function isValidFamily(value) {
    if (typeof value !== 'string') return false;
    const text = value.trim();
    if (text === '') return true;
    if (text.length > 300 || /[;{}<>\\]|\/\*|\n|\r/.test(text)) return false;
    const names = [];
    let i = 0;
    while (i < text.length) {
        while (text[i] === ' ' || text[i] === '\t') i++;
        if (text[i] === '"' || text[i] === "'") {
            const quote = text[i];
            const close = text.indexOf(quote, i + 1);
            if (close < 0 || close === i + 1) return false;
            names.push({ quoted: true, text: text.slice(i + 1, close) });
            i = close + 1;
        } else {
            let next = text.indexOf(',', i);
            if (next < 0) next = text.length;
            const words = text.slice(i, next).trim().split(/\s+/);
            if (words.length === 0 || words.some((word) => !IDENT.test(word))) return false;
            if (words.length === 1 && CSS_WIDE.has(words[0].toLowerCase())) return false;
            names.push({ quoted: false, text: words.join(' ') });
            i = next;
        }
        while (text[i] === ' ' || text[i] === '\t') i++;
        if (i < text.length) {
            if (text[i] !== ',') return false;
            i++;
            if (i >= text.length) return false;
        }
    }
    return names.length > 0;
}

/**
 * @param {string} value  a valid family list, or empty for the default
 * @param {keyof typeof DEFAULT_STACKS} role
 */
export function familyStack(value, role) {
    const text = value.trim();
    return text === '' ? DEFAULT_STACKS[role] : `${text}, ${DEFAULT_STACKS[role]}`;
}

/** @param {number} weight  the body's */
export function headingWeightFor(weight) {
    return Math.min(900, Math.max(600, Math.round((weight + 200) / 100) * 100));
}

/** @param {Document} doc */
export function createTypography(doc) {
    const root = doc.documentElement;
    const current = {
        fontSizePx: 16,
        widthPreset: 'comfortable',
        lineHeightPreset: 'standard',
        bodyFamily: '',
        monoFamily: '',
        headingFamily: '',
        fontWeight: 400,
        wideBlocks: 'aligned',
    };

    function apply() {
        const style = root.style;
        style.setProperty('--md-font-size', `${current.fontSizePx}px`);
        style.setProperty('--md-prose-width', `${WIDTH_REM[current.widthPreset]}rem`);
        style.setProperty('--md-line-height', String(LINE_HEIGHT[current.lineHeightPreset]));
        style.setProperty('--md-font-body', familyStack(current.bodyFamily, 'body'));
        style.setProperty('--md-font-mono', familyStack(current.monoFamily, 'mono'));
        style.setProperty('--md-font-heading', familyStack(current.headingFamily, 'heading'));
        style.setProperty('--md-font-weight', String(current.fontWeight));
        style.setProperty('--md-heading-weight', String(headingWeightFor(current.fontWeight)));
        root.setAttribute('data-wide-blocks', current.wideBlocks);
    }

    /**
     * @param {string[]} rejected
     * @returns {import('../protocol.js').Payloads['typographyApplied']}
     */
    function reply(rejected) {
        return {
            fontSizePx: current.fontSizePx,
            widthPreset: current.widthPreset,
            lineHeightPreset: current.lineHeightPreset,
            proseWidthRem: WIDTH_REM[current.widthPreset],
            lineHeight: LINE_HEIGHT[current.lineHeightPreset],
            bodyFamily: current.bodyFamily,
            monoFamily: current.monoFamily,
            headingFamily: current.headingFamily,
            fontWeight: current.fontWeight,
            headingWeight: headingWeightFor(current.fontWeight),
            wideBlocks: current.wideBlocks,
            rejected,
        };
    }

    /** @param {unknown} payload  the reader's, checked here */
    function setTypography(payload) {
        if (!isPlainObject(payload)) throw new PageError('invalidPayload', 'setTypography needs an object');
        /** @type {string[]} */
        const rejected = [];
        /**
         * @template {keyof typeof current} K
         * @param {K} name
         * @param {(value: unknown) => boolean} valid
         * @param {(value: (typeof current)[K]) => (typeof current)[K]} [normalise]
         */
        const take = (name, valid, normalise = (v) => v) => {

            if (valid(payload[name])) current[name] = normalise(payload[name]);
            else rejected.push(name);
        };
        take('fontSizePx', (v) => isFiniteNumber(v) && v >= 6 && v <= 96);
        take('widthPreset', (v) => typeof v === 'string' && Object.hasOwn(WIDTH_REM, v));
        take('lineHeightPreset', (v) => typeof v === 'string' && Object.hasOwn(LINE_HEIGHT, v));
        take('bodyFamily', isValidFamily, (v) => v.trim());
        take('monoFamily', isValidFamily, (v) => v.trim());
        take('headingFamily', isValidFamily, (v) => v.trim());
        take('fontWeight', (v) => isInteger(v) && v >= 1 && v <= 1000);
        take('wideBlocks', (v) => v === 'aligned' || v === 'full');
        apply();
        return reply(rejected);
    }

    apply();
    return {
        setTypography,
        get settings() {
            return { ...current };
        },
    };
}
