// Where an image of the document may come from. Local files go through the
// reader's document-resource scheme; http and https images load as they are
// and are counted as remote; anything else (data:, other schemes, addresses
// that would resolve against the page itself) is refused.

const SCHEME = /^([a-z][a-z0-9+.-]*):/i;

/** @param {string} text */
function safeDecode(text) {
    try {
        return decodeURIComponent(text);
    } catch {
        return text;
    }
}

// The image URL for a local path, exactly as the reader's scheme expects it.
/**
 * @param {string} documentID
 * @param {string} path
 */
export function documentResourceURL(documentID, path) {
    return `document-resource://${encodeURIComponent(documentID)}/?path=${encodeURIComponent(path)}`;
}

/**
 * @param {unknown} rawSource
 * @param {string} documentID
 * @returns {{kind: 'local' | 'remote', src: string} | {kind: 'rejected'}}
 */
export function classifyImage(rawSource, documentID) {
    const source = String(rawSource ?? '').trim();
    // Browsers drop tabs and line breaks inside addresses; judge the scheme
    // the way they would read it.
    const compact = source.replace(/[\u0000-\u0020]/g, '');
    if (compact === '') return { kind: 'rejected' };

    const scheme = SCHEME.exec(compact);
    if (scheme) {
        const name = scheme[1].toLowerCase();
        if (name === 'http' || name === 'https') return { kind: 'remote', src: source };
        if (name === 'file') {
            const match = /^file:(?:\/\/([^/]*))?(\/[^?#]*)/i.exec(compact);
            if (!match) return { kind: 'rejected' };
            const host = (match[1] ?? '').toLowerCase();
            if (host !== '' && host !== 'localhost') return { kind: 'rejected' };
            return { kind: 'local', src: documentResourceURL(documentID, safeDecode(match[2])) };
        }
        return { kind: 'rejected' };
    }
    // "//host/x" would resolve against the page's own scheme.
    if (compact.startsWith('//') || compact.startsWith('\\\\')) return { kind: 'rejected' };

    const path = source.replace(/[?#].*$/s, '');
    if (path === '') return { kind: 'rejected' };
    return { kind: 'local', src: documentResourceURL(documentID, safeDecode(path)) };
}
