#!/usr/bin/env python3
"""Cases for the lifetime rules of check-source.py (free spawn, catch blocks
in coroutines, the disk in main-thread functions, process singletons outside
the composition root, process-wide state in statics): what must
be refused and what must pass."""
import pathlib
import runpy
import sys
import types
import unittest

HERE = pathlib.Path(__file__).resolve().parent
# The script's functions, loaded without running its main.
check = types.SimpleNamespace(**runpy.run_path(str(HERE / "check-source.py"), run_name="check_source"))

CORO = "Task<void> Owner::run() {\n    %s\n}\n"
CACHES = ("void f() { static std::map<std::string, std::string, std::less<>> families;\n"
          "static std::array<std::optional<Theme>, 3> entries; static bool installed = false;\n"
          "static auto* calls = new std::unordered_map<CallID, CallCallback>(); }")

CASES = [
    # (name, file under src/, code, problems expected)
    ("member spawns", "Web/A.cpp", "void f() { tasks_.spawn(g()); slot->spawn(g()); }", 0),
    ("free spawn", "Web/A.cpp", "void f() { spawn(g()); }", 1),
    ("qualified free spawn", "Web/A.cpp", "void f() { larkspin::spawn(g()); }", 1),
    ("returned free spawn", "Web/A.cpp", "void f() { return spawn(g()); }", 1),
    ("free spawn where allowed", "Platform/Async/A.cpp", "void f() { spawn(g()); }", 0),
    ("free spawn in the application", "App/A.cpp", "void f() { spawn(g()); }", 0),
    ("a member declared spawn", "Web/A.hpp", "class X { void spawn(Task<void> t); };", 0),
    ("a class's own spawn", "Web/A.cpp", "void X::spawn(Task<void> t) { Pool::spawn(t); }", 0),
    ("free spawn in a comment", "Web/A.cpp", "// spawn(g());\nvoid f() {}", 0),
    ("catch-all without the rethrow", "Web/A.cpp",
     CORO % "try { co_await g(); } catch (...) { log(); }", 1),
    ("std::exception without the rethrow", "Web/A.cpp",
     CORO % "try { co_await g(); } catch (const std::exception& e) { log(e); }", 1),
    ("inside a condition's block", "Web/A.cpp",
     CORO % "if (x) { try { co_await g(); } catch (...) { log(); } }", 1),
    ("both handlers begin with the rethrow", "Web/A.cpp",
     CORO % ("try { co_await g(); } catch (const std::exception& e) {\n"
             "rethrowIfCancelled(std::current_exception()); log(e); }\n"
             "catch (...) { rethrowIfCancelled(std::current_exception()); }"), 0),
    ("cancellation caught first", "Web/A.cpp",
     CORO % "try { co_await g(); } catch (const TaskCancelled&) { throw; } catch (...) {}", 0),
    ("a narrower catch", "Web/A.cpp",
     CORO % "try { co_await g(); } catch (const std::system_error&) { log(); }", 0),
    ("a plain function beside a coroutine", "Web/A.cpp",
     "int f() try { return 1; } catch (...) { return 0; }\n"
     "int h() { try { return 1; } catch (...) { return 0; } }\n" + CORO % "co_await g();", 0),
    ("a worker's lambda inside a coroutine", "Web/A.cpp",
     CORO % ("auto read = [path] { try { return load(path); } catch (...) { return 0; } };\n"
             "co_await runOn(pool, read);"), 0),
    ("a lambda with a trailing return type", "Web/A.cpp",
     CORO % ("auto read = [path]() mutable -> int { try { return 1; } catch (...) { return 0; } };\n"
             "co_await runOn(pool, read);"), 0),
    ("tests are not held to it", None,
     CORO % "try { co_await g(); } catch (...) {}", 0),
    ("resolving a path on the main thread", "Protocol/A.cpp",
     "void X::start() { LARKSPIN_ASSERT_MAIN_THREAD();\n"
     "auto p = std::filesystem::weakly_canonical(root_ / r, e); }", 1),
    ("type checks under a short namespace name", "Web/A.cpp",
     "void X::f() {\n LARKSPIN_ASSERT_MAIN_THREAD();\n"
     "if (fs::exists(p) && fs::is_regular_file(p)) {} }", 2),
    ("the same call in a worker's job", "Web/A.cpp",
     "void X::f() { LARKSPIN_ASSERT_MAIN_THREAD();\n"
     "auto job = [p] { return std::filesystem::canonical(p); }; runOn(pool, job); }", 0),
    ("path arithmetic only", "Web/A.cpp",
     "void X::f() { LARKSPIN_ASSERT_MAIN_THREAD();\n"
     "auto q = (std::filesystem::path(a) / b).lexically_normal(); }", 0),
    ("a function that does not assert the main thread", "Web/A.cpp",
     "void X::g() { fs::exists(p); }\nvoid X::f() { LARKSPIN_ASSERT_MAIN_THREAD(); }", 0),
    ("singletons below the composition root", "Window/A.cpp",
     "void f() { UserDefaults::standard(); larkspin::AppearanceController::shared();\n"
     "PasteboardService::general(); auto& c = NotificationCenter::defaultCenter(); }", 4),
    ("singletons in the composition root", "App/Desktop/A.cpp",
     "void f() { UserDefaults::standard(); NotificationCenter::defaultCenter(); }", 0),
    ("singletons in main", "main.cpp", "int main() { UserDefaults::standard(); }", 0),
    ("the worker pool, the inotify service and the clock", "Storage/A.cpp",
     "void f() { runOn(WorkerPool::shared(), job); InotifyService::shared(); Clock::system(); }", 0),
    ("a shared pointer and a mention in a comment", "Document/A.cpp",
     "struct S { std::shared_ptr<X> x; }; // DraftWriter::shared()\nvoid f() { y.shared(); }", 0),
    ("tests make their own instances", None, "void f() { TypographyController::shared(); }", 0),
    ("the program's own disk functions, qualified", "Appearance/A.cpp",
     "void Panel::respond() { LARKSPIN_ASSERT_MAIN_THREAD();\n"
     "auto f = FontResolver::resolve(name); auto d = RendererDirectory::locate(); }", 2),
    ("a disk member called by its plain name in its class", "Protocol/A.cpp",
     "void AppResourceSchemeHandler::start() { LARKSPIN_ASSERT_MAIN_THREAD();\n"
     "manifest_ = enumerateManifest(root_); }", 1),
    ("a disk function by its plain name in its namespace", "Editor/A.cpp",
     "namespace larkspin::EditorFont {\nvoid use() { LARKSPIN_ASSERT_MAIN_THREAD(); family(x); }\n}", 1),
    ("the same names elsewhere or in a worker's job", "Editor/A.cpp",
     "void View::f() { LARKSPIN_ASSERT_MAIN_THREAD(); auto a = family(x); auto b = o.resolve(y);\n"
     "auto c = FontResolver::cssWeight(1.0);\n"
     "auto job = [n] { return FontResolver::resolve(n); }; runOn(pool, job); }", 0),
    ("process-wide lists of objects", "Window/A.cpp",
     "std::vector<Group*>& all() { static std::vector<Group*> groups; return groups; }\n"
     "Pages& pages() { static std::unordered_map<GtkWidget*, std::unique_ptr<Page>> map; return map; }\n"
     "auto& live() { static auto* list = new std::list<std::weak_ptr<Draft>>(); return *list; }", 3),
    ("the same list in the composition root", "App/A.cpp",
     "Ws& all() { static std::set<std::shared_ptr<W>> windows; return windows; }", 1),
    ("constants and tables", "Editor/A.cpp",
     "void f() { static const std::vector<Entry*> table{&a, &b}; static constexpr const char* units[] = {\"s\"}; }\n"
     "const std::vector<Entry*> entries{&a};\nconstexpr std::string_view key = \"k\";\n"
     "inline constexpr int limit = 3;\nconst char* const names[] = {\"a\"};\n"
     "static const std::map<int, X*> byID = make();\nextern int definedElsewhere;\n"
     "struct S { static constexpr int n = 2; static const std::string name; int member = 0; };", 0),
    ("caches of values and flags in Platform", "Platform/A.cpp", CACHES, 0),
    ("the same caches and flags elsewhere", "Editor/A.cpp", CACHES, 4),
    ("statics outside functions, and in tests", "Web/A.cpp",
     "static std::vector<Port*> ports;\nclass X { static std::vector<X*> all(); };", 1),
    ("lists at namespace scope and in classes", "Window/A.cpp",
     "namespace larkspin {\nnamespace {\nstd::vector<Group*> groups;\n}  // namespace\n"
     "std::map<int, std::weak_ptr<Page>> pages{};\n#define LIST(x) x\n"
     "class Pages : public Base<std::vector<int>> {\npublic:\n    static std::vector<Page*> all();\n"
     "    Pages() : mine_{}, other_(1) { static_cast<void>(0); }\nprivate:\n"
     "    static inline std::set<Page*> live_;\n    std::vector<Page*> mine_;\n    int other_;\n};\n"
     "std::vector<Tab*> Pages::tabs_ = {};\n}  // namespace larkspin", 3),
    ("any other state outside Platform and App", "Document/A.cpp",
     "std::atomic<int> count{0};\nstatic bool installed = false;\nSerialExecutor queue(\"q\");\n"
     "int f() { static std::string last; thread_local int depth = 0; return 0; }\n"
     "struct S { static int hits; };\nstd::mutex& lock();\nvoid g(int x = 3, Options o = {}) {}\n"
     "enum class E { a, b };\nusing V = std::vector<int>;\nauto h = [] { return 1; };", 7),
    ("allowed by name where it lives", "Window/FindRouting.cpp",
     "namespace {\nbool sourceEditingForTesting = false;\n}", 0),
    ("the same name elsewhere", "Window/A.cpp", "namespace {\nbool sourceEditingForTesting = false;\n}", 1),
    ("the application keeps its state, but no list of objects", "App/A.cpp",
     "std::atomic<int> launches{0};\nstd::vector<Window*> windows;", 1),
    ("tests keep lists of their own", None, "void f() { static std::vector<Page*> pages; }", 0),
]


