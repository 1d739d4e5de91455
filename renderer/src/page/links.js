// @ts-check
// Clicks on links never navigate: the page reports the destination exactly as
// the document wrote it and the reader decides what to do.

const XLINK = 'http://www.w3.org/1999/xlink';

/** @param {string} href */
export function linkKind(href) {
    const text = href.trim();
    if (text.startsWith('#')) return 'fragment';
    if (/^file:/i.test(text) || text.startsWith('/')) return 'file';
    if (/^[a-z][a-z0-9+.-]*:/i.test(text)) return 'external';
    return 'relative';
}

// The raw destination of a link element (HTML or SVG), or null.
/**
 * @param {Element} element
 * @returns {string | null}
 */
export function rawHref(element) {
    const href = element.getAttribute('href');
    if (href !== null) return href;
    return element.getAttributeNS ? element.getAttributeNS(XLINK, 'href') : null;
}

/**
 * @param {Event} event
 * @returns {Element | null}
 */
function findLink(event) {
    const path = typeof event.composedPath === 'function' ? event.composedPath() : [];
    const candidates = path.length > 0 ? path : [event.target];
    for (const target of candidates) {
        const node = /** @type {Element | null} */ (target);
        if (!node || node.nodeType !== 1) continue;
        if (node.localName === 'a' && rawHref(node) !== null) return node;
    }
    const target = /** @type {Element | null} */ (event.target);
    if (target && typeof target.closest === 'function') {
        const link = target.closest('a');
        if (link && rawHref(link) !== null) return link;
    }
    return null;
}

// Installs the click handlers; onLink({href, kind, modifiers}) and
// onCopy(text, kind) receive what the reader must hear about.
/**
 * @param {Document} doc
 * @param {object} handlers
 * @param {(link: import('../protocol.js').EventPayload<'openLink'>) => void} handlers.onLink
 * @param {(text: string, kind: string) => void} handlers.onCopy
 * @returns {() => void}  removes the handlers
 */
export function installLinkHandling(doc, { onLink, onCopy }) {
    /** @param {any} event  a click or an auxiliary click */
    const handle = (event) => {
        const copy = event.type === 'click' && event.target?.closest?.('button.md-copy');
        if (copy) {
            event.preventDefault();
            const code = copy.parentElement?.querySelector('code');
            if (code) onCopy(code.textContent ?? '', 'code');
            return;
        }
        const link = findLink(event);
        if (!link) return;
        event.preventDefault();
        // Only the primary and the middle button open a link.
        if (event.type === 'auxclick' && event.button !== 1) return;
        // findLink only gives links that have a destination.
        const href = rawHref(link) ?? '';
        onLink({
            href,
            kind: linkKind(href),
            modifiers: {
                command: Boolean(event.ctrlKey || event.metaKey),
                option: Boolean(event.altKey),
                shift: Boolean(event.shiftKey),
            },
        });
    };
    doc.addEventListener('click', handle, true);
    doc.addEventListener('auxclick', handle, true);
    return () => {
        doc.removeEventListener('click', handle, true);
        doc.removeEventListener('auxclick', handle, true);
    };
}
