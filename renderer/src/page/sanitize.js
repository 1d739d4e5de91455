// DOMPurify over the document's raw HTML and over diagram SVG.
//
// Raw HTML keeps what GitHub keeps: text markup, lists, tables, links,
// images, details. It loses scripts, event handlers, frames, forms, embedded
// objects, media, style elements and attributes, class attributes (so no page
// style can be borrowed), and its ids and names are prefixed with
// "user-content-". Images follow the page's image rules.

import createDOMPurify from 'dompurify';
import { classifyImage } from '../parse/images.js';

const FORBID_TAGS = [
    'script', 'style', 'link', 'meta', 'base', 'title', 'noscript', 'template', 'slot',
    'iframe', 'frame', 'frameset', 'object', 'embed', 'applet', 'portal', 'fencedframe',
    'form', 'input', 'button', 'textarea', 'select', 'option', 'optgroup', 'datalist',
    'fieldset', 'legend', 'label', 'output', 'meter', 'progress', 'keygen',
    'audio', 'video', 'source', 'track', 'picture', 'canvas', 'map', 'area',
    'dialog', 'menu', 'marquee', 'image', 'feimage', 'foreignobject', 'use',
];

const FORBID_ATTR = [
    'style', 'class', 'target', 'srcset', 'sizes', 'background', 'ping', 'formaction',
    'action', 'popover', 'popovertarget', 'popovertargetaction', 'contenteditable',
    'autofocus', 'tabindex', 'accesskey', 'usemap', 'ismap', 'loading', 'is',
];

// http, https, mailto and file addresses, and addresses without a scheme.
const ALLOWED_URI = /^(?:(?:https?|mailto|file):|[^a-z]|[a-z+.-]+(?:[^a-z+.\-:]|$))/i;

// Tags that GitHub's filter of raw HTML leaves as text: each would take the
// text after it as its own (raw text up to its end tag, or the rest of the
// block) and go with it, or was never kept. A slash ends a tag's name as a
// space does (`<textarea/x>` opens a textarea).
const FILTERED_TAGS = /<(?=\/?(?:title|textarea|style|xmp|iframe|noembed|noframes|script|plaintext)(?:[\t\n\f\r />]|$))/gi;

const URL_ATTRIBUTES = new Set(['href', 'xlink:href', 'src', 'action', 'data', 'poster', 'cite', 'longdesc']);

/**
 * @typedef {object} Sanitizer
 * @property {(html: string, documentID: string, counts: import('./state.js').ImageCounts,
 *     refusedReason?: string) => DocumentFragment} sanitizeHTML
 */

/**
 * @param {Window & typeof globalThis} win
 * @returns {Sanitizer}
 */
