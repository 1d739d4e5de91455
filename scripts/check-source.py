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
3. Owners start coroutines through their TaskScope or TaskSlot
   (`tasks_.spawn(...)`, `slot->spawn(...)`). The free `spawn(` (a task nobody
   owns) is called only in src/Platform/Async and src/App.
4. Cancellation passes every catch-all: in a coroutine of src/ (a function or
   lambda body that itself holds co_await, co_return or co_yield), a
   `catch (...)` or `catch (const std::exception&...)` begins with
   `rethrowIfCancelled(`. A catch in a plain function (a job run on a worker,
   a helper) is not held to it, nor one after a `catch (const TaskCancelled&`
   of the same try.
5. Includes run down the layers: a file of src/ includes headers of its own
   library and of the libraries it links (directly or through them), as the
   `larkspin_layer(...)` calls of CMakeLists.txt declare them; the folder of
   a library is the longest one named there (`Reader/Widgets` apart from
   `Reader`), so a pure core cannot include its own widgets. The libraries'
   links hold no cycle.
6. The main thread touches no disk: a function body that asserts the main
   thread (`LARKSPIN_ASSERT_MAIN_THREAD()`) calls no std::filesystem function
   that reads or changes the file system (canonical, exists, status, …), nor
   one of the program's own functions that do (`OWN_DISK_FUNCTIONS`: the font
   resolver, the renderer directory's walk and look-ups, the editor's font),
   whether qualified or called by its plain name inside its class or
   namespace. Lambdas inside it are not held to it: they may be the jobs it
   hands to a worker.
6. One composition root: the program's shared instances are made in src/App
   (its services) and src/main.cpp and handed down; elsewhere in src/ no
   process singleton is reached (`X::shared()`, `X::standard()`,
   `X::general()`, `defaultCenter()`). Allowed by name: the worker pool
   (`WorkerPool::shared()`) and the one inotify descriptor
   (`InotifyService::shared()`), both Platform's own threads, and the system
   clock (`Clock::system()`). Tests and benches make their own instances.
7. No process-wide lists: in src/, a function-local static holds no
   collection of the program's objects (a standard container whose elements
   or keys are pointers, smart pointers or references to objects), such as
   every live window or scheduler: the service that makes those objects keeps
   them and is asked. Constants, literals, lookup tables and caches of plain
   values stay allowed.

Exits 1 and prints file:line: reason for each breach.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
SOURCES = ("src", "tests", "bench", "fuzz")

GTK_HEADER = re.compile(r'#\s*include\s*[<"](gtk/|gdk/|adwaita\.h|webkit/|jsc/|libsoup/)')
WEBKIT_HEADER = re.compile(r'#\s*include\s*[<"](webkit/|jsc/)')
# Glue lives in the GUI layers and in folders named Widgets or Desktop: only
# there may GTK and libadwaita be included; the WebKit folders are a subset.
GTK_FOLDERS = ("Web", "Window", "App")
GLUE_FOLDER_NAMES = ("Widgets", "Desktop")
WEBKIT_FOLDERS = ("Web", "Reader/Widgets", "Window", "App")


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
        elif GTK_HEADER.search(line) and not (allowed(rel, GTK_FOLDERS) or
                                               any(part in GLUE_FOLDER_NAMES
                                                   for part in rel.split("/")[:-1])):
            problems.append(f"{path}:{number}: GTK/libadwaita header outside the widget layers")


LAYER_CALL = re.compile(r"^\s*larkspin_layer\(([^)]*)\)", re.M)
LAYER_SET = re.compile(r"^\s*set\((\w+)\s+(larkspin_\w+)\)", re.M)
QUOTED_INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def read_layers(cmake_text):
    """{folder: (library, {libraries it links})} from the larkspin_layer calls."""
    variables = dict(LAYER_SET.findall(cmake_text))
    layers = {}
    for call in LAYER_CALL.finditer(cmake_text):
        words = [variables.get(w[2:-1], w) if w.startswith("${") else w
                 for w in call.group(1).split()]
        name, folder = words[0], words[1]
        layers[folder] = (name, {w for w in words[2:] if w.startswith("larkspin_")} - {"larkspin_options"})
    return layers


def reachable(layers):
    """{library: every library it links, directly or through others}."""
    links = {name: deps for name, deps in layers.values()}
    closure = {}
    for name in links:
        seen, stack = set(), list(links[name])
        while stack:
            lib = stack.pop()
            if lib not in seen:
                seen.add(lib)
                stack.extend(links.get(lib, ()))
        closure[name] = seen
    return closure


