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
7. No process-wide state below the composition root: outside src/Platform,
   src/App and src/main.cpp, no variable of static storage duration (at
   namespace scope, a static member of a class, a static or thread_local
   one inside a function) is anything but const or constexpr, unless
   `STATICS_ALLOWED` names it with its file and says why: the service that
   owns such state keeps it and hands it down. In Platform and App too, no
   such variable holds a collection of the program's objects (a standard
   container whose elements or keys are pointers, smart pointers or
   references to objects), such as every live window or scheduler: the
   service that makes those objects keeps them and is asked.

Exits 1 and prints file:line: reason for each breach.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
SOURCES = ("src", "tests", "bench", "fuzz")

GTK_HEADER = re.compile(r'#\s*include\s*[<"](gtk/|gdk/|adwaita\.h|webkit/|jsc/|libsoup/)')
WEBKIT_HEADER = re.compile(r'#\s*include\s*[<"](webkit/|jsc/)')
# Glue lives in Web, App and in folders named Widgets or Desktop: only there
# may GTK and libadwaita be included; the WebKit folders are a subset.
GTK_FOLDERS = ("Web", "App")
GLUE_FOLDER_NAMES = ("Widgets", "Desktop")
WEBKIT_FOLDERS = ("Web", "Reader/Widgets", "Window/Widgets", "Window/Desktop", "App")


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


LOCAL_STATIC = re.compile(r"\b(?:static|thread_local)\b")
CONTAINER = re.compile(r"\b(?:std::)?(?:vector|list|deque|forward_list|map|multimap|set|multiset|"
                       r"unordered_map|unordered_multimap|unordered_set|unordered_multiset|array)\s*<")
HELD_OBJECT = re.compile(r"\*|&|\b(?:unique_ptr|shared_ptr|weak_ptr|reference_wrapper)\s*<")
PREPROCESSOR_LINE = re.compile(r"^[ \t]*#(?:[^\n]*\\\n)*[^\n]*", re.M)
NAMESPACE_HEAD = re.compile(r"^\s*(?:inline\s+)?namespace\b[\w:\s]*$|^\s*extern\s*$")
CLASS_HEAD = re.compile(r"^\s*(?:template\s*<[^;{]*>\s*)?(?:class|struct|union)\b[^=(]*$")
ENUM_HEAD = re.compile(r"^\s*enum\b")
ACCESS_LABEL = re.compile(r"^\s*(?:public|private|protected)\s*:(?!:)")
NOT_A_VARIABLE = re.compile(r"^\s*(?:template\b|using\b|typedef\b|friend\b|static_assert\b|namespace\b|"
                            r"class\b|struct\b|union\b|enum\b|extern\s+template\b|operator\b)")
LEADING_SPECIFIERS = re.compile(r"^\s*(?:\[\[[^\]]*\]\]\s*|(?:static|inline|extern|thread_local|constinit|"
                                r"mutable|volatile)\b\s*)*")
CONST_DECLARATOR = re.compile(r"\bconst\s*\w+\s*(?:\[[^\]]*\]\s*)*$")
LITERAL_START = re.compile(r"\s*(?:[\"'\d{&]|new\b)")

# Non-const statics allowed outside Platform and App, by file (under src/)
# and name: state of the process or the display that no service owns.
STATICS_ALLOWED = {
    # Made once, for the process's life.
    ("Appearance/ThemeCatalog.cpp", "once"), ("Appearance/ThemeCatalog.cpp", "entries"),
    ("Editor/EditorLayout.cpp", "families"),
    ("Updates/UpdateFeed.cpp", "once"),
    # The style sheets added once to the display.
    ("Window/Widgets/WindowTheme.cpp", "installed"), ("Window/Widgets/WindowTheme.cpp", "shared"),
    ("Settings/Widgets/SettingsWindowController.cpp", "installed"),
    # Script calls waiting for WebKit, by number: a late answer finds nothing.
    ("Web/WebKitBridgePort.cpp", "calls"), ("Web/WebKitBridgePort.cpp", "next"),
    # Once per process by design: untitled documents' log numbers, the
    # folders swept of a killed write's leftovers, the closing of replaced
    # files off the save's path.
    ("Document/Document.cpp", "nextUntitledLogSequence"),
    ("Storage/DocumentLoader.cpp", "folders"),
    ("Storage/FileStore.cpp", "releaser"),
    # For tests: the last announcement, and the switch for source editing.
    ("Appearance/Desktop/AccessibilityAnnouncer.cpp", "value"),
    ("Window/FindRouting.cpp", "sourceEditingForTesting"),
}
STATIC_STATE_ROOTS = ("Platform", "App", "main.cpp")


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


def matching_close(code, opening):
    """The position of the bracket that closes the one at `opening`."""
    depth = 0
    for at in range(opening, len(code)):
        if code[at] in OPEN:
            depth += 1
        elif code[at] in CLOSE:
            depth -= 1
            if depth == 0:
                return at
    return len(code) - 1


