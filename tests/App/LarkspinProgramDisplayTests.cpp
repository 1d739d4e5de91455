// The real program, started in a temporary home on a session bus of its own,
// driven the way a user drives it: files on the command line, a second
// launch, keys typed into its window (XTest), actions over D-Bus, files
// changed behind its back, a kill in the middle. What it did is read from its
// log. The bus and the calls on it are separate processes (dbus-daemon,
// gdbus); every wait is bounded.
#include <X11/keysym.h>
#include <dlfcn.h>
#include <sys/resource.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/TestHost.hpp"
#include "Support/LaunchedProgram.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto bound = 60s;
constexpr std::string_view windowShown = "首个窗口已显示";

// Key presses and the pointer through the XTest extension of the test's X
// display, and what the display knows of the windows on it, loaded at run
// time (the libraries come with the desktop; Xlib's header is left out, its
// macros clash with GoogleTest's names).
class KeyTyper {
    struct Display;
    using KeySym = unsigned long;
    using KeyCode = unsigned char;
    using XWindow = unsigned long;
    using Atom = unsigned long;

public:
    // A rectangle on the screen.
    struct Area {
        int x = 0, y = 0, width = 0, height = 0;
    };

    explicit KeyTyper(const std::string& displayName) {
        x11_ = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        xtst_ = ::dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!x11_ || !xtst_) return;
        openDisplay_ = reinterpret_cast<OpenDisplay>(::dlsym(x11_, "XOpenDisplay"));
        closeDisplay_ = reinterpret_cast<CloseDisplay>(::dlsym(x11_, "XCloseDisplay"));
        keycode_ = reinterpret_cast<Keycode>(::dlsym(x11_, "XKeysymToKeycode"));
        flush_ = reinterpret_cast<Flush>(::dlsym(x11_, "XFlush"));
        fakeKey_ = reinterpret_cast<FakeKey>(::dlsym(xtst_, "XTestFakeKeyEvent"));
        fakeMotion_ = reinterpret_cast<FakeMotion>(::dlsym(xtst_, "XTestFakeMotionEvent"));
        setFocus_ = reinterpret_cast<SetFocus>(::dlsym(x11_, "XSetInputFocus"));
        fakeButton_ = reinterpret_cast<FakeButton>(::dlsym(xtst_, "XTestFakeButtonEvent"));
        queryTree_ = reinterpret_cast<QueryTree>(::dlsym(x11_, "XQueryTree"));
        fetchName_ = reinterpret_cast<FetchName>(::dlsym(x11_, "XFetchName"));
        free_ = reinterpret_cast<Free>(::dlsym(x11_, "XFree"));
        geometry_ = reinterpret_cast<Geometry>(::dlsym(x11_, "XGetGeometry"));
        internAtom_ = reinterpret_cast<InternAtom>(::dlsym(x11_, "XInternAtom"));
        property_ = reinterpret_cast<Property>(::dlsym(x11_, "XGetWindowProperty"));
        selectionOwner_ = reinterpret_cast<SelectionOwner>(::dlsym(x11_, "XGetSelectionOwner"));
        defaultRoot_ = reinterpret_cast<DefaultRoot>(::dlsym(x11_, "XDefaultRootWindow"));
        if (openDisplay_ && closeDisplay_ && keycode_ && flush_ && fakeKey_ && fakeMotion_ && setFocus_ &&
            fakeButton_ && queryTree_ && fetchName_ && free_ && geometry_ && internAtom_ && property_ &&
            selectionOwner_ && defaultRoot_) {
            display_ = openDisplay_(displayName.c_str());
        }
    }
    ~KeyTyper() {
        if (display_) closeDisplay_(display_);
        if (xtst_) ::dlclose(xtst_);
        if (x11_) ::dlclose(x11_);
    }
    KeyTyper(const KeyTyper&) = delete;
    KeyTyper& operator=(const KeyTyper&) = delete;

    bool available() const { return display_ != nullptr; }

    // The pointer over the top left of the screen, where the window is.
    void pointAtWindow() {
        fakeMotion_(display_, -1, 300, 300, 0);
        flush_(display_);
    }
    // `key` pressed and released, with Control held when `control`.
    void press(KeySym key, bool control = false) {
        const unsigned ctrl = keycode_(display_, XK_Control_L);
        if (control) fakeKey_(display_, ctrl, 1, 0);
        fakeKey_(display_, keycode_(display_, key), 1, 0);
        fakeKey_(display_, keycode_(display_, key), 0, 0);
        if (control) fakeKey_(display_, ctrl, 0, 0);
        flush_(display_);
        std::this_thread::sleep_for(20ms);  // lets the program take one key at a time
    }
    // The keyboard focus taken from every window, as when the user moves to
    // another program.
    void focusNothing() {
        setFocus_(display_, 0 /* None */, 0 /* RevertToNone */, 0 /* CurrentTime */);
        flush_(display_);
    }
    // `key` pressed and released with the modifier keys `held` down.
    void chord(std::initializer_list<KeySym> held, KeySym key) {
        for (KeySym modifier : held) fakeKey_(display_, keycode_(display_, modifier), 1, 0);
        fakeKey_(display_, keycode_(display_, key), 1, 0);
        fakeKey_(display_, keycode_(display_, key), 0, 0);
        for (KeySym modifier : held) fakeKey_(display_, keycode_(display_, modifier), 0, 0);
        flush_(display_);
        std::this_thread::sleep_for(20ms);
    }
    void type(std::string_view lowerCaseLetters) {
        for (char letter : lowerCaseLetters) press(static_cast<KeySym>(XK_a + (letter - 'a')));
    }

    // The pointer moved to (x, y), or its first button pressed or released,
    // with a pause for the program to take it in.
    void moveTo(int x, int y) {
        fakeMotion_(display_, -1, x, y, 0);
        flush_(display_);
        std::this_thread::sleep_for(30ms);
    }
    void button(bool pressed) {
        fakeButton_(display_, 1, pressed ? 1 : 0, 0);
        flush_(display_);
        std::this_thread::sleep_for(100ms);
    }
    // Whether a window manager has taken the screen.
    bool windowManaged() { return selectionOwner_(display_, internAtom_(display_, "WM_S0", 0)) != 0; }
    // The visible part of the top-level window titled `title` (its invisible
    // client-side shadow, which GTK names in _GTK_FRAME_EXTENTS, left out),
    // once it has been mapped and framed; none when there is no such window.
    std::optional<Area> visibleWindow(std::string_view title) {
        XWindow root = defaultRoot_(display_), parent = 0;
        XWindow* children = nullptr;
        unsigned count = 0;
        std::optional<Area> found;
        if (!queryTree_(display_, root, &root, &parent, &children, &count)) return found;
        for (unsigned index = 0; index < count && !found; ++index) {
            char* name = nullptr;
            if (!fetchName_(display_, children[index], &name) || !name) continue;
            const bool named = title == name;
            free_(name);
            if (!named) continue;
            XWindow geometryRoot = 0;
            int x = 0, y = 0;
            unsigned width = 0, height = 0, border = 0, depth = 0;
            if (!geometry_(display_, children[index], &geometryRoot, &x, &y, &width, &height, &border, &depth))
                continue;
            const std::vector<long> extents = cardinals(children[index], "_GTK_FRAME_EXTENTS");
            if (extents.size() != 4) continue;
            found = Area{x + static_cast<int>(extents[0]), y + static_cast<int>(extents[2]),
                         static_cast<int>(width - extents[0] - extents[1]),
                         static_cast<int>(height - extents[2] - extents[3])};
        }
        if (children) free_(children);
        return found;
    }

