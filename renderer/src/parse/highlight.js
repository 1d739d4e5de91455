// highlight.js with the languages that documents name most often. Only a
// fence that names one of them (or one of its aliases) is highlighted; there
// is never automatic detection.

import hljs from 'highlight.js/lib/core';
import lang_xml from 'highlight.js/lib/languages/xml';
import lang_bash from 'highlight.js/lib/languages/bash';
import lang_c from 'highlight.js/lib/languages/c';
import lang_cpp from 'highlight.js/lib/languages/cpp';
import lang_csharp from 'highlight.js/lib/languages/csharp';
import lang_css from 'highlight.js/lib/languages/css';
import lang_markdown from 'highlight.js/lib/languages/markdown';
import lang_diff from 'highlight.js/lib/languages/diff';
import lang_ruby from 'highlight.js/lib/languages/ruby';
import lang_go from 'highlight.js/lib/languages/go';
import lang_graphql from 'highlight.js/lib/languages/graphql';
import lang_ini from 'highlight.js/lib/languages/ini';
import lang_java from 'highlight.js/lib/languages/java';
import lang_javascript from 'highlight.js/lib/languages/javascript';
import lang_json from 'highlight.js/lib/languages/json';
import lang_kotlin from 'highlight.js/lib/languages/kotlin';
import lang_less from 'highlight.js/lib/languages/less';
import lang_lua from 'highlight.js/lib/languages/lua';
import lang_makefile from 'highlight.js/lib/languages/makefile';
import lang_perl from 'highlight.js/lib/languages/perl';
import lang_objectivec from 'highlight.js/lib/languages/objectivec';
import lang_php from 'highlight.js/lib/languages/php';
import lang_php_template from 'highlight.js/lib/languages/php-template';
import lang_plaintext from 'highlight.js/lib/languages/plaintext';
import lang_python from 'highlight.js/lib/languages/python';
import lang_python_repl from 'highlight.js/lib/languages/python-repl';
import lang_r from 'highlight.js/lib/languages/r';
import lang_rust from 'highlight.js/lib/languages/rust';
import lang_scss from 'highlight.js/lib/languages/scss';
import lang_shell from 'highlight.js/lib/languages/shell';
import lang_sql from 'highlight.js/lib/languages/sql';
import lang_swift from 'highlight.js/lib/languages/swift';
import lang_yaml from 'highlight.js/lib/languages/yaml';
import lang_typescript from 'highlight.js/lib/languages/typescript';
import lang_vbnet from 'highlight.js/lib/languages/vbnet';
import lang_wasm from 'highlight.js/lib/languages/wasm';
import lang_apache from 'highlight.js/lib/languages/apache';
import lang_awk from 'highlight.js/lib/languages/awk';
import lang_clojure from 'highlight.js/lib/languages/clojure';
import lang_cmake from 'highlight.js/lib/languages/cmake';
import lang_dart from 'highlight.js/lib/languages/dart';
import lang_dockerfile from 'highlight.js/lib/languages/dockerfile';
import lang_elixir from 'highlight.js/lib/languages/elixir';
import lang_erlang from 'highlight.js/lib/languages/erlang';
import lang_fortran from 'highlight.js/lib/languages/fortran';
import lang_fsharp from 'highlight.js/lib/languages/fsharp';
import lang_groovy from 'highlight.js/lib/languages/groovy';
import lang_haskell from 'highlight.js/lib/languages/haskell';
import lang_http from 'highlight.js/lib/languages/http';
import lang_julia from 'highlight.js/lib/languages/julia';
import lang_latex from 'highlight.js/lib/languages/latex';
import lang_lisp from 'highlight.js/lib/languages/lisp';
import lang_llvm from 'highlight.js/lib/languages/llvm';
import lang_matlab from 'highlight.js/lib/languages/matlab';
import lang_nginx from 'highlight.js/lib/languages/nginx';
import lang_nix from 'highlight.js/lib/languages/nix';
import lang_ocaml from 'highlight.js/lib/languages/ocaml';
import lang_pgsql from 'highlight.js/lib/languages/pgsql';
import lang_powershell from 'highlight.js/lib/languages/powershell';
import lang_properties from 'highlight.js/lib/languages/properties';
import lang_protobuf from 'highlight.js/lib/languages/protobuf';
import lang_scala from 'highlight.js/lib/languages/scala';
import lang_scheme from 'highlight.js/lib/languages/scheme';
import lang_tcl from 'highlight.js/lib/languages/tcl';
import lang_vim from 'highlight.js/lib/languages/vim';
import lang_x86asm from 'highlight.js/lib/languages/x86asm';
import lang_armasm from 'highlight.js/lib/languages/armasm';
import lang_verilog from 'highlight.js/lib/languages/verilog';
import lang_vhdl from 'highlight.js/lib/languages/vhdl';

