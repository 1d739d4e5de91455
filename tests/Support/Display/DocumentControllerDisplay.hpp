#pragma once

// The program's document controller over the real reading page, as the
// display tests of the layers above Window drive it: real files open in tabs
// of real group windows, and every group window is closed after each test.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <memory>

#include "Platform/UserDefaults.hpp"
#include "Reader/ReaderDisplaySupport.hpp"
#include "Support/Display/RecordingFileManager.hpp"
#include "Support/Display/TestWindowServices.hpp"
#include "Window/Desktop/DesktopDocumentController.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

namespace larkspin::test {

class DocumentControllerDisplayTest : public ReaderDisplayTest {
protected:
    void TearDown() override {
        closeGroupWindows();
        controller.reset();
        MainThread::drainForTesting();
        ReaderDisplayTest::TearDown();
    }

    // The controller's dependencies with this test's reader environment,
    // unsandboxed; a test adds its own and calls makeController, which
    // gives the controller `pageServices` (over this test's preferences and
    // the system clock; a test may set their recovery store first).
    DesktopDocumentController::Dependencies controllerDependencies() {
        DesktopDocumentController::Dependencies dependencies;
        fillEnvironment(dependencies.environment);
        dependencies.environment.webViewFactory = factory.get();
        dependencies.sandboxed = false;
        dependencies.fileManager = fileManager.port();
        return dependencies;
    }
    void makeController(DesktopDocumentController::Dependencies dependencies) {
        controller = DesktopDocumentController::create(pageServices.value(), std::move(dependencies));
    }
    // Closes every group window and waits until they are gone: a clean-up,
    // which waits even after a wait of the test ran out.
    void closeGroupWindows() {
        for (TabGroupWindow* group : pageServices.tabGroups.all()) gtk_window_destroy(group->window());
        EXPECT_TRUE(detail::turnUntil([this] { return pageServices.tabGroups.all().empty(); }, webTimeout))
            << "a group window outlived the test";
        MainThread::drainForTesting();
    }

    UserDefaults defaults{dir.path() / "preferences.json"};
    test::TestWindowServices pageServices{defaults};
    RecordingFileManager fileManager;
    std::shared_ptr<DesktopDocumentController> controller;
};

}  // namespace larkspin::test