private:
    std::vector<long> cardinals(XWindow window, const char* name) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        std::vector<long> values;
        if (property_(display_, window, internAtom_(display_, name, 0), 0, 16, 0, 0 /* AnyPropertyType */, &type,
                      &format, &items, &after, &data) == 0 &&
            data && format == 32) {
            const auto* longs = reinterpret_cast<const long*>(data);
            values.assign(longs, longs + items);
        }
        if (data) free_(data);
        return values;
    }

    using OpenDisplay = Display* (*)(const char*);
    using CloseDisplay = int (*)(Display*);
    using Keycode = KeyCode (*)(Display*, KeySym);
    using Flush = int (*)(Display*);
    using FakeKey = int (*)(Display*, unsigned, int, unsigned long);
    using FakeMotion = int (*)(Display*, int, int, int, unsigned long);
    using SetFocus = int (*)(Display*, unsigned long, int, unsigned long);
    using FakeButton = int (*)(Display*, unsigned, int, unsigned long);
    using QueryTree = int (*)(Display*, XWindow, XWindow*, XWindow*, XWindow**, unsigned*);
    using FetchName = int (*)(Display*, XWindow, char**);
    using Free = int (*)(void*);
    using Geometry = int (*)(Display*, XWindow, XWindow*, int*, int*, unsigned*, unsigned*, unsigned*, unsigned*);
    using InternAtom = Atom (*)(Display*, const char*, int);
    using Property = int (*)(Display*, XWindow, Atom, long, long, int, Atom, Atom*, int*, unsigned long*,
                             unsigned long*, unsigned char**);
    using SelectionOwner = XWindow (*)(Display*, Atom);
    using DefaultRoot = XWindow (*)(Display*);

    void* x11_ = nullptr;
    void* xtst_ = nullptr;
    OpenDisplay openDisplay_ = nullptr;
    CloseDisplay closeDisplay_ = nullptr;
    Keycode keycode_ = nullptr;
    Flush flush_ = nullptr;
    FakeKey fakeKey_ = nullptr;
    FakeMotion fakeMotion_ = nullptr;
    SetFocus setFocus_ = nullptr;
    FakeButton fakeButton_ = nullptr;
    QueryTree queryTree_ = nullptr;
    FetchName fetchName_ = nullptr;
    Free free_ = nullptr;
    Geometry geometry_ = nullptr;
    InternAtom internAtom_ = nullptr;
    Property property_ = nullptr;
    SelectionOwner selectionOwner_ = nullptr;
    DefaultRoot defaultRoot_ = nullptr;
    Display* display_ = nullptr;
};

class LarkspinProgram : public ::testing::Test {
protected:
    void SetUp() override {
        bus_ = std::make_unique<test::LaunchedProgram>(
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1"},
            std::map<std::string, std::string>{});
        ASSERT_TRUE(bus_->started());
        ASSERT_TRUE(bus_->waitForOutput("\n", bound)) << bus_->output();
        std::smatch match;
        const std::string output = bus_->output();
        ASSERT_TRUE(std::regex_search(output, match, std::regex("unix:[^\\s]+"))) << output;
        address_ = match.str();
        fs::create_directories(home_ / "docs");
    }

    // Runs gdbus on the test's bus; its output, empty when it failed.
    std::string gdbus(std::vector<std::string> arguments) {
        std::vector<std::string> argv{"gdbus", "call", "--session"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        test::LaunchedProgram call(argv, {{"DBUS_SESSION_BUS_ADDRESS", address_}});
        const auto status = call.waitForExit(bound);
        if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) return {};
        return call.output();
    }

    // The program's environment: the temporary home, the test's bus, the
    // whole log. As a test host each process stands alone; otherwise it is
    // the one instance on the test's bus and restores drafts.
    std::map<std::string, std::string> environment(bool testHost) const {
        return {
            {"DBUS_SESSION_BUS_ADDRESS", address_},
            {testHostVariable, testHost ? "larkspin-tests" : ""},
            {"HOME", (home_ / "home").string()},
            {"XDG_CONFIG_HOME", (home_ / "config").string()},
            {"XDG_DATA_HOME", (home_ / "data").string()},
            {"XDG_STATE_HOME", (home_ / "state").string()},
            {"XDG_CACHE_HOME", (home_ / "cache").string()},
            {"G_MESSAGES_DEBUG", "dev.corvantel.larkspin"},
            {"LARKSPIN_LOG_PRIVATE", "1"},
        };
    }

    std::unique_ptr<test::LaunchedProgram> start(std::vector<fs::path> files, bool testHost,
                                                 std::string display = {},
                                                 std::map<std::string, std::string> more = {}) {
        std::vector<std::string> argv{std::string(LARKSPIN_TEST_BUILD_DIR) + "/larkspin"};
        for (const auto& file : files) argv.push_back(file.string());
        auto variables = environment(testHost);
        if (!display.empty()) variables["DISPLAY"] = display;
        for (auto& [name, value] : more) variables[name] = value;
        return std::make_unique<test::LaunchedProgram>(argv, variables);
    }

    // A display of the test's own: keys typed through XTest go to the window
    // under the pointer, which on the display the test run shares may belong
    // to another test's process. Empty when no server could start.
    std::string startPrivateDisplay() {
        auto server = test::startPrivateXServer(bound);
        display_ = std::move(server.process);
        return server.name;
    }

    // Starts the program as a test host on a file that does not exist: the
    // error it shows is its first window.
    void launch() {
        program_ = start({home_ / "missing.md"}, true);
        ASSERT_TRUE(program_->started());
        ASSERT_TRUE(program_->waitForOutput(windowShown, bound)) << program_->output();
    }

