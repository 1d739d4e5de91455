// Heading ids, shared by the parse (which gives them) and the page (which
// still finds a heading by the id it had before).

import GithubSlugger, { slug } from 'github-slugger';

/**
 * A heading's id: the slug of its untrimmed text, so that the spaces a raw
 * tag or a badge leaves at either end become hyphens as in links written
 * for GitHub; "section" for a heading with nothing to slug. Repeats take
 * the slugger's "-1", "-2", ….
 * @param {GithubSlugger} slugger  one per document, fed every heading in order
 * @param {string} text  the heading's text as shown, trimmed
 * @param {string} raw  the same, untrimmed
 */
export function headingSlug(slugger, text, raw) {
    return slug(text) === '' ? slugger.slug('section') : slugger.slug(raw);
}

/**
 * The ids the headings had when they were slugged from their trimmed text
 * (links and places saved then), mapped to their ids now: only those that
 * differ, the first heading for an id.
 * @param {{text: string, id: string}[]} headings
 * @returns {Map<string, string>}
 */
export function trimmedIds(headings) {
    const slugger = new GithubSlugger();
    const ids = new Map();
    for (const heading of headings) {
        const former = headingSlug(slugger, heading.text, heading.text);
        if (former !== heading.id && !ids.has(former)) ids.set(former, heading.id);
    }
    return ids;
}
