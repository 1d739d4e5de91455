// @ts-check
// Theme tokens, page background, colour scheme and accessibility options.
// The reader sends the theme's colours as "--md-…" custom properties; the
// background gradients are the page's own knowledge, one per theme.

import { PageError, isPlainObject, isInteger } from './protocol.js';

/**
 * Each theme's background gradient, as [colour, position in %] stops; null
 * for a plain background.
 * @type {Readonly<Record<string, [string, number][] | null>>}
 */
export const GRADIENTS = Object.freeze({
    porcelain: [['#FFFFFF', 0], ['#FAFBFC', 50], ['#FFFFFF', 100]],
    linen: [['#FFFBF3', 0], ['#F7F3EB', 50], ['#FFFBF3', 100]],
    mist: [['#F6FAF8', 0], ['#EFF5F3', 50], ['#F6FAF8', 100]],
    graphite: null,
    midnight: [['#1A2540', 0], ['#141B2B', 45], ['#0F1522', 100]],
    forest: [['#1B2C26', 0], ['#15231F', 50], ['#101B17', 100]],
});

const COLOR = /^#(?:[0-9A-Fa-f]{6}|[0-9A-Fa-f]{8})$/;
const TOKEN_NAME = /^--md-[a-z0-9-]{1,64}$/;

// Code boxes are drawn with the theme's table border when their background
// is this close to the page behind them (a contrast ratio): in the dark
// themes the code background is a shade or two from the canvas.
export const CODE_EDGE_CONTRAST = 1.04;

/** @param {string} hex  #RRGGBB or #RRGGBBAA */
function channels(hex) {
    return [1, 3, 5, 7].map((at) => (at < hex.length ? parseInt(hex.slice(at, at + 2), 16) / 255 : 1));
}

/** @param {number[]} rgb  sRGB channels in [0, 1] */
function luminance([r, g, b]) {
    const linear = (/** @type {number} */ v) => (v <= 0.04045 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4);
    return 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
}

// The contrast ratio of a colour (its alpha laid over `under`) with `under`.
/**
 * @param {string} color  #RRGGBB or #RRGGBBAA
 * @param {string} under  #RRGGBB
 */
export function contrastRatio(color, under) {
    const [r, g, b, a] = channels(color);
    const back = channels(under);
    const over = [r, g, b].map((v, i) => v * a + back[i] * (1 - a));
    const one = luminance(over);
    const two = luminance(back);
    return (Math.max(one, two) + 0.05) / (Math.min(one, two) + 0.05);
}

// Whether a theme's code background is too close to its page (its canvas
// and each stop of its background gradient) to be seen without an edge.
/**
 * @param {Record<string, string>} tokens  the theme's accepted colours
 * @param {string} themeID
 */
export function needsCodeEdge(tokens, themeID) {
    const code = tokens['--md-code-bg'];
    const canvas = tokens['--md-canvas'];
    if (!code || !canvas) return false;
    const stops = Object.hasOwn(GRADIENTS, themeID) ? GRADIENTS[themeID] ?? [] : [];
    const pages = [canvas, ...stops.map(([color]) => color)];
    return pages.some((page) => contrastRatio(code, page) < CODE_EDGE_CONTRAST);
}

/** @param {string} themeID */
export function gradientCSS(themeID) {
    const stops = Object.hasOwn(GRADIENTS, themeID) ? GRADIENTS[themeID] : null;
    if (!stops || stops.length === 0) return 'none';
    return `linear-gradient(180deg, ${stops.map(([color, at]) => `${color} ${at}%`).join(', ')})`;
}