    fs::path document(std::string_view name, std::string_view text) {
        const fs::path path = home_ / "docs" / name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    static std::string rendered(std::string_view name, int headings) {
        return std::string(name) + " 渲染完成：" + std::to_string(headings) + " 个标题";
    }

    // The program's unique name on the bus, found by its process id.
    std::string busNameOfProgram() {
        const std::string names =
            gdbus({"--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                   "--method", "org.freedesktop.DBus.ListNames"});
        const std::regex unique("'(:[0-9.]+)'");
        for (auto it = std::sregex_iterator(names.begin(), names.end(), unique);
             it != std::sregex_iterator(); ++it) {
            const std::string name = (*it)[1].str();
            const std::string pid = gdbus({"--dest", "org.freedesktop.DBus", "--object-path",
                                           "/org/freedesktop/DBus", "--method",
                                           "org.freedesktop.DBus.GetConnectionUnixProcessID", name});
            if (pid.find("uint32 " + std::to_string(program_->pid()) + ",") != std::string::npos) {
                return name;
            }
        }
        return {};
    }
    bool activateAppAction(const std::string& action) {
        const std::string name = busNameOfProgram();
        if (name.empty()) return false;
        return !gdbus({"--dest", name, "--object-path", "/dev/corvantel/larkspin", "--method",
                       "org.gtk.Actions.Activate", action, "[]", "{}"})
                    .empty();
    }

    void expectCleanExit() {
        const auto status = program_->waitForExit(bound);
        ASSERT_TRUE(status.has_value()) << "still running: " << program_->output();
        ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status) << "\n"
                                        << program_->output();
        EXPECT_EQ(WEXITSTATUS(*status), 0) << program_->output();
        // The session was written on the way out.
        EXPECT_TRUE(fs::exists(sessionFile())) << program_->output();
    }
    void terminate() {
        ASSERT_EQ(::kill(program_->pid(), SIGTERM), 0);
        expectCleanExit();
    }
    fs::path sessionFile() const { return home_ / "state" / "Larkspin" / "session.json"; }
    // Does `act` (a key) until the program logs `line`, within the bound:
    // the window may take the keyboard a moment after its first render.
    template <typename Act>
    bool actUntilLogged(std::string_view line, Act act) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (!program_->waitForOutput(line, 500ms)) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            act();
        }
        return true;
    }
    // Whether the session file names `path` within the bound (it is written
    // half a second after a change).
    bool sessionSoonNames(const fs::path& path) const {
        const auto end = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < end) {
            if (fs::exists(sessionFile()) &&
                test::readFile(sessionFile()).find(path.string()) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    // A killed writer leaves in the program's data folder the file "doc.md"
    // and an unresolved draft of it newer than its last save.
    void leaveDraft() {
        const fs::path folder = home_ / "data" / "Larkspin";
        fs::create_directories(folder);
        std::ofstream(folder / "doc.md", std::ios::binary) << "# Draft\n";
        // Tried again when a save overtook the draft before the kill.
        bool leftDraft = false;
        for (int attempt = 0; attempt < 5 && !leftDraft; ++attempt) {
            test::LaunchedProgram writer(
                {LARKSPIN_DRAFT_CRASH_HELPER, folder.string(), std::to_string(attempt + 1)}, {});
            ASSERT_TRUE(writer.waitForOutput("\nD ", bound)) << writer.output();
            ::kill(writer.pid(), SIGKILL);
            writer.waitForExit(bound);
            const std::string lines = writer.output();
            const auto lastDraft = lines.rfind("\nD ");
            const auto lastSave = lines.rfind("\nS ");
            leftDraft = lastSave == std::string::npos || lastSave < lastDraft;
        }
        ASSERT_TRUE(leftDraft);
    }

    // The files of each group window in the session file, in order.
    using Groups = std::vector<std::vector<std::string>>;
    Groups sessionGroups() const {
        Groups groups;
        std::ifstream file(sessionFile());
        const nlohmann::json session = nlohmann::json::parse(file, nullptr, false);
        if (!session.is_object() || !session.contains("groups")) return groups;
        for (const auto& group : session["groups"]) {
            std::vector<std::string>& names = groups.emplace_back();
            for (const auto& tab : group["tabs"]) names.push_back(fs::path(tab["path"].get<std::string>()).filename());
        }
        return groups;
    }

    // How a tab is pulled off its window: steadily, 20 px a move, or briskly,
    // in three moves, none of them over the window but the first.
    enum class Pull { steady, brisk };
    // Whether the program logs `line` `times` times (or more) within the
    // bound.
    bool loggedTimes(std::string_view line, std::size_t times) {
        const auto end = std::chrono::steady_clock::now() + bound;
        for (;;) {
            const std::string& output = program_->output();
            std::size_t count = 0;
            for (auto at = output.find(line); at != std::string::npos; at = output.find(line, at + line.size())) ++count;
            if (count >= times) return true;
            if (std::chrono::steady_clock::now() >= end) return false;
            program_->waitForOutput("\x01", 100ms);  // reads on for a moment
        }
    }

    // The program on a display of its own with a window manager (metacity,
    // as on a desktop: the windows get GTK's invisible client-side shadow
    // around them), on `names` (each "# Name"), once the window of the last
    // is framed: its visible area in `window`. The display and the window
    // manager stay for the test. Skipped where no window manager can start.
    void startUnderAWindowManager(const std::vector<std::string>& names, KeyTyper::Area& window) {
        if (!windowManager_) {
            const std::string display = startPrivateDisplay();
            ASSERT_FALSE(display.empty()) << "no display of its own";
            managedDisplay_ = display;
            keys_ = std::make_unique<KeyTyper>(display);
            if (!keys_->available()) GTEST_SKIP() << "no XTest on this display";
            windowManager_ = std::make_unique<test::LaunchedProgram>(
                std::vector<std::string>{"metacity", "--replace"}, std::map<std::string, std::string>{{"DISPLAY", display}});
            if (!windowManager_->started()) GTEST_SKIP() << "no window manager (metacity)";
            const auto end = std::chrono::steady_clock::now() + bound;
            while (!keys_->windowManaged()) {
                ASSERT_FALSE(windowManager_->waitForExit(50ms).has_value()) << windowManager_->output();
                ASSERT_LT(std::chrono::steady_clock::now(), end) << "the window manager took no screen";
            }
        }
        // Only the files named: no session of an earlier start.
        fs::remove(sessionFile());
        std::vector<fs::path> files;
        for (const std::string& name : names) files.push_back(document(name, "# " + name + "\n"));
        program_ = start(files, true, managedDisplay_);
        ASSERT_TRUE(program_->waitForOutput(rendered(names.back(), 1), bound)) << program_->output();
        const auto end = std::chrono::steady_clock::now() + bound;
        std::optional<KeyTyper::Area> framed;
        while (!(framed = keys_->visibleWindow(names.back()))) {
            ASSERT_LT(std::chrono::steady_clock::now(), end) << "no framed window";
            std::this_thread::sleep_for(50ms);
        }
        window = *framed;
    }

    // The tab `index` (from 0) of the `count` in `window`'s tab bar (below
    // its header bar) pulled down out of the window, 45 px below its visible
    // edge, on the bare desktop, the button still held; returns once the
    // program has logged the drag's begin for the `nth` time.
    void pullTabBelow(const KeyTyper::Area& window, int index, int count, Pull pull, std::size_t nth = 1) {
        const int x = window.x + window.width * (2 * index + 1) / (2 * count);
        const int y = window.y + 70;
        const int below = window.y + window.height + 45;
        keys_->moveTo(x, y);
        keys_->button(true);
        if (pull == Pull::steady) {
            for (int step = y + 4; step < below; step += 20) keys_->moveTo(x, step);
        } else {
            for (const int step : {window.y + window.height / 2, window.y + window.height + 20}) keys_->moveTo(x, step);
        }
        keys_->moveTo(x, below);
        ASSERT_TRUE(loggedTimes(dragBegan, nth)) << program_->output();
    }

    // The program on "one.md" and "two.md" under a window manager, the second
    // tab pulled off the window.
    void dragTheSecondTabBelowTheWindow(Pull pull = Pull::steady) {
        KeyTyper::Area window;
        ASSERT_NO_FATAL_FAILURE(startUnderAWindowManager({"one.md", "two.md"}, window));
        if (IsSkipped()) return;
        ASSERT_NO_FATAL_FAILURE(pullTabBelow(window, 1, 2, pull));
    }

    static constexpr std::string_view dragBegan = "标签页开始拖动";
    static constexpr std::string_view escaped = "拖动已由 Esc 取消";

    test::TempDir homeDir_;
    const fs::path& home_ = homeDir_.path();
    std::unique_ptr<test::LaunchedProgram> bus_;
    std::string address_;
    std::unique_ptr<test::LaunchedProgram> display_;  // before the program: goes after it
    std::unique_ptr<KeyTyper> keys_;
    std::unique_ptr<test::LaunchedProgram> windowManager_;
    std::string managedDisplay_;
    std::unique_ptr<test::LaunchedProgram> program_;
};

TEST_F(LarkspinProgram, QuitsOnTermination) {
    ASSERT_NO_FATAL_FAILURE(launch());
    terminate();
}

TEST_F(LarkspinProgram, TakesAllTheDescriptorsItMaySoThatALargeSessionStillOpens) {
    // Started with the usual low soft limit (each open document holds a
    // descriptor, and WebKit ends a program that runs out).
    struct rlimit mine {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &mine), 0);
    if (mine.rlim_max <= 256) GTEST_SKIP() << "the hard limit is already low";
    struct rlimit low = mine;
    low.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    program_ = start({home_ / "missing.md"}, true);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &mine), 0);
    ASSERT_TRUE(program_->started());
    ASSERT_TRUE(program_->waitForOutput(windowShown, bound)) << program_->output();
    const std::string limits =
        test::readFile("/proc/" + std::to_string(program_->pid()) + "/limits");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(limits, found, std::regex(R"(Max open files\s+(\S+)\s+(\S+))")))
        << limits;
    EXPECT_EQ(found[1].str(), found[2].str()) << limits;
    terminate();
}

