#!/usr/bin/env python3
"""Cases for check-docs.py: which backticked names must be refused and which
must pass, against a small made-up repository; which folder READMEs are too
long."""
import pathlib
import runpy
import sys
import types
import unittest

HERE = pathlib.Path(__file__).resolve().parent
# The script's functions, loaded without running its main.
check = types.SimpleNamespace(**runpy.run_path(str(HERE / "check-docs.py"), run_name="check_docs"))

FILES = ["README.md", "src/Window/README.md", "src/Window/PageWorkingSetMember.hpp",
         "src/Window/Desktop/SaveFileChooser.cpp", "src/Platform/Json/PayloadCodec.hpp",
         "renderer/src/page/view.js", "renderer/build.mjs", "docs/decisions/platform.md"]
# A made-up source tree: each file's text.
SOURCES = {
    "src/Window/PageWorkingSetMember.hpp": "class PageWorkingSetMember { bool isSelected() const; };",
    "src/Reader/WebViewWorkingSet.hpp":
        "class WebViewWorkingSet {\n void activate(); // onDocumentMade\n void registerMember(); };",
    "src/Platform/TestHost.cpp": "bool isTestHost() { return WebViewWorkingSet::shared(); }",
    "bench/CMakeLists.txt": "foreach(_b reader lifecycle)\n add_executable(larkspin_${_b}_bench)\nendforeach()",
}


def sources():
    made = check.Sources()
    for name, text in SOURCES.items():
        made.add(name, text)
    return made


CASES = [
    # (name, doc, text, problems expected)
    ("a type of ours", "src/Window/README.md", "`PageWorkingSetMember`", 0),
    ("a type that went", "src/Window/README.md", "`PageWorkingSetMembers`", 1),
    ("a qualified name", "README.md", "`WebViewWorkingSet::activate`", 0),
    ("a member that went", "README.md", "`WebViewWorkingSet::onDocumentMade`", 1),
    ("a member of another class", "README.md", "`PageWorkingSetMember::registerMember`", 1),
    ("a member called through its class elsewhere", "README.md", "`WebViewWorkingSet::shared()`", 0),
    ("a name only a comment still holds", "README.md", "`onDocumentMade`", 1),
    ("a call", "README.md", "`isTestHost()` and `registerMember(member)`", 0),
    ("a call that went", "README.md", "`onDocumentMade()`", 1),
    ("a bare name with a hump", "README.md", "`isSelected`", 0),
    ("plain words and texts", "README.md", "`later`, `delete`, `win.copy-file-path`", 0),
    ("names of the libraries", "README.md", "`GtkStack`, `AdwTabView`, `g_uri_split`, `std::string`", 0),
    ("a name CMake makes", "README.md", "`larkspin_lifecycle_bench`", 0),
    ("a path from the root", "README.md", "`src/Platform/Json`, `renderer/build.mjs`", 0),
    ("a path from the README's folder", "src/Window/README.md", "`Desktop/SaveFileChooser`, `Desktop/`", 0),
    ("a path from src", "README.md", "`Platform/Json/PayloadCodec.hpp`", 0),
    ("the tail of a path", "README.md", "`page/view.js`, `build.mjs`", 0),
    ("a path that went", "src/Window/README.md", "`Desktop/OpenFileChooser`", 1),
    ("a file that went", "README.md", "`scripts/missing.sh` and `missing.md`", 2),
    ("made by the build", "README.md", "`dist/renderer.js`, `build/release/larkspin`", 0),
    ("content types and system paths", "README.md", "`text/markdown`, `/proc/self/fd`", 0),
    ("a fenced block", "README.md", "```sh\n`NoSuchThing`\n```\n", 0),
    ("a span over two lines", "README.md", "the `WebViewWorkingSet::\n  registerMember` call", 0),
]


class DocNames(unittest.TestCase):
    def test_cases(self):
        paths = check.Paths(FILES)
        for name, doc, text, expected in CASES:
            with self.subTest(name):
                problems = check.problems_in(doc, text, paths, sources())
                self.assertEqual(len(problems), expected, problems)

    def test_where_and_what(self):
        problems = check.problems_in("README.md", "one\ntwo `GoneType` and `gone/file.md`\n",
                                     check.Paths(FILES), sources())
        self.assertEqual(problems, ["README.md:2: `GoneType` (in `GoneType`) is not in the sources",
                                    "README.md:2: no file or folder `gone/file.md`"])


class FolderReadmeSize(unittest.TestCase):
    def test_limit(self):
        cases = [
            ("src/Window/README.md", 3 * 1024, False),
            ("src/Window/README.md", 3 * 1024 + 1, True),
            ("src/Reader/Strips/README.md", 5000, True),
            ("renderer/README.md", 4000, True),
            ("README.md", 9000, False),
            ("bench/README.md", 50000, False),
            ("docs/ARCHITECTURE.md", 12000, False),
        ]
        for doc, size, refused in cases:
            with self.subTest(doc=doc, size=size):
                self.assertEqual(check.size_problem(doc, size) is not None, refused)


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=1))