def library_of(rel, layers):
    """The library whose folder holds the src/-relative path `rel`."""
    folders = [f for f in layers if rel.startswith(f + "/")]
    return layers[max(folders, key=len)][0] if folders else None


def check_layer_cycles(layers, problems):
    for name, links in reachable(layers).items():
        if name in links:
            problems.append(f"{ROOT / 'CMakeLists.txt'}: {name} links itself through its libraries")


def check_layer_includes(path, text, layers, closure, problems):
    if not path.is_relative_to(ROOT / "src"):
        return
    own = library_of(folder_of(path), layers)
    if own is None:
        return  # src/main.cpp: the program links every layer
    for match in QUOTED_INCLUDE.finditer(text):
        target = library_of(match.group(1), layers)
        if target is None or target == own or target in closure[own]:
            continue
        line = text.count("\n", 0, match.start()) + 1
        problems.append(f"{path}:{line}: {own} includes {match.group(1)} of {target}, "
                        "which it does not link")


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


FREE_SPAWN_FOLDERS = ("Platform/Async", "App")
SPAWN = re.compile(r"\bspawn\s*\(")
QUALIFIER = re.compile(r"(\w*)\s*::\s*$")
DECLARING_WORD = re.compile(r"(\w+)\s*$")
STATEMENT_WORDS = ("return", "co_return", "co_await", "else", "do")


def is_free_spawn(before):
    """Whether `spawn(` after the code `before` calls the free function: not a
    member call (`.spawn(`, `->spawn(`, `TaskScope::spawn(`) and not a
    declaration (`void spawn(`)."""
    if re.search(r"(\.|->)\s*$", before):
        return False
    qualifier = QUALIFIER.search(before)
    if qualifier:
        return qualifier.group(1) in ("", "larkspin")
    word = DECLARING_WORD.search(before)
    return not word or word.group(1) in STATEMENT_WORDS


def check_free_spawn(path, code, problems):
    if not path.is_relative_to(ROOT / "src"):
        return
    rel = folder_of(path)
    if allowed(rel, FREE_SPAWN_FOLDERS):
        return
    for match in SPAWN.finditer(code):
        if not is_free_spawn(code[:match.start()]):
            continue
        line = code.count("\n", 0, match.start()) + 1
        problems.append(f"{path}:{line}: free spawn(): start the task through the owner's "
                        "TaskScope or TaskSlot")


CONTROL_WORDS = ("if", "for", "while", "switch", "catch")
SPECIFIERS = re.compile(r"(?:\s*(?:const|noexcept|override|final|mutable|volatile|&&|&))*\s*$")
TRAILING_RETURN = re.compile(r"->\s*[\w:<>,\s*&]+$")
COROUTINE_WORD = re.compile(r"\bco_(?:await|return|yield)\b")
CATCH_ALL = re.compile(r"\bcatch\s*\(\s*(?:\.\.\.|(?:const\s+)?std::exception\s*&[^)]*)\)\s*\{")
CATCH_CANCELLED = re.compile(r"\bcatch\s*\(\s*(?:const\s+)?(?:larkspin::)?TaskCancelled\s*&")


def matching_open(code, close):
    """The position of the bracket that opens the one at `close`."""
    depth = 0
    for at in range(close, -1, -1):
        c = code[at]
        if c in CLOSE:
            depth += 1
        elif c in OPEN:
            depth -= 1
            if depth == 0:
                return at
    return None


def is_function_body(code, brace):
    """True when the `{` at `brace` opens a function's or a lambda's body."""
    before = code[:brace]
    before = before[:SPECIFIERS.search(before).start()]
    trailing = TRAILING_RETURN.search(before)
    if trailing:
        before = before[:trailing.start()]
        before = before[:SPECIFIERS.search(before).start()]
    before = before.rstrip()
    if before.endswith("]"):
        return True  # a lambda without a parameter list
    if not before.endswith(")"):
        return False
    opening = matching_open(code, len(before) - 1)
    if opening is None:
        return False
    word = re.search(r"(\w+)\s*$", code[:opening])
    return not (word and word.group(1) in CONTROL_WORDS)