TEST_F(LarkspinProgram, AFileThatCannotBeOpenedIsReportedForWhatItIs) {
    // A link leading back to itself is there by name: not "missing".
    fs::create_symlink("loop.md", home_ / "docs" / "loop.md");
    program_ = start({home_ / "docs" / "loop.md", home_ / "docs" / "absent.md"}, true);
    ASSERT_TRUE(program_->started());
    EXPECT_TRUE(program_->waitForOutput("打开 absent.md 失败：文件不存在", bound))
        << program_->output();
    EXPECT_TRUE(program_->waitForOutput("打开 loop.md 失败：符号链接循环", bound))
        << program_->output();
    EXPECT_EQ(program_->output().find("打开 loop.md 失败：文件不存在"), std::string::npos)
        << program_->output();
    terminate();
}

TEST_F(LarkspinProgram, QuitsOnTheQuitActionOverDBus) {
    ASSERT_NO_FATAL_FAILURE(launch());
    EXPECT_TRUE(activateAppAction("quit")) << program_->output();
    expectCleanExit();
}

TEST_F(LarkspinProgram, OpensTheSettingsWindowAndStillQuitsCleanly) {
    ASSERT_NO_FATAL_FAILURE(launch());
    const std::string name = busNameOfProgram();
    ASSERT_FALSE(name.empty()) << program_->output();
    const std::vector<std::string> object{"--dest", name, "--object-path", "/dev/corvantel/larkspin"};
    auto call = [&](std::vector<std::string> method) {
        std::vector<std::string> arguments = object;
        arguments.insert(arguments.end(), method.begin(), method.end());
        return gdbus(arguments);
    };
    // Enabled now that the window exists to be opened.
    EXPECT_EQ(call({"--method", "org.gtk.Actions.Describe", "settings"}).rfind("((true,", 0), 0u)
        << program_->output();
    EXPECT_FALSE(call({"--method", "org.gtk.Actions.Activate", "settings", "[]", "{}"}).empty());
    EXPECT_FALSE(call({"--method", "org.gtk.Actions.Activate", "quit", "[]", "{}"}).empty());
    expectCleanExit();
}

// Two files become tabs in the order given, the last one selected and
// rendered, with its outline (the other renders once it is shown); a second
// launch hands its file to the running instance, which adds a tab; a file
// changed on disk is shown again.
TEST_F(LarkspinProgram, OpensFilesFromTheCommandLineAndFromASecondLaunchAndFollowsTheirChanges) {
    // The first file is the larger: its read tends to end last.
    std::string longer = "# Alpha\n\nfirst\n\n## Alpha two\n\n";
    for (int line = 0; line < 20000; ++line) longer += "more text of the first file\n";
    const fs::path alpha = document("alpha.md", longer);
    const fs::path beta = document("beta.md", "# Beta\n\nsecond\n\n## Beta two\n");
    const fs::path gamma = document("gamma.md", "# Gamma\n");
    program_ = start({alpha, beta}, false);
    ASSERT_TRUE(program_->waitForOutput(rendered("beta.md", 2), bound)) << program_->output();
    EXPECT_TRUE(program_->waitForOutput("目录：2 行 Beta / Beta two", bound)) << program_->output();
    {
        // Each page comes in the order given: the last one is brought
        // forward with the first already beside it.
        const std::string output = program_->output();
        const auto shown = output.find("beta.md 窗口已显示");
        ASSERT_NE(shown, std::string::npos) << output;
        const std::string line = output.substr(shown, output.find('\n', shown) - shown);
        EXPECT_NE(line.find("所在标签组含 2 个标签"), std::string::npos) << line;
    }

    auto second = start({gamma}, false);
    const auto status = second->waitForExit(bound);
    ASSERT_TRUE(status.has_value()) << "the second launch stayed: " << second->output();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << second->output();
    EXPECT_TRUE(program_->waitForOutput(rendered("gamma.md", 1), bound)) << program_->output();

    // Beta, hidden behind gamma now, keeps its web view and follows its file.
    std::ofstream(beta, std::ios::binary | std::ios::trunc) << "# Changed\n\n## Twice\n\n### Thrice\n";
    EXPECT_TRUE(program_->waitForOutput("目录：3 行 Changed / Twice / Thrice", bound))
        << program_->output();
    EXPECT_TRUE(program_->waitForOutput("启动 2s 后", bound)) << program_->output();

    // A followed move reaches the session file, which a relaunch after a
    // kill reads.
    const fs::path moved = home_ / "docs" / "gamma-moved.md";
    fs::rename(gamma, moved);
    EXPECT_TRUE(program_->waitForOutput("源文件已移动：gamma-moved.md", bound))
        << program_->output();
    EXPECT_TRUE(sessionSoonNames(moved)) << test::readFile(sessionFile());
    terminate();
}