def declarator_head(text):
    """`text` up to its first `=` or `{` outside brackets (template arguments
    included), and where a `(` or `[` first opens there (-1: none)."""
    depth, paren = 0, -1
    for at, c in enumerate(text):
        if c in "([<" and depth == 0 and c != "<" and paren < 0:
            paren = at
        if c in "([{<":
            if depth == 0 and c == "{":
                return text[:at], paren
            depth += 1
        elif c in ")]}>" and depth > 0 and not (c == ">" and text[at - 1:at] == "-"):
            depth -= 1
        elif c == "=" and depth == 0 and text[at + 1:at + 2] != "=" and text[at - 1:at] not in "<>!=":
            return text[:at], paren
    return text, paren


def static_variable(statement, original, scope):
    """(name, is_const) when `statement` declares a variable of static storage
    duration, else None; `scope` says where it stands: "namespace", "class"
    (only static members count) or "function" (a static local)."""
    if not statement.strip() or NOT_A_VARIABLE.match(statement):
        return None
    specifiers = LEADING_SPECIFIERS.match(statement).group(0)
    words = set(re.findall(r"\w+", specifiers))
    if scope == "class" and not words & {"static", "thread_local"}:
        return None  # a member of each object
    if "extern" in words and "=" not in statement:
        return None  # declared here, defined (and checked) where it is made
    head, paren = declarator_head(statement)
    if paren >= 0 and head[paren] == "(":
        group = original[paren + 1:]
        if not LITERAL_START.match(group):
            return None  # a function
        head = head[:paren]
    elif paren >= 0:
        head = head[:paren]
    declarator = head.rstrip()
    name = re.search(r"(\w+)\s*$", declarator)
    if not name or re.search(r"::\s*\w+\s*$", declarator):
        return None  # nothing named, or a class's static defined here (checked in its class)
    rest = statement[len(specifiers):]
    constant = bool(re.match(r"\s*(?:const|constexpr)\b", rest)) or "constexpr" in words or \
        bool(CONST_DECLARATOR.search(declarator))
    return name.group(1), constant


def static_variables(code, original):
    """(position, name, is_const) of every variable of static storage
    duration declared in `code` (comments and literals blanked; `original`
    keeps the literals): at namespace scope, static members of classes, and
    static or thread_local ones inside functions."""
    code = PREPROCESSOR_LINE.sub(lambda m: re.sub(r"[^\n]", " ", m.group(0)), code)
    found = []

    def scan(start, end, scope):
        statement = start
        at = start
        while at < end:
            c = code[at]
            if c == ";":
                text = code[statement:at]
                if ACCESS_LABEL.match(text):
                    text = text[ACCESS_LABEL.match(text).end():]
                variable = static_variable(text, original[at - len(text):at], scope)
                if variable:
                    found.append((at - len(text.lstrip()),) + variable)
                statement = at + 1
            elif c == ":" and ACCESS_LABEL.match(code[statement:at + 1]):
                statement = at + 1
            elif c in "([":
                at = matching_close(code, at)  # parameters and default arguments
            elif c == "{":
                close = matching_close(code, at)
                head = code[statement:at]
                if NAMESPACE_HEAD.match(head):
                    scan(at + 1, close, "namespace")
                    statement = close + 1
                elif CLASS_HEAD.match(head):
                    scan(at + 1, close, "class")
                elif not ENUM_HEAD.match(head):
                    before, paren = declarator_head(head)
                    function = 0 <= paren < len(before) and head[paren] == "("
                    member_init = re.search(r"\)[^:]*:(?!:)", head) and re.search(r"\w\s*$", head)
                    if function and not member_init:
                        statement = close + 1  # a function's body, its own statics checked below
                at = close
            at += 1

    scan(0, len(code), "namespace")
    bodies = function_bodies(code)
    for m in LOCAL_STATIC.finditer(code):
        if not innermost(bodies, m.start()):
            continue
        end = code.find(";", m.end())
        declaration = code[m.start():end if end >= 0 else len(code)]
        variable = static_variable(declaration, original[m.start():m.start() + len(declaration)],
                                   "function")
        if variable:
            found.append((m.start(),) + variable)
    return sorted(set(found))


def check_statics(path, code, problems, original=None):
    if not path.is_relative_to(ROOT / "src"):
        return
    rel = folder_of(path)
    root = allowed(rel, STATIC_STATE_ROOTS)
    for at, name, constant in static_variables(code, code if original is None else original):
        if constant:
            continue
        line = code.count("\n", 0, at) + 1
        if not root:
            if (rel, name) not in STATICS_ALLOWED:
                problems.append(f"{path}:{line}: `{name}` is process-wide state outside Platform "
                                "and App; let the service that owns it keep it")
            continue
        end = code.find(";", at)
        declaration = code[at:end if end >= 0 else len(code)]
        for container in CONTAINER.finditer(declaration):
            if HELD_OBJECT.search(template_arguments(declaration, container.end() - 1)):
                problems.append(f"{path}:{line}: `{name}` is a process-wide list of program "
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
            check_statics(path, code, problems, text)
    for problem in problems:
        print(problem)
    if problems:
        print(f"check-source: {len(problems)} problem(s)", file=sys.stderr)
        return 1
    print("check-source: layering, coroutine and composition rules hold")
    return 0


if __name__ == "__main__":
    sys.exit(main())