def function_bodies(code):
    """(open, close) of every function and lambda body, outer ones first."""
    bodies = []
    stack = []
    for at, c in enumerate(code):
        if c == "{":
            stack.append(at)
        elif c == "}" and stack:
            start = stack.pop()
            if is_function_body(code, start):
                bodies.append((start, at))
    bodies.sort()
    return bodies


def innermost(bodies, at):
    found = None
    for start, end in bodies:
        if start < at < end:
            found = (start, end)  # sorted by start: later ones are nested
    return found


def check_catch_blocks(path, code, problems):
    if not path.is_relative_to(ROOT / "src") or not COROUTINE_WORD.search(code):
        return
    bodies = function_bodies(code)
    coroutines = set()
    for match in COROUTINE_WORD.finditer(code):
        body = innermost(bodies, match.start())
        if body:
            coroutines.add(body)
    for match in CATCH_ALL.finditer(code):
        if innermost(bodies, match.start()) not in coroutines:
            continue
        # Handlers of the same try before this one: a TaskCancelled one lets it pass.
        earlier = code[:match.start()].rstrip()
        handled = False
        while earlier.endswith("}"):
            opening = matching_open(code, len(earlier) - 1)
            head = code[:opening].rstrip()
            handler = re.search(r"\bcatch\s*\([^)]*\)$", head)
            if not handler:
                break
            if CATCH_CANCELLED.search(handler.group(0)):
                handled = True
            earlier = head[:handler.start()].rstrip()
        first = code[match.end():].lstrip()
        if handled or first.startswith("rethrowIfCancelled("):
            continue
        line = code.count("\n", 0, match.start()) + 1
        problems.append(f"{path}:{line}: catch block in a coroutine must begin with "
                        "rethrowIfCancelled(std::current_exception());")


MAIN_THREAD_ASSERT = re.compile(r"\bLARKSPIN_ASSERT_MAIN_THREAD\s*\(")
DISK_CALL = re.compile(
    r"\b(?:std::)?(?:filesystem|fs)::(canonical|weakly_canonical|exists|is_regular_file|"
    r"is_directory|is_symlink|is_empty|is_fifo|is_other|is_socket|is_block_file|"
    r"is_character_file|status|symlink_status|file_size|hard_link_count|last_write_time|"
    r"permissions|read_symlink|equivalent|space|remove|remove_all|rename|resize_file|copy|"
    r"copy_file|copy_symlink|create_directory|create_directories|create_symlink|"
    r"create_directory_symlink|create_hard_link|directory_iterator|"
    r"recursive_directory_iterator)\s*[({]")


# The program's own functions that read the disk (fontconfig and font files,
# directory walks, resolved links), by the class or namespace that holds them.
OWN_DISK_FUNCTIONS = {
    "FontResolver": ("resolve", "families", "fixedPitchFamilies", "location",
                     "variableWeightRange"),
    "LocationRoots": ("current",),
    "AppResourceSchemeHandler": ("enumerateManifest", "resolvedInside"),
    "RendererDirectory": ("locate",),
    "EditorFont": ("family",),
}
OWN_DISK_CALL = re.compile(r"(?:\b(\w+)\s*::\s*)?\b(\w+)\s*\(")
OPENED_NAMESPACE = re.compile(r"\bnamespace\s+(?:\w+::)*(\w+)\s*\{")
BODY_OWNER = re.compile(r"\b(\w+)\s*::\s*~?\w+\s*$")


def body_owner(code, body):
    """The class that the function whose body opens at `body` belongs to."""
    head = code[:body]
    close = head.rfind(")")
    if close < 0:
        return None
    opening = matching_open(code, close)
    if opening is None:
        return None
    owner = BODY_OWNER.search(code[:opening])
    return owner.group(1) if owner else None


def own_disk_call(code, match, scopes):
    """The name of the program's disk function that `match` calls, if any."""
    qualifier, name = match.group(1), match.group(2)
    before = code[:match.start()].rstrip()
    if qualifier is None and (before.endswith(".") or before.endswith("->")):
        return None  # a member of some object
    for holder, names in OWN_DISK_FUNCTIONS.items():
        if name in names and (qualifier == holder or (qualifier is None and holder in scopes)):
            return f"{holder}::{name}"
    return None