// A file that is not there is said so, and holds up no other open: the one
// named after it on the command line, and one a second launch hands over.
TEST_F(LarkspinProgram, AMissingFileOnTheCommandLineHoldsUpNoLaterOpen) {
    const fs::path present = document("present.md", "# Present\n");
    const fs::path later = document("later.md", "# Later\n");
    program_ = start({home_ / "missing.md", present}, false);
    ASSERT_TRUE(program_->waitForOutput("missing.md 失败：文件不存在", bound)) << program_->output();
    EXPECT_TRUE(program_->waitForOutput(rendered("present.md", 1), bound)) << program_->output();
    auto second = start({later}, false);
    ASSERT_TRUE(second->waitForExit(bound).has_value()) << second->output();
    EXPECT_TRUE(program_->waitForOutput(rendered("later.md", 1), bound)) << program_->output();
    terminate();
}

TEST_F(LarkspinProgram, CtrlFFindsAWordTypedIntoTheFindBar) {
    const std::string display = startPrivateDisplay();
    ASSERT_FALSE(display.empty()) << "no display of its own";
    KeyTyper keys(display);
    if (!keys.available()) GTEST_SKIP() << "no XTest on this display";
    const fs::path path = document("wind.md", "# Winds\n\nThe zephyr rose; a second zephyr fell.\n");
    program_ = start({path}, true, display);
    ASSERT_TRUE(program_->waitForOutput(rendered("wind.md", 1), bound)) << program_->output();
    keys.pointAtWindow();
    ASSERT_TRUE(actUntilLogged("查找条显示", [&] { keys.press(XK_f, true); })) << program_->output();
    keys.type("zephyr");
    EXPECT_TRUE(program_->waitForOutput("查找结果：2 处", bound)) << program_->output();
    terminate();
}

// A killed writer leaves a draft of unsaved text; the next launch brings it
// back into its document, and quitting then asks about it first.
TEST_F(LarkspinProgram, ADraftLeftByAKilledInstanceComesBackAndQuittingAsksAboutIt) {
    const fs::path folder = home_ / "data" / "Larkspin";
    ASSERT_NO_FATAL_FAILURE(leaveDraft());

    program_ = start({folder / "doc.md"}, false);
    ASSERT_TRUE(program_->waitForOutput("启动恢复完成：1 份文档", bound)) << program_->output();
    EXPECT_TRUE(activateAppAction("quit")) << program_->output();
    EXPECT_TRUE(program_->waitForOutput("关闭前询问：doc.md", bound)) << program_->output();
    // Still there, unanswered, when it is ended from outside.
    EXPECT_FALSE(program_->waitForExit(0ms).has_value());
    terminate();
    // Ended without closing its document: the draft is still unresolved and
    // comes back again.
    program_ = start({folder / "doc.md"}, false);
    EXPECT_TRUE(program_->waitForOutput("启动恢复完成：1 份文档", bound)) << program_->output();
    terminate();
}

TEST_F(LarkspinProgram, RestoresTwoGroupWindowsFromTheSessionExactlyAsSaved) {
    std::vector<fs::path> paths;
    for (const char* name : {"one.md", "two.md", "three.md", "four.md", "five.md"}) {
        paths.push_back(document(name, std::string("# ") + name + "\n"));
    }
    auto tab = [&](std::size_t file, int token, int index, bool selected) {
        return nlohmann::json{{"path", paths[file].string()},
                              {"Orvik.tab.present", true},
                              {"Orvik.tab.groupToken", token},
                              {"Orvik.tab.index", index},
                              {"Orvik.tab.isSelected", selected}};
    };
    const nlohmann::json saved{
        {"version", 1},
        {"groups",
         {{{"width", 900}, {"height", 700},
           {"tabs", {tab(0, 1, 0, false), tab(1, 1, 1, true), tab(2, 1, 2, false)}}},
          {{"width", 1000}, {"height", 640}, {"tabs", {tab(3, 2, 0, true), tab(4, 2, 1, false)}}}}}};
    // A file gone since is left out, and nothing else changes.
    nlohmann::json given = saved;
    paths.push_back(home_ / "docs" / "gone.md");
    given["groups"][1]["tabs"].push_back(tab(5, 2, 2, false));
    fs::create_directories(sessionFile().parent_path());
    std::ofstream(sessionFile()) << given.dump();

    program_ = start({}, true);
    ASSERT_TRUE(program_->waitForOutput("会话已恢复：2 个窗口，5 份文档，1 个文件已不在", bound))
        << program_->output();
    for (const char* name : {"two.md", "four.md"}) {
        EXPECT_TRUE(program_->waitForOutput(rendered(name, 1), bound)) << name << program_->output();
    }
    terminate();
    // What the program keeps on the way out is what it was given.
    std::ifstream file(sessionFile());
    const nlohmann::json kept = nlohmann::json::parse(file, nullptr, false);
    EXPECT_EQ(kept, saved) << kept.dump(1);
}

// Any bytes but "/" make a file name on Linux; what is shown of one is UTF-8,
// the rest marked (U+FFFD). Opened from the command line, then handed over
// by a second launch to the running instance, which keeps its tabs.
TEST_F(LarkspinProgram, OpensFilesWhoseNamesAreNotUtf8FromTheCommandLineAndASecondLaunch) {
    const fs::path first = document("caf\xE9.md", "# One\n");
    const fs::path second = document("\xE4\xB8 two.md", "# Two\n");
    program_ = start({first}, false);
    ASSERT_TRUE(program_->waitForOutput(rendered("caf\uFFFD.md", 1), bound)) << program_->output();
    EXPECT_TRUE(program_->waitForOutput("打开完成 caf\uFFFD.md：documentWasAlreadyOpen=false 打开后文档数=1", bound))
        << program_->output();

    auto again = start({second}, false);
    const auto status = again->waitForExit(bound);
    ASSERT_TRUE(status.has_value()) << again->output();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << again->output();
    EXPECT_TRUE(program_->waitForOutput(rendered("\uFFFD\uFFFD two.md", 1), bound)) << program_->output();
    EXPECT_TRUE(program_->waitForOutput("窗口已显示，显式并入标签组=true，所在标签组含 2 个标签", bound))
        << program_->output();
    terminate();
}

