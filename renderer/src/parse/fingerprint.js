// FNV-1a over UTF-16 code units, 32 bits, as 8 hex digits: the content
// fingerprint of a block.
/** @param {string} text */
export function fingerprint(text) {
    let hash = 0x811c9dc5;
    for (let i = 0; i < text.length; i++) {
        hash ^= text.charCodeAt(i);
        hash = Math.imul(hash, 0x01000193);
    }
    return (hash >>> 0).toString(16).padStart(8, '0');
}