def check_main_thread_disk(path, code, problems):
    if not path.is_relative_to(ROOT / "src") or not MAIN_THREAD_ASSERT.search(code):
        return
    bodies = function_bodies(code)
    asserting = {innermost(bodies, m.start()) for m in MAIN_THREAD_ASSERT.finditer(code)}
    asserting.discard(None)
    for m in DISK_CALL.finditer(code):
        if innermost(bodies, m.start()) in asserting:
            line = code.count("\n", 0, m.start()) + 1
            problems.append(f"{path}:{line}: std::filesystem::{m.group(1)} touches the disk "
                            "in a main-thread function; run it on a worker")
    namespaces = set(OPENED_NAMESPACE.findall(code))
    for m in OWN_DISK_CALL.finditer(code):
        body = innermost(bodies, m.start())
        if body not in asserting:
            continue
        called = own_disk_call(code, m, namespaces | {body_owner(code, body[0])})
        if called:
            line = code.count("\n", 0, m.start()) + 1
            problems.append(f"{path}:{line}: {called} reads the disk in a main-thread "
                            "function; run it on a worker")


SINGLETON_CALL = re.compile(r"\b(?:(\w+)::(shared|standard|general)\s*\(\s*\)|(defaultCenter)\s*\()")
SINGLETONS_ALLOWED = {"WorkerPool", "InotifyService"}
COMPOSITION_ROOT = ("App", "main.cpp")


def check_singletons(path, code, problems):
    if not path.is_relative_to(ROOT / "src") or allowed(folder_of(path), COMPOSITION_ROOT):
        return
    for m in SINGLETON_CALL.finditer(code):
        if m.group(1) in SINGLETONS_ALLOWED:
            continue
        line = code.count("\n", 0, m.start()) + 1
        name = f"{m.group(1)}::{m.group(2)}()" if m.group(1) else "defaultCenter()"
        problems.append(f"{path}:{line}: {name} outside src/App and src/main.cpp; "
                        "take the instance from whoever makes this object")


LOCAL_STATIC = re.compile(r"\bstatic\b")
CONTAINER = re.compile(r"\b(?:std::)?(?:vector|list|deque|forward_list|map|multimap|set|multiset|"
                       r"unordered_map|unordered_multimap|unordered_set|unordered_multiset|array)\s*<")
HELD_OBJECT = re.compile(r"\*|&|\b(?:unique_ptr|shared_ptr|weak_ptr|reference_wrapper)\s*<")


def template_arguments(code, opening):
    """The text between the `<` at `opening` and its matching `>`."""
    depth = 0
    for at in range(opening, len(code)):
        if code[at] == "<":
            depth += 1
        elif code[at] == ">":
            depth -= 1
            if depth == 0:
                return code[opening + 1:at]
        elif code[at] in ";{":
            break
    return code[opening + 1:]


def check_static_lists(path, code, problems):
    if not path.is_relative_to(ROOT / "src"):
        return
    bodies = function_bodies(code)
    for m in LOCAL_STATIC.finditer(code):
        if not innermost(bodies, m.start()):
            continue
        end = code.find(";", m.end())
        declaration = code[m.end():end if end >= 0 else len(code)]
        if re.match(r"\s*(?:const|constexpr|constinit\s+const)\b", declaration) or \
                re.search(r"\bconst\s+\w+\s*(?:[({=]|$)", declaration):
            continue
        for container in CONTAINER.finditer(declaration):
            if HELD_OBJECT.search(template_arguments(declaration, container.end() - 1)):
                line = code.count("\n", 0, m.start()) + 1
                problems.append(f"{path}:{line}: a function-local static holds a list of program "
                                "objects; let the service that makes them keep them")
                break


def main():
    problems = []
    layers = read_layers((ROOT / "CMakeLists.txt").read_text(encoding="utf-8"))
    closure = reachable(layers)
    check_layer_cycles(layers, problems)
    for folder in SOURCES:
        for path in sorted((ROOT / folder).rglob("*")):
            if path.suffix not in (".cpp", ".hpp", ".h"):
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            check_includes(path, text, problems)
            check_layer_includes(path, text, layers, closure, problems)
            check_co_await(path, text, problems)
            code = strip_comments_and_strings(text)
            check_free_spawn(path, code, problems)
            check_catch_blocks(path, code, problems)
            check_main_thread_disk(path, code, problems)
            check_singletons(path, code, problems)
            check_static_lists(path, code, problems)
    for problem in problems:
        print(problem)
    if problems:
        print(f"check-source: {len(problems)} problem(s)", file=sys.stderr)
        return 1
    print("check-source: layering, coroutine and composition rules hold")
    return 0


if __name__ == "__main__":
    sys.exit(main())
