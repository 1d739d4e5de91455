// @ts-check
// An image that did not load (the reader refused the file, or a remote
// address failed) gives way to its alternative text and the reason, in the
// page's style, instead of the browser's broken-image box.

/**
 * @param {Document} doc
 * @param {HTMLImageElement} img
 * @param {{imageUnavailable: string, imageNotLoaded: string}} texts
 * @returns {HTMLElement}  what took the image's place
 */
export function showUnavailableImage(doc, img, texts) {
    const local = (img.getAttribute('src') ?? '').startsWith('document-resource:');
    const span = doc.createElement('span');
    span.className = 'md-image-unavailable';
    span.textContent = img.getAttribute('alt') ?? '';
    span.setAttribute('data-reason', local ? texts.imageUnavailable : texts.imageNotLoaded);
    // The address it stood for, kept for whoever checks what the page showed.
    span.setAttribute('data-src', img.src);
    const title = img.getAttribute('title');
    if (title) span.setAttribute('title', title);
    img.replaceWith(span);
    return span;
}