// A draft whose file was renamed to such a name since: the launch finds the
// file by its bookmark and brings the draft back into it. Launched with no
// file, the restored document is what shows: no open dialog beside it.
TEST_F(LarkspinProgram, ADraftOfAFileRenamedToANameThatIsNotUtf8ComesBackWithoutTheOpenDialog) {
    ASSERT_NO_FATAL_FAILURE(leaveDraft());
    const fs::path folder = home_ / "data" / "Larkspin";
    fs::rename(folder / "doc.md", folder / "d\xF6" "c.md");
    program_ = start({}, false);
    ASSERT_TRUE(program_->waitForOutput("启动恢复完成：1 份文档", bound)) << program_->output();
    EXPECT_TRUE(program_->waitForOutput("d\uFFFDc.md 窗口已显示", bound)) << program_->output();
    ASSERT_TRUE(program_->waitForOutput("启动 2s 后", bound)) << program_->output();
    EXPECT_EQ(program_->output().find("打开面板已显示"), std::string::npos) << program_->output();
    terminate();
}

// With the open dialog up over a document that holds unsaved text, leaving
// the application (the keyboard focus goes to no window of it) writes the
// draft.
TEST_F(LarkspinProgram, LeavingTheApplicationWithTheOpenDialogUpFlushesTheDrafts) {
    const std::string display = startPrivateDisplay();
    ASSERT_FALSE(display.empty()) << "no display of its own";
    KeyTyper keys(display);
    if (!keys.available()) GTEST_SKIP() << "no XTest on this display";
    ASSERT_NO_FATAL_FAILURE(leaveDraft());
    program_ = start({}, false, display);
    ASSERT_TRUE(program_->waitForOutput("启动恢复完成：1 份文档", bound)) << program_->output();
    ASSERT_TRUE(program_->waitForOutput("doc.md 渲染完成：", bound)) << program_->output();
    EXPECT_TRUE(activateAppAction("open")) << program_->output();
    ASSERT_TRUE(program_->waitForOutput("打开面板已显示", bound)) << program_->output();
    EXPECT_EQ(program_->output().find("失活：刷新"), std::string::npos) << program_->output();
    keys.focusNothing();
    EXPECT_TRUE(program_->waitForOutput("失活：刷新 1 份文档的草稿", bound)) << program_->output();
    terminate();
}

// A file named at launch comes in front of the windows the session brings
// back, and has the keyboard.
TEST_F(LarkspinProgram, AFileNamedAtLaunchComesInFrontOfTheRestoredSession) {
    const std::string display = startPrivateDisplay();
    ASSERT_FALSE(display.empty()) << "no display of its own";
    std::vector<fs::path> restored;
    for (const char* name : {"old1.md", "old2.md"}) restored.push_back(document(name, "# Old\n"));
    const fs::path asked = document("asked.md", "# Asked\n");
    auto tab = [](const fs::path& path, int token) {
        return nlohmann::json{{"path", path.string()},     {"Orvik.tab.present", true},
                              {"Orvik.tab.groupToken", token}, {"Orvik.tab.index", 0},
                              {"Orvik.tab.isSelected", true}};
    };
    const nlohmann::json saved{
        {"version", 1},
        {"groups",
         {{{"width", 800}, {"height", 600}, {"tabs", {tab(restored[0], 1)}}},
          {{"width", 800}, {"height", 600}, {"tabs", {tab(restored[1], 2)}}}}}};
    fs::create_directories(sessionFile().parent_path());
    std::ofstream(sessionFile()) << saved.dump();

    program_ = start({asked}, true, display);
    ASSERT_TRUE(program_->waitForOutput("会话已恢复：2 个窗口，2 份文档", bound)) << program_->output();
    ASSERT_TRUE(program_->waitForOutput("启动 2s 后", bound)) << program_->output();
    const std::string output = program_->output();
    const auto line = output.find("窗口状态（启动 2s 后）");
    ASSERT_NE(line, std::string::npos) << output;
    EXPECT_NE(output.find("key=asked.md front=asked.md", line), std::string::npos) << output;
    terminate();
}

// The file-path items are there for the document's window: its path is
// copied by Alt+Shift+Ctrl+C. (Showing it in the file manager is left to the
// menu surface test: here it would open the desktop's file manager.)
TEST_F(LarkspinProgram, CopiesTheFilePathByItsKey) {
    const std::string display = startPrivateDisplay();
    ASSERT_FALSE(display.empty()) << "no display of its own";
    KeyTyper keys(display);
    if (!keys.available()) GTEST_SKIP() << "no XTest on this display";
    const fs::path path = document("path.md", "# Path\n");
    program_ = start({path}, true, display);
    ASSERT_TRUE(program_->waitForOutput(rendered("path.md", 1), bound)) << program_->output();
    keys.pointAtWindow();
    ASSERT_TRUE(actUntilLogged("复制文件路径：doc=",
                               [&] { keys.chord({XK_Control_L, XK_Shift_L, XK_Alt_L}, XK_c); }))
        << program_->output();
    EXPECT_TRUE(program_->waitForOutput(path.string(), bound)) << program_->output();
    terminate();
}

// Help that cannot reach a browser (no application is registered: the data
// folders are the test's own, empty) tells the user so.
TEST_F(LarkspinProgram, HelpThatCannotOpenTheBrowserSaysSo) {
    fs::create_directories(home_ / "no-applications");
    program_ = start({home_ / "missing.md"}, true, {},
                     {{"XDG_DATA_DIRS", (home_ / "no-applications").string()}});
    ASSERT_TRUE(program_->waitForOutput(windowShown, bound)) << program_->output();
    EXPECT_TRUE(activateAppAction("help")) << program_->output();
    ASSERT_TRUE(program_->waitForOutput("结果=false", bound)) << program_->output();
    EXPECT_TRUE(program_->waitForOutput("提示：无法打开帮助", bound)) << program_->output();
    terminate();
}

// Showing a file in the file manager where none can start (no file manager
// on the test's bus, no application for folders) says so over the window.
TEST_F(LarkspinProgram, ShowingAFileWhereNoFileManagerCanStartSaysSo) {
    fs::create_directories(home_ / "no-applications");
    const fs::path path = document("shown.md", "# Shown\n");
    program_ = start({path}, true, {}, {{"XDG_DATA_DIRS", (home_ / "no-applications").string()}});
    ASSERT_TRUE(program_->waitForOutput(rendered("shown.md", 1), bound)) << program_->output();
    const std::string name = busNameOfProgram();
    ASSERT_FALSE(name.empty()) << program_->output();
    EXPECT_FALSE(gdbus({"--dest", name, "--object-path", "/dev/corvantel/larkspin/window/1", "--method",
                        "org.gtk.Actions.Activate", "reveal-in-file-manager", "[]", "{}"})
                     .empty())
        << program_->output();
    ASSERT_TRUE(program_->waitForOutput("打开所在文件夹失败", bound)) << program_->output();
    EXPECT_TRUE(program_->waitForOutput("提示：无法在文件管理器中显示（在窗口上）", bound)) << program_->output();
    terminate();
}