/** @type {Record<string, (hljs: any) => any>} */
const LANGUAGES = {
    'xml': lang_xml,
    'bash': lang_bash,
    'c': lang_c,
    'cpp': lang_cpp,
    'csharp': lang_csharp,
    'css': lang_css,
    'markdown': lang_markdown,
    'diff': lang_diff,
    'ruby': lang_ruby,
    'go': lang_go,
    'graphql': lang_graphql,
    'ini': lang_ini,
    'java': lang_java,
    'javascript': lang_javascript,
    'json': lang_json,
    'kotlin': lang_kotlin,
    'less': lang_less,
    'lua': lang_lua,
    'makefile': lang_makefile,
    'perl': lang_perl,
    'objectivec': lang_objectivec,
    'php': lang_php,
    'php-template': lang_php_template,
    'plaintext': lang_plaintext,
    'python': lang_python,
    'python-repl': lang_python_repl,
    'r': lang_r,
    'rust': lang_rust,
    'scss': lang_scss,
    'shell': lang_shell,
    'sql': lang_sql,
    'swift': lang_swift,
    'yaml': lang_yaml,
    'typescript': lang_typescript,
    'vbnet': lang_vbnet,
    'wasm': lang_wasm,
    'apache': lang_apache,
    'awk': lang_awk,
    'clojure': lang_clojure,
    'cmake': lang_cmake,
    'dart': lang_dart,
    'dockerfile': lang_dockerfile,
    'elixir': lang_elixir,
    'erlang': lang_erlang,
    'fortran': lang_fortran,
    'fsharp': lang_fsharp,
    'groovy': lang_groovy,
    'haskell': lang_haskell,
    'http': lang_http,
    'julia': lang_julia,
    'latex': lang_latex,
    'lisp': lang_lisp,
    'llvm': lang_llvm,
    'matlab': lang_matlab,
    'nginx': lang_nginx,
    'nix': lang_nix,
    'ocaml': lang_ocaml,
    'pgsql': lang_pgsql,
    'powershell': lang_powershell,
    'properties': lang_properties,
    'protobuf': lang_protobuf,
    'scala': lang_scala,
    'scheme': lang_scheme,
    'tcl': lang_tcl,
    'vim': lang_vim,
    'x86asm': lang_x86asm,
    'armasm': lang_armasm,
    'verilog': lang_verilog,
    'vhdl': lang_vhdl,
};

for (const [name, definition] of Object.entries(LANGUAGES)) hljs.registerLanguage(name, definition);

// A language name fit to appear in a class attribute.
export const SAFE_LANGUAGE = /^[A-Za-z0-9_+#.-]{1,40}$/;

/** @param {string} name */
export function knownLanguage(name) {
    return SAFE_LANGUAGE.test(name) && hljs.getLanguage(name) !== undefined;
}

// Highlighted HTML of the code, or null when the language is unknown.
/**
 * @param {string} code
 * @param {string} language
 * @returns {string | null}
 */
export function highlightCode(code, language) {

    if (!knownLanguage(language)) return null;
    try {
        return hljs.highlight(code, { language, ignoreIllegals: true }).value;
    } catch {
        return null;
    }
}
