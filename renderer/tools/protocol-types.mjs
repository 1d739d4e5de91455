// Writes src/protocol.d.ts: the payload of every request, reply and event,
// read from protocol.json (which messages there are, which reply answers
// which request) and the golden envelopes in test/golden/ (what each one
// carries). A key that some envelope of a type lacks is optional; the few
// shapes an example cannot show (open-ended maps, values that may be
// missing, element types of lists that are empty in every example) are
// given in SHAPES below.
//
//   node tools/protocol-types.mjs          writes the file
//   node tools/protocol-types.mjs --check  fails when the file is stale
//
// test/protocol-types.test.js runs the check with `npm test`.

import { readFile, readdir, writeFile } from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(path.dirname(fileURLToPath(import.meta.url)));
export const TABLE_PATH = path.join(here, 'src', 'protocol.json');
export const GOLDEN_DIR = path.join(here, 'test', 'golden');
export const OUTPUT_PATH = path.join(here, 'src', 'protocol.d.ts');

// Shapes that examples cannot show, by message type and key path. `type`
// replaces what the examples give; `optional` marks a key that a correct
// message may leave out.
export const SHAPES = {
    'setTheme.tokens': { type: 'Record<string, string>' },
    'typographyApplied.rejected': { type: 'string[]' },
    // No theme yet: the host draws with its default theme.
    'diagramRequest.themeVariables': { type: 'Record<string, string | boolean | null> | null' },
    // Nothing rendered yet: there is no place to capture.
    'anchor.anchor': { optional: true },
    // Only a position that could not be restored gives a reason.
    'anchorRestored.reason': { optional: true },
};

/**
 * @typedef {{kind: 'null' | 'string' | 'number' | 'boolean' | 'unknown'}
 *   | {kind: 'array', element: Shape | null}
 *   | {kind: 'object', keys: Map<string, {shape: Shape, seen: number}>, count: number}
 *   | {kind: 'union', members: Shape[]}} Shape
 */

/**
 * @param {unknown} value
 * @returns {Shape}
 */
function shapeOf(value) {
    if (value === null) return { kind: 'null' };
    if (Array.isArray(value)) {
        /** @type {Shape | null} */
        let element = null;
        for (const item of value) element = element ? merge(element, shapeOf(item)) : shapeOf(item);
        return { kind: 'array', element };
    }
    if (typeof value === 'object') {
        const keys = new Map();
        for (const [key, item] of Object.entries(value)) keys.set(key, { shape: shapeOf(item), seen: 1 });
        return { kind: 'object', keys, count: 1 };
    }
    if (typeof value === 'string' || typeof value === 'number' || typeof value === 'boolean') return { kind: typeof value };
    throw new Error(`a golden envelope holds a value JSON cannot: ${String(value)}`);
}

/**
 * Two examples of the same place: an object's key missing from one of them
 * becomes optional, differing kinds become a union.
 * @param {Shape} a
 * @param {Shape} b
 * @returns {Shape}
 */
function merge(a, b) {
    if (a.kind === 'union') {
        const members = [...a.members];
        const at = members.findIndex((m) => m.kind === b.kind);
        if (at >= 0) members[at] = merge(members[at], b);
        else members.push(b);
        return { kind: 'union', members };
    }
    if (b.kind === 'union') return merge(b, a);
    if (a.kind !== b.kind) return { kind: 'union', members: [a, b] };
    if (a.kind === 'array' && b.kind === 'array') {
        const element = a.element && b.element ? merge(a.element, b.element) : (a.element ?? b.element);
        return { kind: 'array', element };
    }
    if (a.kind === 'object' && b.kind === 'object') {
        const keys = new Map(a.keys);
        for (const [key, entry] of b.keys) {
            const known = keys.get(key);
            keys.set(key, known ? { shape: merge(known.shape, entry.shape), seen: known.seen + entry.seen } : entry);
        }
        return { kind: 'object', keys, count: a.count + b.count };
    }
    return a;
}

const IDENTIFIER = /^[A-Za-z_$][\w$]*$/;

/**
 * @param {Shape} shape
 * @param {string} where  message type and key path, as in SHAPES
 * @param {string} indent
 * @param {Record<string, {type?: string, optional?: boolean}>} shapes
 * @returns {string}
 */