// Files missing on the command line of a launch that restores a window are
// said in one message, over that window, once it is there.
TEST_F(LarkspinProgram, MissingFilesAtLaunchAreSaidInOneMessageOverTheRestoredWindow) {
    const fs::path kept = document("kept.md", "# Kept\n");
    const nlohmann::json saved{
        {"version", 1},
        {"groups",
         {{{"width", 800},
           {"height", 600},
           {"tabs",
            {{{"path", kept.string()},
              {"Orvik.tab.present", true},
              {"Orvik.tab.groupToken", 1},
              {"Orvik.tab.index", 0},
              {"Orvik.tab.isSelected", true}}}}}}}};
    fs::create_directories(sessionFile().parent_path());
    std::ofstream(sessionFile()) << saved.dump();

    program_ = start({home_ / "gone1.md", home_ / "gone2.md", home_ / "gone3.md"}, true);
    ASSERT_TRUE(program_->waitForOutput("会话已恢复：1 个窗口，1 份文档", bound)) << program_->output();
    ASSERT_TRUE(program_->waitForOutput("提示：无法打开文件", bound)) << program_->output();
    ASSERT_TRUE(program_->waitForOutput("启动 2s 后", bound)) << program_->output();
    const std::string output = program_->output();
    for (const char* name : {"gone1.md", "gone2.md", "gone3.md"}) {
        EXPECT_NE(output.find(std::string("打开 ") + name + " 失败：文件不存在"), std::string::npos) << output;
    }
    const auto said = output.find("提示：无法打开文件");
    EXPECT_EQ(output.find("提示：无法打开文件", said + 1), std::string::npos) << "more than one message\n" << output;
    EXPECT_NE(output.find("提示：无法打开文件（在窗口上）"), std::string::npos) << output;
    EXPECT_LT(output.find("会话已恢复"), said) << output;
    terminate();
}

// A tab dropped beside its window, on its shadow or just past it, lies on
// the bare desktop: it gets a window of its own, and the session keeps both.
TEST_F(LarkspinProgram, ATabDroppedBesideItsWindowGetsAWindowOfItsOwn) {
    ASSERT_NO_FATAL_FAILURE(dragTheSecondTabBelowTheWindow());
    if (IsSkipped()) return;
    keys_->button(false);
    EXPECT_TRUE(program_->waitForOutput("标签页拖到桌面上：移入新窗口", bound)) << program_->output();
    EXPECT_TRUE(program_->waitForOutput("two.md 窗口已显示", bound)) << program_->output();
    terminate();
    EXPECT_EQ(sessionGroups(), (Groups{{"one.md"}, {"two.md"}})) << program_->output();
}

// Escape ends a tab's drag, pulled off steadily or briskly: the tab is back
// in its window, and letting go of the button on the desktop afterwards does
// nothing.
TEST_F(LarkspinProgram, EscapeCancelsATabsDragAndTheTabStaysInItsWindow) {
    for (const Pull pull : {Pull::steady, Pull::brisk}) {
        SCOPED_TRACE(pull == Pull::steady ? "steady" : "brisk");
        ASSERT_NO_FATAL_FAILURE(dragTheSecondTabBelowTheWindow(pull));
        if (IsSkipped()) return;
        keys_->press(XK_Escape);
        EXPECT_TRUE(program_->waitForOutput(escaped, bound)) << program_->output();
        keys_->button(false);
        std::this_thread::sleep_for(500ms);
        terminate();
        EXPECT_EQ(program_->output().find("移入新窗口"), std::string::npos) << program_->output();
        EXPECT_EQ(sessionGroups(), (Groups{{"one.md", "two.md"}})) << program_->output();
    }
}

// The window a tab is being dragged out of is closed (the window manager's
// Alt+F4): its other tab closes with it, the dragged one gets a window of its
// own, and the program, which still has a window, goes on.
TEST_F(LarkspinProgram, ClosingTheWindowATabIsDraggedOutOfKeepsThatTabInAWindow) {
    for (const Pull pull : {Pull::steady, Pull::brisk}) {
        SCOPED_TRACE(pull == Pull::steady ? "steady" : "brisk");
        ASSERT_NO_FATAL_FAILURE(dragTheSecondTabBelowTheWindow(pull));
        if (IsSkipped()) return;
        keys_->chord({XK_Alt_L}, XK_F4);
        EXPECT_TRUE(program_->waitForOutput("拖动中的标签页移入新窗口", bound)) << program_->output();
        EXPECT_TRUE(program_->waitForOutput("one.md 关闭", bound)) << program_->output();
        keys_->button(false);
        EXPECT_FALSE(program_->waitForExit(500ms).has_value()) << program_->output();
        terminate();
        EXPECT_EQ(sessionGroups(), (Groups{{"two.md"}})) << program_->output();
    }
}

// The program ended (SIGTERM, a logout) while a tab is dragged, the button
// still held: the tab is put back, and the session keeps it in its place.
TEST_F(LarkspinProgram, EndingTheProgramMidDragKeepsTheDraggedTabInTheSession) {
    for (const Pull pull : {Pull::steady, Pull::brisk}) {
        SCOPED_TRACE(pull == Pull::steady ? "steady" : "brisk");
        ASSERT_NO_FATAL_FAILURE(dragTheSecondTabBelowTheWindow(pull));
        if (IsSkipped()) return;
        terminate();
        keys_->button(false);
        EXPECT_EQ(sessionGroups(), (Groups{{"one.md", "two.md"}})) << program_->output();
    }
}

// After a tab's drag ends, cancelled or dropped, the next press acts: here
// each drag after another begins at once, and the last is dropped on the
// desktop into a window of its own.
TEST_F(LarkspinProgram, EveryDragAfterAnotherDragEndsBegins) {
    KeyTyper::Area window;
    ASSERT_NO_FATAL_FAILURE(startUnderAWindowManager({"one.md", "two.md", "three.md"}, window));
    if (IsSkipped()) return;
    for (std::size_t drag = 1; drag <= 3; ++drag) {
        SCOPED_TRACE("drag " + std::to_string(drag));
        ASSERT_NO_FATAL_FAILURE(pullTabBelow(window, 1, 3, drag % 2 ? Pull::steady : Pull::brisk, drag));
        keys_->press(XK_Escape);
        ASSERT_TRUE(loggedTimes(escaped, drag)) << program_->output();
        keys_->button(false);
    }
    // Dropped: the press after the drop begins the next drag too.
    ASSERT_NO_FATAL_FAILURE(pullTabBelow(window, 1, 3, Pull::steady, 4));
    keys_->button(false);
    ASSERT_TRUE(program_->waitForOutput("标签页拖到桌面上：移入新窗口", bound)) << program_->output();
    terminate();
    EXPECT_EQ(sessionGroups(), (Groups{{"one.md", "three.md"}, {"two.md"}})) << program_->output();
}