export function createSanitizer(win) {
    const purifier = createDOMPurify(win);
    let context = { documentID: '' };
    // An image's alternative text is only ever text here (the fragment is
    // never written out as markup and read again), yet DOMPurify drops an
    // attribute whose value reads like an end tag ("</xmp>"): the text is
    // kept aside and put back on the sanitised image.
    /** @type {WeakMap<Element, string>} */
    let altTexts = new WeakMap();

    purifier.addHook('uponSanitizeAttribute', (node, event) => {
        const tag = node.nodeName.toLowerCase();
        if (tag === 'img' && event.attrName === 'alt') {
            altTexts.set(node, event.attrValue);
            event.attrValue = '';
            return;
        }
        if (tag === 'img' && event.attrName === 'src') {
            const decision = classifyImage(event.attrValue, context.documentID);
            if (decision.kind === 'rejected') {
                event.keepAttr = false;
            } else {
                // A kept attribute is not rewritten by DOMPurify: set it here.
                node.setAttribute('src', decision.src);
                event.attrValue = decision.src;
                event.forceKeepAttr = true;
            }
            return;
        }
        // Outside links and images, only references inside the fragment.
        if (URL_ATTRIBUTES.has(event.attrName) && tag !== 'a' && tag !== 'img'
            && tag !== 'blockquote' && tag !== 'q' && tag !== 'del' && tag !== 'ins') {
            if (!String(event.attrValue).trim().startsWith('#')) event.keepAttr = false;
        }
    });

    /** @type {import('dompurify').Config & {RETURN_DOM_FRAGMENT: true}} */
    const config = {
        FORBID_TAGS,
        FORBID_ATTR,
        ALLOWED_URI_REGEXP: ALLOWED_URI,
        SANITIZE_NAMED_PROPS: true,
        ALLOW_DATA_ATTR: true,
        RETURN_DOM_FRAGMENT: true,
    };

    // Sanitises raw HTML to a fragment of the page's document. Counts the
    // images it met in counts {local, remote, rejected}; refused images show
    // their alternative text and `refusedReason`.
    /**
     * @param {string} html
     * @param {string} documentID
     * @param {import('./state.js').ImageCounts} counts
     * @param {string} [refusedReason]
     * @returns {DocumentFragment}
     */
    function sanitizeHTML(html, documentID, counts, refusedReason = '') {
        context = { documentID };
        let fragment;
        try {
            fragment = purifier.sanitize(html.replace(FILTERED_TAGS, '&lt;'), config);
        } finally {
            context = { documentID: '' };
        }
        const kept = altTexts;
        altTexts = new WeakMap();
        const doc = win.document;
        // Markup that replaces the whole document (a frameset) leaves nothing.
        if (!fragment || typeof fragment.querySelectorAll !== 'function') return doc.createDocumentFragment();
        for (const img of Array.from(fragment.querySelectorAll('img'))) {
            const alt = kept.get(img);
            if (alt !== undefined) img.setAttribute('alt', alt);
            const src = img.getAttribute('src') ?? '';
            if (src.startsWith('document-resource:')) {
                counts.local += 1;
            } else if (/^https?:/i.test(src)) {
                counts.remote += 1;
                img.setAttribute('referrerpolicy', 'no-referrer');
            } else {
                counts.rejected += 1;
                const span = doc.createElement('span');
                span.className = 'md-image-rejected';
                span.textContent = img.getAttribute('alt') ?? '';
                if (refusedReason) span.setAttribute('data-reason', refusedReason);
                img.replaceWith(span);
                continue;
            }
            img.setAttribute('loading', 'lazy');
            img.setAttribute('decoding', 'async');
        }
        return doc.importNode(fragment, true);
    }

    return { sanitizeHTML };
}

// Diagram SVG: scripts, handlers, external references and foreign content go;
// the SVG's own style sheet stays but is kept to itself by a shadow root.
/** @param {Window & typeof globalThis} win */
export function createSVGSanitizer(win) {
    const purifier = createDOMPurify(win);
    purifier.addHook('uponSanitizeAttribute', (node, event) => {
        const tag = node.nodeName.toLowerCase();
        if ((event.attrName === 'href' || event.attrName === 'xlink:href') && tag !== 'a') {
            if (!String(event.attrValue).trim().startsWith('#')) event.keepAttr = false;
        }
        if (event.attrName === 'style' && /url\s*\(|expression|@import|javascript:/i.test(event.attrValue)) {
            event.keepAttr = false;
        }
    });
    const config = {
        USE_PROFILES: { svg: true, svgFilters: true },
        ADD_TAGS: ['style'],
        FORBID_TAGS: ['script', 'foreignObject', 'image', 'feImage', 'iframe', 'object', 'embed', 'use'],
        FORBID_ATTR: ['target', 'ping'],
        ALLOWED_URI_REGEXP: ALLOWED_URI,
        SANITIZE_NAMED_PROPS: false,
        RETURN_DOM_FRAGMENT: true,
    };

    /** @param {string | null} text */
    function cleanStyleSheet(text) {
        return String(text)
            .replace(/@import[^;]*;?/gi, '')
            .replace(/:host(-context)?/gi, ':not(*)')
            .replace(/url\s*\(\s*(['"]?)(?!#)[^)]*\)/gi, 'none')
            .replace(/expression\s*\(/gi, '(');
    }

    /**
     * @param {string} svgText
     * @returns {SVGSVGElement | null}
     */
    function sanitizeSVG(svgText) {

        const fragment = /** @type {DocumentFragment | null} */ (/** @type {unknown} */ (purifier.sanitize(String(svgText), config)));
        if (!fragment || typeof fragment.querySelectorAll !== 'function') return null;
        for (const style of Array.from(fragment.querySelectorAll('style'))) {
            style.textContent = cleanStyleSheet(style.textContent);
        }
        const svg = fragment.querySelector('svg');
        return svg ? win.document.importNode(svg, true) : null;
    }

    return { sanitizeSVG, cleanStyleSheet };
}
