// The application's services as a test host builds them: every field of the
// reader's environment is filled, the renderer's files are walked once and
// served to each web view by a handler of its own, and a test host never
// prewarms.

#include <gtest/gtest.h>

#include "App/ApplicationServices.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Reader/Widgets/ReaderView.hpp"
#include "Reader/ReaderViewController.hpp"
#include "Reader/WebViewPrewarmer.hpp"
#include "Support/Display/WebViewHarness.hpp"

namespace larkspin::test {
namespace {

TEST(ApplicationServicesTest, OneEnvironmentForEveryReaderAndNoSpareInATestHost) {
    WebViewHarness harness;
    {
        ApplicationServices services({harness.context(), std::nullopt});
        const ReaderEnvironment environment = services.readerEnvironment();
        EXPECT_TRUE(environment.clock && environment.pasteboard && environment.preferredLocalizations &&
                    environment.currentTheme && environment.prewarmer && environment.workingSet &&
                    environment.webViewFactory == &services.webViewFactory());
        ASSERT_TRUE(environment.rendererFiles) << "the tests run from the build tree";
        EXPECT_EQ(environment.diagramService, services.diagramService());
        EXPECT_EQ(services.prewarmer()->state(), WebViewPrewarmer::State::disabled)
            << "the tests are a test host";
        services.startPrewarming();

        // Two readers, each with a handler of its own over the one manifest.
        std::vector<std::shared_ptr<ReaderViewController>> readers;
        std::vector<std::shared_ptr<ReaderView>> views;
        for (const char* id : {"A", "B"}) {
            views.push_back(std::make_shared<ReaderView>(*environment.webViewFactory));
            readers.push_back(ReaderViewController::create(id, {views.back(), environment}));
            readers.back()->loadView();
        }
        EXPECT_TRUE(readers[0]->hasWebView() && readers[1]->hasWebView());
        const auto sibling = environment.rendererFiles->sibling();
        EXPECT_NE(sibling, environment.rendererFiles);
        EXPECT_EQ(sibling->manifest(), environment.rendererFiles->manifest());
        readers.clear();
        views.clear();
        MainThread::drainForTesting();
    }
    // A reader refuses an environment that would fall back to the desktop.
    ReaderEnvironment partial;
    EXPECT_THROW(ReaderViewController::create("C", {nullptr, partial}), std::invalid_argument);
}

}  // namespace
}  // namespace larkspin::test