# (name, file under src/, its includes, problems expected), against the
# layers CMakeLists.txt declares.
INCLUDE_CASES = [
    ("down the layers, through other libraries", "Document/A.cpp",
     '#include "Platform/Log.hpp"\n#include "Reader/ReaderHost.hpp"\n#include "A.hpp"', 0),
    ("widgets include their core", "Reader/Widgets/A.cpp", '#include "Reader/ReaderHost.hpp"', 0),
    ("a folder of the same library", "Window/Widgets/A.cpp", '#include "Window/Desktop/B.hpp"', 0),
    ("a core includes its widgets", "Reader/A.cpp", '#include "Reader/Widgets/ReaderView.hpp"', 1),
    ("up a layer", "Storage/A.cpp", '#include "Document/Document.hpp"', 1),
    ("a sibling it does not link", "Document/A.cpp",
     '#include "Editor/EditorLayout.hpp"\n#include "Web/ReaderWebView.hpp"', 2),
]

# (file under src/, its include, problems expected): GTK and WebKit only in
# the glue.
GLUE_CASES = [
    ("Window/Widgets/A.cpp", "#include <gtk/gtk.h>", 0),
    ("Window/Desktop/A.cpp", "#include <webkit/webkit.h>", 0),
    ("Window/A.cpp", "#include <gtk/gtk.h>", 1),
    ("Window/A.cpp", "#include <webkit/webkit.h>", 1),
    ("Document/Desktop/A.cpp", "#include <adwaita.h>", 0),
    ("Document/Desktop/A.cpp", "#include <webkit/webkit.h>", 1),
    ("App/A.cpp", "#include <webkit/webkit.h>", 0),
    ("Window/A.cpp", "#include <gio/gio.h>", 0),
]