/** @param {Document} doc */
export function createTheme(doc) {
    const root = doc.documentElement;
    /** @type {Set<string>} */
    let appliedTokens = new Set();
    let themeID = '';
    let solidByTokens = false;
    const accessibility = { reduceMotion: false, reduceTransparency: false, increaseContrast: false };
    /** @type {Record<string, string>} the accepted colours, by token name */
    let tokens = {};

    function refreshBackgroundStyle() {
        const solid = solidByTokens || accessibility.reduceTransparency || accessibility.increaseContrast;
        root.style.setProperty('--md-page-gradient', solid ? 'none' : gradientCSS(themeID));
        root.toggleAttribute('data-solid', solid);
    }

    /**
     * @param {unknown} payload  the reader's, checked here
     * @returns {import('../protocol.js').Payloads['themeApplied']}
     */
    function setTheme(payload) {
        if (!isPlainObject(payload) || typeof payload.themeID !== 'string'
            || !isInteger(payload.themeRevision) || !isPlainObject(payload.tokens)) {
            throw new PageError('invalidPayload', 'setTheme needs themeID, an integer themeRevision and tokens');
        }
        /** @type {Set<string>} */
        const next = new Set();
        let solid = false;
        /** @type {Record<string, string>} */
        const accepted = {};
        for (const [name, value] of Object.entries(payload.tokens)) {
            if (typeof value !== 'string' || !TOKEN_NAME.test(name)) continue;
            if (name === '--md-background-style') {
                if (value !== 'solid') continue;
                solid = true;
            } else if (!COLOR.test(value)) {
                continue;
            }
            root.style.setProperty(name, value);
            next.add(name);
            accepted[name] = value;
        }
        // Tokens of the previous theme that this one does not set go away.
        for (const name of appliedTokens) if (!next.has(name)) root.style.removeProperty(name);
        // The page's background changes with the text, in this one style
        // change: the reader's setBackground follows a round trip later, and
        // until then the old background would lie under the new text (light
        // text on a light page on the way to a dark theme).
        if (accepted['--md-canvas']) root.style.setProperty('--md-page-background', accepted['--md-canvas']);
        else root.style.removeProperty('--md-page-background');
        appliedTokens = next;
        tokens = accepted;
        themeID = payload.themeID;
        solidByTokens = solid;
        root.toggleAttribute('data-code-edge', needsCodeEdge(accepted, themeID));
        refreshBackgroundStyle();
        return { themeID: payload.themeID, themeRevision: payload.themeRevision, appliedCount: next.size };
    }

    /**
     * @param {unknown} payload  the reader's, checked here
     * @param {Window} win
     * @returns {import('../protocol.js').Payloads['backgroundApplied']}
     */
    function setBackground(payload, win) {
        if (!isPlainObject(payload) || typeof payload.pageBackground !== 'string'
            || !/^#[0-9A-Fa-f]{6}$/.test(payload.pageBackground)) {
            throw new PageError('invalidPayload', 'setBackground needs pageBackground as #RRGGBB');
        }
        const scheme = payload.colorScheme;
        if (scheme !== undefined && scheme !== null && scheme !== 'light' && scheme !== 'dark') {
            throw new PageError('invalidPayload', 'colorScheme must be light or dark');
        }
        root.style.setProperty('--md-page-background', payload.pageBackground);
        if (scheme) {
            root.style.setProperty('color-scheme', scheme);
            root.setAttribute('data-scheme', scheme);
        }
        const computed = win.getComputedStyle(root);
        return {
            pageBackground: payload.pageBackground,
            computedBackground: computed.backgroundColor || payload.pageBackground,
            computedColorScheme: computed.colorScheme || computed.getPropertyValue('color-scheme') || scheme || 'normal',
        };
    }

    /**
     * @param {unknown} payload  the reader's, checked here
     * @returns {import('../protocol.js').Payloads['accessibilityApplied']}
     */
    function setAccessibility(payload) {
        /** @type {(keyof typeof accessibility)[]} */
        const keys = ['reduceMotion', 'reduceTransparency', 'increaseContrast'];
        if (!isPlainObject(payload) || keys.some((key) => typeof payload[key] !== 'boolean')) {
            throw new PageError('invalidPayload', 'setAccessibility needs the three booleans');
        }
        for (const key of keys) accessibility[key] = payload[key];
        root.toggleAttribute('data-reduce-motion', accessibility.reduceMotion);
        root.toggleAttribute('data-increase-contrast', accessibility.increaseContrast);
        refreshBackgroundStyle();
        return { ...accessibility };
    }

    // Colours for the diagram renderer, from the theme in force; null before
    // any theme arrived.
    /** @returns {import('../protocol.js').Payloads['diagramRequest']['themeVariables']} */
    function diagramThemeVariables() {
        if (!tokens['--md-canvas']) return null;
        const dark = root.getAttribute('data-scheme') === 'dark';
        /** @param {string} name */
        const pick = (name) => tokens[name] ?? null;

        return {
            darkMode: dark,
            background: pick('--md-canvas'),
            primaryColor: pick('--md-diagram-node'),
            primaryBorderColor: pick('--md-diagram-node-border'),
            primaryTextColor: pick('--md-diagram-label'),
            lineColor: pick('--md-diagram-edge'),
            textColor: pick('--md-diagram-label'),
            clusterBkg: pick('--md-diagram-cluster'),
            clusterBorder: pick('--md-diagram-edge'),
            edgeLabelBackground: pick('--md-canvas'),
            errorBkgColor: pick('--md-error-bg'),
            errorTextColor: pick('--md-diagram-error'),
        };
    }

    return {
        setTheme,
        setBackground,
        setAccessibility,
        diagramThemeVariables,
        // Changes with anything the diagram colours are made of.
        get themeKey() {
            return JSON.stringify([themeID, root.getAttribute('data-scheme'), diagramThemeVariables()]);
        },
        get reduceMotion() {
            return accessibility.reduceMotion;
        },
    };
}
