// How the program ends from outside: on SIGTERM and at the session's end the
// application ends its process at once, and the draft of an edited document
// must be on disk, unresolved, before it goes. The program runs in a child
// process (this executable again, on the child's own test below) built as
// the program builds itself: its services, its document controller and shell
// documents, and the application that wires the signal and the session's end
// to its quit control. The parent reads the drafts the child left.

#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "App/ApplicationServices.hpp"
#include "App/Desktop/DesktopShellDocuments.hpp"
#include "App/Desktop/LarkspinApplication.hpp"
#include "App/Desktop/ProgramDocuments.hpp"
#include "App/DocumentLinks.hpp"
#include "Document/Document.hpp"
#include "Platform/Files/FileAccessCheck.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"
#include "Storage/RecoveryStore.hpp"
#include "Support/LaunchedProgram.hpp"
#include "Support/TempDir.hpp"
#include "Web/Desktop/FileManagerReveal.hpp"
#include "Window/Desktop/DesktopDocumentController.hpp"
#include "Window/Desktop/ReaderAppearanceFeed.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Tells the child how to end the program: "signal" or "session".
constexpr const char* endVariable = "LARKSPIN_TEST_END_BY";
constexpr const char* typedText = "# Notes\n\ntyped before the end\n";
constexpr const char* recoveryLine = "recovery folder: ";

// The child: the program as it is built, on one file; once the file has
// rendered its text is changed, and the program is ended the way the parent
// asked. The application ends the process; returning from here is a fault.
TEST(QuitControlChild, DISABLED_EndsAnEditedProgram) {
    const char* endBy = std::getenv(endVariable);
    ASSERT_NE(endBy, nullptr);
    const fs::path folder = fs::path(g_get_user_data_dir()).parent_path() / "docs";
    fs::create_directories(folder);
    const fs::path file = folder / "notes.md";
    std::ofstream(file, std::ios::binary) << "# Notes\n";

    std::unique_ptr<UserDefaults> preferences;
    {
        FileAccessCheck::Allowance allowance;
        preferences = std::make_unique<UserDefaults>(UserDefaults::standardLocation());
    }
    const auto notifications = NotificationCenter::create();
    std::shared_ptr<DesktopDocumentController> controller;
    ApplicationServices* services = nullptr;
    LarkspinApplication application(
        *preferences, *notifications, [&](ApplicationServices& made, GtkApplication* app) {
            services = &made;
            LarkspinApplication::Documents documents = programDocuments(made, app);
            controller = std::dynamic_pointer_cast<DesktopDocumentController>(documents.controller);
            return documents;
        });

    struct Ending {
        std::shared_ptr<DesktopDocumentController>* controller;
        ApplicationServices** services;
        std::string endBy;
        bool edited = false;
    } ending{&controller, &services, endBy};
    // Polled on the program's own loop until the document has rendered.
    g_timeout_add(
        20,
        [](gpointer data) -> gboolean {
            auto* ending = static_cast<Ending*>(data);
            if (!*ending->controller || ending->edited) return G_SOURCE_CONTINUE;
            const auto documents = (*ending->controller)->registry().documents();
            if (documents.empty() || documents.front()->renderCount() < 1) return G_SOURCE_CONTINUE;
            ending->edited = true;
            if (!documents.front()->model().replaceAll(typedText)) std::_Exit(3);
            std::printf("%s%s\n", recoveryLine, (*ending->services)->recoveryStore()->directory().c_str());
            std::fflush(stdout);
            if (ending->endBy == "signal") {
                ::raise(SIGTERM);
            } else {
                // What GTK emits when the session manager ends the session.
                g_signal_emit_by_name(g_application_get_default(), "query-end");
            }
            return G_SOURCE_CONTINUE;
        },
        &ending);
    std::vector<std::string> arguments{"larkspin", file.string()};
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    application.run(static_cast<int>(argv.size()), argv.data());
    std::_Exit(4);
}

// The parent: runs the child, ended one way, and reads what it left.
void expectDraftKeptWhenEndedBy(const std::string& endBy) {
    std::vector<char> self(4096);
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
    ASSERT_GT(length, 0);
    test::LaunchedProgram child({std::string(self.data(), static_cast<std::size_t>(length)),
                                 "--gtest_filter=QuitControlChild.DISABLED_EndsAnEditedProgram",
                                 "--gtest_also_run_disabled_tests"},
                                // On the parent's display; its own run of one test, whatever
                                // the parent's run reports, repeats or shards.
                                {{endVariable, endBy},
                                 {"LARKSPIN_TEST_PRIVATE_DISPLAY", ""},
                                 {"GTEST_OUTPUT", ""},
                                 {"GTEST_REPEAT", ""},
                                 {"GTEST_TOTAL_SHARDS", ""},
                                 {"GTEST_SHARD_INDEX", ""}});
    ASSERT_TRUE(child.started());
    const auto status = child.waitForExit(60s);
    ASSERT_TRUE(status.has_value()) << "still running:\n" << child.output();
    const std::string output = child.output();
    const auto line = output.find(recoveryLine);
    ASSERT_NE(line, std::string::npos) << "never edited:\n" << output;
    const auto start = line + std::string_view(recoveryLine).size();
    const fs::path recovery = output.substr(start, output.find('\n', start) - start);
    // The child's test folder (…/XDG_DATA_HOME/Larkspin/<folder>), which it
    // leaves behind since it never returns.
    const fs::path base = recovery.parent_path().parent_path().parent_path();
    struct Removal {
        fs::path folder;
        ~Removal() {
            std::error_code ignored;
            if (folder.filename().string().starts_with("larkspin-tests-")) fs::remove_all(folder, ignored);
        }
    } removal{base};
    ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status) << "\n" << output;
    EXPECT_EQ(WEXITSTATUS(*status), 0) << output;

    std::vector<RecoveryDraft> unresolved;
    for (RecoveryDraft& draft : RecoveryStore::allDrafts(recovery)) {
        if (!draft.isResolved()) unresolved.push_back(std::move(draft));
    }
    ASSERT_EQ(unresolved.size(), 1u) << output;
    EXPECT_EQ(unresolved.front().content, typedText);
    ASSERT_TRUE(unresolved.front().fileIdentity.has_value());
    EXPECT_EQ(fs::path(unresolved.front().fileIdentity->path).filename(), "notes.md");
    // The file itself is as it was: the text is in the draft only.
    EXPECT_EQ(test::readFile(base / "docs" / "notes.md"), "# Notes\n");
}

TEST(QuitControlDisplay, OnSigtermTheDraftOfAnEditedDocumentIsOnDiskBeforeTheProcessEnds) {
    expectDraftKeptWhenEndedBy("signal");
}

TEST(QuitControlDisplay, AtTheSessionsEndTheDraftOfAnEditedDocumentIsOnDiskBeforeTheProcessEnds) {
    expectDraftKeptWhenEndedBy("session");
}

}  // namespace
}  // namespace larkspin
