#!/usr/bin/env python3
"""Names in the docs exist.

Every backticked name in the docs (README.md, docs/**/*.md and the README.md
of every folder) must still name something:

- A path (it holds a '/' or ends in a file extension) exists in the
  repository, relative to the README's folder, to the repository's root, to
  src/ or to the README folder's src/; a file may be named without its
  extension (`Desktop/SaveFileChooser`). A path with a folder may also be the
  tail of a path in the repository (`page/view.js`); a bare file name
  (`build.mjs`) may be any file's name. Paths the build makes (under build/,
  dist/, share/) and content types (`text/markdown`) are not checked.
- A name of code, that is a CamelCase word, a name with an underscore, a
  qualified `A::b` or a call `name()` / `name(args)`, appears as a token in
  the sources: C++ (comments left out), the reading page's JavaScript, the
  CMake files and the scripts. In `A::b`, `b` must be written as `A::b`
  somewhere or appear in a file that declares `A` or is named after it. Names of the libraries we build on (GTK,
  GLib, libadwaita, WebKit, Pango, the C++ standard library) are not checked.

Plain words, texts and dotted expressions are left alone.

The README.md of a folder of src/ or renderer/ (a map of the code) stays
within 3 KB: what a folder holds and the decisions its headers cannot show,
to the point.

Exits 1 and prints file:line: the missing name, for each one.
"""
import os
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# Where README.md files count as docs, besides README.md and docs/.
DOC_FOLDERS = ("src", "tests", "bench", "fuzz", "renderer", "scripts", "data")
SKIP_FOLDERS = {"node_modules", "build", "dist", ".git"}

EXTENSIONS = {"md", "cpp", "hpp", "h", "c", "in", "js", "mjs", "cjs", "ts", "json", "py",
              "sh", "txt", "html", "css", "svg", "png", "xml", "desktop", "supp", "yml",
              "yaml", "cmake", "lock", "cfg", "toml"}
# Made by the build, or installed: not in the repository.
GENERATED = ("build/", "dist/", "dist-bench/", "renderer/dist", "share/")
CONTENT_TYPE = re.compile(r"^(text|application|image|audio|video|font|inode|multipart)/[\w.+-]+$")
# Names that are not ours, so not in our sources.
FOREIGN = re.compile(r"^(std::|Gtk|Gdk|Gsk|Adw|WebKit|Jsc|JSC|Pango|G[A-Z][a-z]|g_|gtk_|gdk_|adw_|"
                     r"webkit_|jsc_|pango_|soup_|xml|pcre2_|G_|GSK_|GDK_|GTK_|GL_|WEBKIT_|O_)")
# Words of others that look like code: a locale name, a GLib parameter.
ALLOWED = {"zh_Hans", "user_data"}

IDENTIFIER = r"~?[A-Za-z_]\w*"
CODE_NAME = re.compile(rf"^(?P<name>{IDENTIFIER}(?:::{IDENTIFIER})*)(?P<call>\(.*\))?$")
SPAN = re.compile(r"(`+)(.+?)\1", re.S)
FENCE = re.compile(r"^\s*(```|~~~)")

CPP_SUFFIXES = {".cpp", ".hpp", ".h", ".c", ".in"}
OTHER_SOURCE_SUFFIXES = {".js", ".mjs", ".cjs", ".ts", ".py", ".sh", ".txt", ".cmake", ".json"}
CPP_COMMENTS = re.compile(r'//[^\n]*|/\*.*?\*/|R"(\w*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"', re.S)


def repository_files():
    try:
        listed = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=ROOT,
                                check=True, capture_output=True, text=True).stdout.splitlines()
        return [name for name in listed if (ROOT / name).is_file()]
    except (OSError, subprocess.CalledProcessError):
        found = []
        for folder, dirs, files in os.walk(ROOT):
            dirs[:] = [d for d in dirs if d not in SKIP_FOLDERS]
            found += [os.path.relpath(os.path.join(folder, f), ROOT) for f in files]
        return found


