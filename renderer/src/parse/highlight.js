// highlight.js with the languages that documents name most often. Only a
// fence that names one of them (or one of its aliases) is highlighted; there
// is never automatic detection.
//
// Nothing of it is loaded until a document needs it: the core with the first
// language, each language (with those it embeds) when a fence names it. A
// render that meets a known language not loaded yet leaves the code plain and
// notes the language in its `missing` set; the worker loads what is missing
// and renders again, so the result is the same as with everything loaded.

import { LANGUAGES } from './languages.js';

// A language name fit to appear in a class attribute.
export const SAFE_LANGUAGE = /^[A-Za-z0-9_+#.-]{1,40}$/;

/** @type {Map<string, string>} alias → the table's name */
const ALIASES = new Map();
for (const [name, { aliases }] of Object.entries(LANGUAGES)) {
    for (const alias of aliases) ALIASES.set(alias.toLowerCase(), name);
}

/** @type {import('highlight.js').HLJSApi | null} */
let hljs = null;
/** @type {Set<string>} */
const loaded = new Set();

// The table's name for a fence's language (as highlight.js resolves it:
// any case, name before alias), or null when highlight.js has none.
/**
 * @param {string} name
 * @returns {string | null}
 */
export function languageKey(name) {
    if (!SAFE_LANGUAGE.test(name)) return null;
    const lower = name.toLowerCase();
    if (Object.hasOwn(LANGUAGES, lower)) return lower;
    return ALIASES.get(lower) ?? null;
}

// Loads the languages (table names) and those they embed.
/** @param {Iterable<string>} keys */
export async function loadLanguages(keys) {
    /** @type {string[]} */
    const wanted = [];
    /** @param {string} key */
    const collect = (key) => {
        if (loaded.has(key) || wanted.includes(key) || !Object.hasOwn(LANGUAGES, key)) return;
        wanted.push(key);
        for (const used of LANGUAGES[key].uses) collect(used);
    };
    for (const key of keys) collect(key);
    if (wanted.length === 0) return;
    const core = hljs ??= (await import('highlight.js/lib/core')).default;
    const modules = await Promise.all(wanted.map((key) => LANGUAGES[key].load()));
    wanted.forEach((key, i) => {
        core.registerLanguage(key, modules[i].default);
        loaded.add(key);
    });
}

/** @param {string} key  a table name */
export function languageLoaded(key) {
    return loaded.has(key);
}

// Highlighted HTML of the code, or null when the language is unknown or not
// loaded yet (then its key goes into `missing`, when given).
/**
 * @param {string} code
 * @param {string} language  as the fence names it
 * @param {Set<string>} [missing]
 * @returns {string | null}
 */
export function highlightCode(code, language, missing) {
    const key = languageKey(language);
    if (key === null) return null;
    if (hljs === null || !loaded.has(key)) {
        missing?.add(key);
        return null;
    }
    try {
        return hljs.highlight(code, { language: key, ignoreIllegals: true }).value;
    } catch {
        return null;
    }
}
