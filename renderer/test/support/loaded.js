// parseDocument with all of highlight.js's languages and KaTeX loaded first,
// as they are in a worker once a document has needed them, so that tests
// can parse synchronously.

import { parseDocument } from '../../src/parse/document.js';
import { LANGUAGES } from '../../src/parse/languages.js';
import { MATH } from '../../src/parse/markdown.js';
import { loadNeeds } from '../../src/worker.js';

await loadNeeds(new Set([MATH, ...Object.keys(LANGUAGES)]));

export { parseDocument };