// Many files named at once: their pages come over several turns; a file
// opened after them, by a second launch, still gets its page.
TEST_F(LarkspinProgram, AFileOpenedAfterManyAtOnceStillGetsItsPage) {
    std::vector<fs::path> files;
    for (int index = 1; index <= 120; ++index) {
        const std::string name = "m" + std::to_string(index) + ".md";
        files.push_back(document(name, "# " + name + "\n"));
    }
    program_ = start(files, false);
    ASSERT_TRUE(program_->waitForOutput(rendered("m120.md", 1), bound)) << program_->output();
    auto second = start({document("later.md", "# Later\n")}, false);
    ASSERT_TRUE(second->waitForExit(bound).has_value()) << second->output();
    EXPECT_TRUE(program_->waitForOutput(rendered("later.md", 1), bound)) << program_->output();
    terminate();
}

// Quitting while the files named are still opening keeps every one of them
// in the session, in the order named, whether the program is ended from
// outside (SIGTERM, a logout) or by Ctrl+Q; the next launch opens them all.
TEST_F(LarkspinProgram, QuittingWhileFilesAreStillOpeningKeepsEveryOneInTheSession) {
    const std::string display = startPrivateDisplay();
    ASSERT_FALSE(display.empty()) << "no display of its own";
    KeyTyper keys(display);
    if (!keys.available()) GTEST_SKIP() << "no XTest on this display";
    std::vector<fs::path> files;
    std::vector<std::string> names;
    for (int index = 1; index <= 300; ++index) {
        names.push_back("q" + std::to_string(1000 + index) + ".md");
        files.push_back(document(names.back(), "# " + names.back() + "\n\ntext\n"));
    }
    for (const bool bySignal : {true, false}) {
        SCOPED_TRACE(bySignal ? "SIGTERM" : "Quit");
        fs::remove(sessionFile());
        program_ = start(files, true, display);
        ASSERT_TRUE(program_->waitForOutput(windowShown, bound)) << program_->output();
        if (bySignal) {
            terminate();
        } else {
            // Again until the window has the keyboard.
            keys.pointAtWindow();
            const auto end = std::chrono::steady_clock::now() + bound;
            do keys.press(XK_q, true);
            while (!program_->waitForExit(300ms) && std::chrono::steady_clock::now() < end);
            expectCleanExit();
        }
        EXPECT_EQ(sessionGroups(), Groups{names});
    }
    program_ = start({}, true, display);
    EXPECT_TRUE(program_->waitForOutput("会话已恢复：1 个窗口，300 份文档，0 个文件已不在", bound)) << program_->output();
    terminate();
}

// A hundred files missing and one that opens: the missing ones are said in
// one message, once every open has ended, naming the first few.
TEST_F(LarkspinProgram, ManyMissingFilesAreSaidInOneMessageOnceEveryOpenHasEnded) {
    std::vector<fs::path> files;
    for (int index = 0; index < 100; ++index) files.push_back(home_ / "docs" / ("gone" + std::to_string(index) + ".md"));
    std::string longer = "# Present\n\n";
    for (int line = 0; line < 20000; ++line) longer += "a line of the file that opens\n";
    files.push_back(document("present.md", longer));
    program_ = start(files, true);
    ASSERT_TRUE(program_->waitForOutput("提示：无法打开文件", bound)) << program_->output();
    ASSERT_TRUE(program_->waitForOutput(rendered("present.md", 1), bound)) << program_->output();
    ASSERT_TRUE(program_->waitForOutput("启动 2s 后", bound)) << program_->output();
    const std::string output = program_->output();
    const auto said = output.find("提示：无法打开文件");
    EXPECT_EQ(output.find("提示：无法打开文件", said + 1), std::string::npos) << "more than one message\n" << output;
    EXPECT_LT(output.rfind("失败：文件不存在"), said) << "said before every open had ended\n" << output;
    terminate();
}

// Under a hard limit of 256 descriptors, more files than it may watch: the
// program opens every one and keeps working (a later file opens, the file
// shown is followed), says once that some tabs wait, and the session it
// leaves starts again the same way.
TEST_F(LarkspinProgram, MoreFilesThanTheDescriptorLimitAllowsStillOpenAndStartAgain) {
    std::vector<fs::path> files;
    std::vector<std::string> names;
    for (int index = 1; index <= 300; ++index) {
        names.push_back("w" + std::to_string(1000 + index) + ".md");
        files.push_back(document(names.back(), "# " + names.back() + "\n"));
    }
    // The limit is the child's alone: a shell lowers it and becomes the program.
    const auto limited = [&](const std::vector<fs::path>& named) {
        std::vector<std::string> argv{"/bin/sh", "-c", "ulimit -n 256 && exec \"$0\" \"$@\"",
                                      std::string(LARKSPIN_TEST_BUILD_DIR) + "/larkspin"};
        for (const auto& file : named) argv.push_back(file.string());
        return std::make_unique<test::LaunchedProgram>(argv, environment(false));
    };
    const std::string said = "提示：打开的文档太多，部分标签页暂不跟踪文件变化（在窗口上）";
    const auto expectWorking = [&] {
        const std::string output = program_->output();
        EXPECT_EQ(output.find("Too many open files"), std::string::npos) << output;
        EXPECT_EQ(output.find("打开观察描述符失败"), std::string::npos) << output;
        EXPECT_EQ(output.find(said), output.rfind(said)) << "said more than once\n" << output;
    };

    program_ = limited(files);
    ASSERT_TRUE(program_->waitForOutput("打开描述符上限：256", bound)) << program_->output();
    ASSERT_TRUE(program_->waitForOutput(rendered("w1300.md", 1), bound)) << program_->output();
    ASSERT_TRUE(program_->waitForOutput(said, bound)) << program_->output();
    auto second = start({document("later.md", "# Later\n")}, false);
    ASSERT_TRUE(second->waitForExit(bound).has_value()) << second->output();
    ASSERT_TRUE(program_->waitForOutput(rendered("later.md", 1), bound)) << program_->output();
    std::ofstream(home_ / "docs" / "later.md", std::ios::app) << "\n# Again\n";
    EXPECT_TRUE(program_->waitForOutput(rendered("later.md", 2), bound)) << program_->output();
    expectWorking();
    terminate();
    names.push_back("later.md");
    EXPECT_EQ(sessionGroups(), Groups{names});

    program_ = limited({});
    EXPECT_TRUE(program_->waitForOutput("会话已恢复：1 个窗口，301 份文档，0 个文件已不在", bound))
        << program_->output();
    ASSERT_TRUE(program_->waitForOutput(said, bound)) << program_->output();
    expectWorking();
    terminate();
}

}  // namespace
}  // namespace larkspin