def doc_files(files):
    docs = []
    for name in files:
        parts = name.split("/")
        if any(part in SKIP_FOLDERS for part in parts):
            continue
        if name == "README.md" or (parts[0] == "docs" and name.endswith(".md")) or \
                (parts[0] in DOC_FOLDERS and parts[-1] == "README.md"):
            docs.append(name)
    return sorted(docs)


DECLARATION = re.compile(r"\b(?:class|struct|namespace|union|enum(?:\s+class|\s+struct)?)\s+"
                         r"(?:\[\[[^\]]*\]\]\s*)?(\w+)")
QUALIFIED = re.compile(r"(\w+)\s*::\s*(~?\w+)")


class Sources:
    """The tokens of the sources, which scope holds which names, and the
    names CMake makes."""

    def __init__(self):
        self.tokens = set()
        self.pairs = set()   # (scope, name) written as scope::name
        self.scopes = {}     # scope -> the tokens of the files that declare it or bear its name
        self.patterns = []
        self._made = None

    def add(self, name, text):
        path = pathlib.PurePosixPath(name)
        if path.suffix in CPP_SUFFIXES:
            # Strings stay (texts, keys); comments go: a name only a comment
            # still mentions is gone from the code.
            text = CPP_COMMENTS.sub(lambda m: m.group(0) if m.group(0).startswith(('"', 'R"')) else " ",
                                    text)
        found = set(re.findall(r"~?\w+", text))
        self.tokens |= found
        self.tokens.add(path.stem)  # test and benchmark names follow their files
        if path.suffix in CPP_SUFFIXES:
            self.pairs.update(QUALIFIED.findall(text))
            for scope in set(DECLARATION.findall(text)) | {path.stem}:
                self.scopes.setdefault(scope, set()).update(found)
        if path.name == "CMakeLists.txt":
            # Names CMake makes (`larkspin_${_bench}_bench`), as patterns.
            self.patterns += re.findall(r"[\w${}]*\$\{\w+\}[\w${}]*", text)
        self._made = None

    def made_by_cmake(self, name):
        if self._made is None:
            # A pattern needs a fixed part of its own: `${name}` alone matches anything.
            kept = sorted({re.sub(r"\$\{\w+\}", r"\\w+", p) for p in self.patterns
                           if len(re.sub(r"\$\{\w+\}", "", p)) >= 4})
            self._made = re.compile("|".join(kept) or "(?!)")
        return self._made.fullmatch(name) is not None

    def knows(self, name):
        return name in self.tokens or name in ALLOWED or FOREIGN.match(name) or self.made_by_cmake(name)

    def has_member(self, scope, name):
        return (scope, name) in self.pairs or name in self.scopes.get(scope, ())


def read_sources(files):
    sources = Sources()
    for name in files:
        path = pathlib.PurePosixPath(name)
        if any(part in SKIP_FOLDERS for part in path.parts) or name.startswith("renderer/test/golden"):
            continue
        if path.suffix not in CPP_SUFFIXES and path.suffix not in OTHER_SOURCE_SUFFIXES and \
                path.name != "CMakeLists.txt":
            continue
        sources.add(name, (ROOT / name).read_text(encoding="utf-8", errors="replace"))
    return sources


class Paths:
    def __init__(self, files):
        self.files = set(files)
        self.folders = {str(parent) for name in files
                        for parent in pathlib.PurePosixPath(name).parents if str(parent) != "."}
        self.stems = {str(pathlib.PurePosixPath(name).with_suffix("")) for name in files}
        self.names = {pathlib.PurePosixPath(name).name for name in files}
        everything = self.files | self.folders | self.stems
        self.tails = set()
        for entry in everything:
            parts = entry.split("/")
            for start in range(1, len(parts)):
                self.tails.add("/".join(parts[start:]))

    def known(self, candidate):
        return candidate in self.files or candidate in self.folders or candidate in self.stems

    def exists(self, span, doc):
        relative = span.strip("/")
        if not relative or relative == ".":
            return True
        bases = ["", str(pathlib.PurePosixPath(doc).parent), "src"]
        bases.append(str(pathlib.PurePosixPath(doc).parent / "src"))
        for base in bases:
            joined = os.path.normpath(os.path.join(base, relative)) if base not in ("", ".") else \
                os.path.normpath(relative)
            if self.known(joined):
                return True
        if "/" in span:
            return relative in self.tails
        return relative in self.names