LAYERS = """
larkspin_layer(larkspin_a A PUBLIC larkspin_options)
set(_b larkspin_b)
larkspin_layer(larkspin_b B PUBLIC larkspin_a
  PRIVATE PkgConfig::GTK)
larkspin_layer(larkspin_c C PUBLIC ${_b})
"""


class LayerRules(unittest.TestCase):
    def test_includes(self):
        layers = check.read_layers((check.ROOT / "CMakeLists.txt").read_text(encoding="utf-8"))
        closure = check.reachable(layers)
        for name, rel, text, expected in INCLUDE_CASES:
            with self.subTest(name):
                problems = []
                check.check_layer_includes(check.ROOT / "src" / rel, text, layers, closure, problems)
                self.assertEqual(len(problems), expected, problems)

    def test_glue_headers(self):
        for rel, text, expected in GLUE_CASES:
            with self.subTest(rel + " " + text):
                problems = []
                check.check_includes(check.ROOT / "src" / rel, text, problems)
                self.assertEqual(len(problems), expected, problems)

    def test_links_read_from_the_calls(self):
        layers = check.read_layers(LAYERS)
        self.assertEqual(layers["B"], ("larkspin_b", {"larkspin_a"}))
        self.assertEqual(check.reachable(layers)["larkspin_c"], {"larkspin_a", "larkspin_b"})
        problems = []
        check.check_layer_cycles(layers, problems)
        self.assertEqual(problems, [])
        check.check_layer_cycles(check.read_layers(LAYERS + "larkspin_layer(larkspin_a A PUBLIC larkspin_c)"),
                                 problems)
        self.assertEqual(len(problems), 3, problems)


class LifetimeRules(unittest.TestCase):
    def test_cases(self):
        for name, rel, text, expected in CASES:
            with self.subTest(name):
                path = check.ROOT / ("tests/A.cpp" if rel is None else "src/" + rel)
                code = check.strip_comments_and_strings(text)
                problems = []
                check.check_free_spawn(path, code, problems)
                check.check_catch_blocks(path, code, problems)
                check.check_main_thread_disk(path, code, problems)
                check.check_singletons(path, code, problems)
                check.check_statics(path, code, problems, text)
                self.assertEqual(len(problems), expected, problems)


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=1))
