#!/usr/bin/env python3
"""Source rules the compiler does not enforce.

1. Layering: GTK, GDK, libadwaita and WebKit headers are included only in the
   folders that hold widgets, web views and desktop glue. Deciding code
   (policies, codecs, state machines, planners) lives elsewhere, so that it is
   tested without a display.
2. GCC 12 and coroutines: a statement that holds a co_await must hold no
   lambda capture list and no braced list. GCC 12 can destroy such
   temporaries at the suspension point and resume with dangling references;
   name the lambda or the value in a statement of its own first.

Exits 1 and prints file:line: reason for each breach.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
SOURCES = ("src", "tests", "bench", "fuzz")

GTK_HEADER = re.compile(r'#\s*include\s*[<"](gtk/|gdk/|adwaita\.h|webkit/|jsc/|libsoup/)')
WEBKIT_HEADER = re.compile(r'#\s*include\s*[<"](webkit/|jsc/)')
# Folders of src/ that may include GTK and libadwaita; the WebKit ones are a subset.
GTK_FOLDERS = ("Appearance/Desktop", "Web", "Reader", "Editor", "Document", "Window",
               "Settings", "App")
WEBKIT_FOLDERS = ("Web", "Reader", "Window", "App")


def folder_of(path):
    rel = path.relative_to(ROOT / "src").as_posix()
    return rel


def allowed(rel, folders):
    return any(rel == f or rel.startswith(f + "/") for f in folders)


def check_includes(path, text, problems):
    if not path.is_relative_to(ROOT / "src"):
        return
    rel = folder_of(path)
    for number, line in enumerate(text.splitlines(), 1):
        if WEBKIT_HEADER.search(line) and not allowed(rel, WEBKIT_FOLDERS):
            problems.append(f"{path}:{number}: WebKit header outside {', '.join(WEBKIT_FOLDERS)}")
        elif GTK_HEADER.search(line) and not allowed(rel, GTK_FOLDERS):
            problems.append(f"{path}:{number}: GTK/libadwaita header outside the widget layers")


def strip_comments_and_strings(text):
    # Keeps line structure; blanks comments, string and character literals.
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|R"(\w*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'',
                         re.S)
    return pattern.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), text)


OPEN, CLOSE = "([{", ")]}"


def statement_around(code, at):
    """The span of the statement holding position `at`."""
    depth = 0
    start = at
    while start > 0:
        c = code[start - 1]
        if c in CLOSE:
            depth += 1
        elif c in OPEN:
            if depth == 0:
                if c == "{" and not braced_list_opener(code, start - 1):
                    break
                if c == "{":
                    return None  # inside a braced list: reported by the caller
            else:
                depth -= 1
        elif c == ";" and depth == 0:
            break
        start -= 1
    depth = 0
    end = at
    while end < len(code):
        c = code[end]
        if c in OPEN:
            depth += 1
        elif c in CLOSE:
            if depth == 0:
                break
            depth -= 1
        elif c == ";" and depth == 0:
            break
        end += 1
    return start, end


BLOCK_KEYWORDS = ("else", "do", "try", "namespace")


def braced_list_opener(code, brace):
    before = code[:brace].rstrip()
    if not before:
        return False
    last = before[-1]
    if last in ")};:":
        return False  # a block after a condition, a function head, a label
    word = re.search(r"(\w+)$", before)
    if word and word.group(1) in BLOCK_KEYWORDS:
        return False
    if word and re.search(r"\b(struct|class|enum|union)\s+\w+$", before):
        return False
    return True


LAMBDA = re.compile(r"(?:^|[(,=\s{])\[[^\[\]]*\]\s*(?:\(|\{|mutable)")


def check_co_await(path, text, problems):
    code = strip_comments_and_strings(text)
    for match in re.finditer(r"\bco_await\b", code):
        if re.search(r"\boperator\s*$", code[:match.start()]):
            continue  # the declaration of an awaitable's operator
        line = code.count("\n", 0, match.start()) + 1
        span = statement_around(code, match.start())
        if span is None:
            problems.append(f"{path}:{line}: co_await inside a braced list")
            continue
        statement = code[span[0]:span[1]]
        if LAMBDA.search(statement):
            problems.append(f"{path}:{line}: co_await in a statement with a lambda capture list")
        elif "{" in statement:
            problems.append(f"{path}:{line}: co_await in a statement with a braced list")


def main():
    problems = []
    for folder in SOURCES:
        for path in sorted((ROOT / folder).rglob("*")):
            if path.suffix not in (".cpp", ".hpp", ".h"):
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            check_includes(path, text, problems)
            check_co_await(path, text, problems)
    for problem in problems:
        print(problem)
    if problems:
        print(f"check-source: {len(problems)} problem(s)", file=sys.stderr)
        return 1
    print("check-source: layering and coroutine rules hold")
    return 0


if __name__ == "__main__":
    sys.exit(main())