def is_path(span):
    if any(c.isspace() for c in span) or any(c in span for c in "<>*…()$~@,:'\"|"):
        return False
    if span.startswith("/") or span.startswith("-") or CONTENT_TYPE.match(span) or \
            re.match(r"^\.\w+$", span):
        return False
    if "/" in span:
        return re.search(r"[A-Za-z]", span) is not None
    match = re.search(r"\.([A-Za-z0-9]+)$", span)
    return bool(match) and match.group(1) in EXTENSIONS and re.match(r"^[\w.+-]+$", span) is not None


def is_code_name(name):
    # Plain lower-case words (`later`, `delete`) and ALLCAPS words are texts
    # or keys; a name of code has a hump, an underscore or a qualifier.
    return "::" in name or "_" in name or re.search(r"[a-z][A-Z]|^[A-Z][a-z]+[A-Z]|^[A-Z][a-z0-9]*$", name)


def code_names(span):
    span = re.sub(r"<[^<>]*>", "", span)  # template arguments
    match = CODE_NAME.match(span)
    if not match:
        return []
    name = match.group("name")
    if FOREIGN.match(name):
        return []
    if not (match.group("call") or is_code_name(name)):
        return []
    return [part.lstrip("~") for part in name.split("::")]


def spans_of(text):
    """(line, span) for each backticked span outside fenced blocks."""
    lines = text.split("\n")
    kept = []
    fenced = False
    for line in lines:
        if FENCE.match(line):
            fenced = not fenced
            kept.append("")
            continue
        kept.append("" if fenced else line)
    body = "\n".join(kept)
    for match in SPAN.finditer(body):
        line = body.count("\n", 0, match.start()) + 1
        span = re.sub(r"\s+", " ", match.group(2).strip())
        span = re.sub(r"::\s+", "::", span)
        yield line, span


def problems_in(doc, text, paths, sources):
    """file:line: reason for each backticked name of `text` (the doc at
    `doc`, relative to the root) that does not exist."""
    problems = []
    for line, span in spans_of(text):
        if is_path(span):
            if not span.startswith(GENERATED) and not paths.exists(span, doc):
                problems.append(f"{doc}:{line}: no file or folder `{span}`")
            continue
        parts = code_names(span)
        missing = [name for name in parts if name and not sources.knows(name)]
        for name in missing:
            problems.append(f"{doc}:{line}: `{name}` (in `{span}`) is not in the sources")
        if missing:
            continue
        for scope, name in zip(parts, parts[1:]):
            if not sources.has_member(scope, name):
                problems.append(f"{doc}:{line}: `{scope}` has no `{name}` (in `{span}`)")
    return problems


# Folder maps held to a size: the README.md files of these folders and below.
SIZED_FOLDERS = ("src", "renderer")
FOLDER_README_LIMIT = 3 * 1024


def size_problem(doc, size):
    """The problem with a doc of `size` bytes at `doc`, if it is a folder map over the limit."""
    parts = doc.split("/")
    if parts[0] in SIZED_FOLDERS and parts[-1] == "README.md" and size > FOLDER_README_LIMIT:
        return f"{doc}: {size} bytes, over the {FOLDER_README_LIMIT} a folder README may take"
    return None


def main():
    files = repository_files()
    paths = Paths(files)
    sources = read_sources(files)
    problems = []
    for doc in doc_files(files):
        text = (ROOT / doc).read_text(encoding="utf-8")
        problems += problems_in(doc, text, paths, sources)
        too_long = size_problem(doc, len(text.encode("utf-8")))
        if too_long:
            problems.append(too_long)
    for problem in problems:
        print(problem)
    if not problems:
        print("check-docs: every backticked name and path in the docs exists; folder READMEs are short")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