function render(shape, where, indent, shapes) {
    switch (shape.kind) {
    case 'union':
        return shape.members.map((m) => render(m, where, indent, shapes)).join(' | ');
    case 'array': {
        if (!shape.element) throw new Error(`${where} is an empty list in every golden envelope: give its shape in SHAPES`);
        const element = render(shape.element, where, indent, shapes);
        return /[ |]/.test(element) && !element.startsWith('{') ? `(${element})[]` : `${element}[]`;
    }
    case 'object': {
        if (shape.keys.size === 0) return 'Record<string, never>';
        const inner = `${indent}    `;
        const lines = [...shape.keys].sort(([x], [y]) => (x < y ? -1 : x > y ? 1 : 0)).map(([key, entry]) => {
            const at = `${where}.${key}`;
            const given = shapes[at];
            const optional = given?.optional || entry.seen < shape.count;
            const type = given?.type ?? render(entry.shape, at, inner, shapes);
            const name = IDENTIFIER.test(key) ? key : JSON.stringify(key);
            return `${inner}${name}${optional ? '?' : ''}: ${type};`;
        });
        return `{\n${lines.join('\n')}\n${indent}}`;
    }
    default:
        return shape.kind;
    }
}

/**
 * The text of protocol.d.ts for this table and these golden files.
 * @param {{protocolVersion: number, envelopeKeys: string[], messageTypes: string[],
 *   requests: Record<string, string>, events: string[]}} table
 * @param {unknown[]} goldenFiles  each file's parsed JSON
 * @param {Record<string, {type?: string, optional?: boolean}>} [shapes]  as SHAPES
 * @returns {string}
 */
export function generate(table, goldenFiles, shapes = SHAPES) {
    /** @type {Map<string, Shape>} */
    const payloads = new Map();
    for (const file of goldenFiles) {
        for (const envelope of Object.values(/** @type {Record<string, any>} */ (file))) {
            const type = envelope?.type;
            if (typeof type !== 'string' || !table.messageTypes.includes(type)) {
                throw new Error(`a golden envelope has an unknown type: ${String(type)}`);
            }
            const shape = shapeOf(envelope.payload);
            const known = payloads.get(type);
            payloads.set(type, known ? merge(known, shape) : shape);
        }
    }
    const used = [...new Set([...Object.keys(table.requests), ...Object.values(table.requests), ...table.events])];
    for (const type of used) {
        if (!payloads.has(type)) throw new Error(`no golden envelope shows a "${type}" message`);
    }
    for (const where of Object.keys(shapes)) {
        if (!payloads.has(where.split('.')[0])) throw new Error(`SHAPES names a message without golden envelopes: ${where}`);
    }
    const quote = (/** @type {string} */ text) => `'${text}'`;
    const lines = [
        '// Generated by tools/protocol-types.mjs from protocol.json and test/golden/;',
        '// do not edit: change those and run `node tools/protocol-types.mjs`.',
        '',
        `export type ProtocolVersion = ${table.protocolVersion};`,
        '',
        `export type MessageType = ${table.messageTypes.map(quote).join(' | ')};`,
        '',
        '/** The payload of each message the page receives or sends. */',
        'export interface Payloads {',
    ];
    for (const type of used) {
        lines.push(`    ${type}: ${render(/** @type {Shape} */ (payloads.get(type)), type, '    ', shapes)};`);
    }
    lines.push('}', '', '/** Each request, with the reply that answers it. */', 'export interface Replies {');
    for (const [request, reply] of Object.entries(table.requests)) lines.push(`    ${request}: ${quote(reply)};`);
    lines.push(
        '}',
        '',
        'export type RequestType = keyof Replies;',
        `export type EventType = ${table.events.map(quote).join(' | ')};`,
        'export type RequestPayload<T extends RequestType> = Payloads[T];',
        'export type ReplyPayload<T extends RequestType> = Payloads[Replies[T]];',
        'export type EventPayload<T extends EventType> = Payloads[T];',
        '',
        '/** A message as it crosses between the reader and the page. */',
        'export interface Envelope<T extends keyof Payloads = keyof Payloads> {',
    );
    for (const key of table.envelopeKeys) {
        const type = key === 'protocolVersion' ? 'ProtocolVersion'
            : key === 'type' ? 'T'
            : key === 'payload' ? 'Payloads[T]'
            : key === 'sourceRevision' || key === 'renderGeneration' ? 'number' : 'string';
        lines.push(`    ${key}: ${type};`);
    }
    lines.push('}', '');
    return lines.join('\n');
}

/** @returns {Promise<string>} the text protocol.d.ts should hold */
export async function expected() {
    const table = JSON.parse(await readFile(TABLE_PATH, 'utf8'));
    const names = (await readdir(GOLDEN_DIR)).filter((name) => name.endsWith('.json')).sort();
    const files = await Promise.all(names.map(async (name) => JSON.parse(await readFile(path.join(GOLDEN_DIR, name), 'utf8'))));
    return generate(table, files);
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
    const text = await expected();
    if (process.argv.includes('--check')) {
        const current = await readFile(OUTPUT_PATH, 'utf8').catch(() => '');
        if (current !== text) {
            console.error('src/protocol.d.ts is stale: run `node tools/protocol-types.mjs`');
            process.exit(1);
        }
    } else {
        await writeFile(OUTPUT_PATH, text);
    }
}
