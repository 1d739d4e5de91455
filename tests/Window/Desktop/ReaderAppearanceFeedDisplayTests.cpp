#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "Appearance/AccessibilityDisplaySource.hpp"
#include "Appearance/AppearanceController.hpp"
#include "Appearance/AppearanceTestSupport.hpp"
#include "Appearance/ThemeCatalog.hpp"
#include "Appearance/TypographyController.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/UserDefaults.hpp"
#include "Document/Document.hpp"
#include "Reader/Strips/NoticeBarController.hpp"
#include "Reader/ReaderDisplaySupport.hpp"
#include "Reader/Widgets/DocumentStatusView.hpp"
#include "Support/Display/DocumentControllerDisplay.hpp"
#include "Window/Desktop/ReaderAppearanceFeed.hpp"
#include "Window/Widgets/DocumentPage.hpp"

namespace larkspin {
namespace {

using test::waitFor;

class Accessibility final : public AccessibilityDisplaySource {
public:
    bool contrast = false;
    bool shouldReduceMotion() const override { return false; }
    bool shouldReduceTransparency() const override { return false; }
    bool shouldIncreaseContrast() const override { return contrast; }
    NotificationObserver observeChanges(std::function<void()> onChange) override {
        return changes->addObserver("changed", nullptr, [onChange](const Notification&) { onChange(); });
    }
    void change() { changes->post("changed", nullptr); }
    std::shared_ptr<NotificationCenter> changes = NotificationCenter::create();
};

// The program's open pages and its windows follow the appearance, the
// typography and the desktop's accessibility flags, over stores of the
// test's own.
class ReaderAppearanceFeedDisplayTest : public test::ReaderDisplayTest {
protected:
    void TearDown() override {
        feed.reset();
        test::ReaderDisplayTest::TearDown();
        EXPECT_TRUE(defaults.drainForTesting());
    }
    void makeFeed() {
        feed = std::make_unique<ReaderAppearanceFeed>(
            ReaderAppearanceFeed::Sources{appearance, typography, accessibility, defaults, *center},
            [this](const Theme& theme) { windowThemes.push_back(theme.id); });
    }
    std::string pageCanvas() {
        const auto value = script("return getComputedStyle(document.documentElement)"
                                  ".getPropertyValue('--md-canvas').trim();");
        return value.is_string() ? value.get<std::string>() : value.dump();
    }
    static std::string canvasOf(ThemeID id) {
        return ThemeCatalog::theme(id).cssVariables().at("--md-canvas");
    }

    UserDefaults defaults{dir / "preferences.json"};
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create();
    AppearanceController appearance{defaults, *center, std::make_shared<test::FakeDesktopAppearance>()};
    TypographyController typography{defaults, *center};
    Accessibility accessibility;
    std::vector<ThemeID> windowThemes;
    std::unique_ptr<ReaderAppearanceFeed> feed;
};

TEST_F(ReaderAppearanceFeedDisplayTest, APageMadeInADarkModeRendersDarkAndFollowsEachChange) {
    appearance.select(AppearanceMode::dark);
    makeFeed();
    EXPECT_EQ(windowThemes, std::vector<ThemeID>{ThemeID::graphite});
    show();
    makeReader();
    feed->follow(reader);  // before its page is ready, as a new tab's reader is
    render("# Title\n\nText.\n");
    EXPECT_TRUE(waitFor([&] { return pageCanvas() == canvasOf(ThemeID::graphite); })) << pageCanvas();
    EXPECT_TRUE(waitFor([&] { return reader->diagnostics().lastTypographyApplied.has_value(); }));

    appearance.select(AppearanceMode::light);
    EXPECT_EQ(windowThemes.back(), ThemeID::porcelain);
    EXPECT_TRUE(waitFor([&] { return pageCanvas() == canvasOf(ThemeID::porcelain); })) << pageCanvas();

    const double larger = typography.settings().fontSizePx + 1;
    typography.increaseFontSize();
    EXPECT_TRUE(waitFor([&] {
        const auto& applied = reader->diagnostics().lastTypographyApplied;
        return applied && applied->fontSizePx == larger;
    }));

    accessibility.contrast = true;
    accessibility.change();
    EXPECT_TRUE(waitFor([&] {
        const auto& options = reader->diagnostics().lastAccessibility;
        return options && options->increaseContrast;
    }));
}

// The page's typography names the families really drawn; finding them reads
// fontconfig and the font files, which happens on the workers.
TEST_F(ReaderAppearanceFeedDisplayTest, AStoredFamilyIsResolvedOnTheWorkersBeforeThePageGetsIt) {
    std::atomic<int> onMain{0};
    std::atomic<int> onWorkers{0};
    TypographyController::FontSource fonts = TypographyController::FontSource::installed();
    fonts.resolve = [&onMain, &onWorkers, installed = fonts.resolve](std::string_view name) {
        ++(MainThread::isMainThread() ? onMain : onWorkers);
        return installed(name);
    };
    defaults.setValue(TypographyController::bodyFamilyKey, "\"DejaVu Serif\"");
    TypographyController stored(defaults, *center, fonts);
    feed = std::make_unique<ReaderAppearanceFeed>(
        ReaderAppearanceFeed::Sources{appearance, stored, accessibility, defaults, *center},
        [](const Theme&) {});
    show();
    makeReader();
    feed->follow(reader);
    render("# Title\n\nText.\n");
    EXPECT_TRUE(waitFor([&] {
        const auto& applied = reader->diagnostics().lastTypographyApplied;
        return applied && applied->bodyFamily == "\"DejaVu Serif\"";
    }));
    EXPECT_EQ(onMain.load(), 0);
    EXPECT_GE(onWorkers.load(), 1);
}

TEST_F(ReaderAppearanceFeedDisplayTest, AClosedReaderDropsOut) {
    makeFeed();
    makeReader();
    feed->follow(reader);
    EXPECT_EQ(feed->followedCount(), 1u);
    reader.reset();
    EXPECT_EQ(feed->followedCount(), 0u);
    appearance.select(AppearanceMode::dark);  // nothing left to push to
    EXPECT_EQ(windowThemes.back(), ThemeID::graphite);
}

// A document opened through the program's controller, with the feed the
// program gives it: what its page draws outside the reading page (the
// notice bar, the status page) follows the theme too.
class DocumentAppearanceDisplayTest : public test::DocumentControllerDisplayTest {
protected:
    void SetUp() override {
        test::DocumentControllerDisplayTest::SetUp();
        feed = std::make_shared<ReaderAppearanceFeed>(
            ReaderAppearanceFeed::Sources{appearance, typography, accessibility, defaults, *center},
            nullptr);
        DesktopDocumentController::Dependencies dependencies = controllerDependencies();
        dependencies.appearance = feed;
        makeController(std::move(dependencies));
    }
    void TearDown() override {
        test::DocumentControllerDisplayTest::TearDown();
        feed.reset();
    }

    std::shared_ptr<NotificationCenter> center = NotificationCenter::create();
    AppearanceController appearance{defaults, *center, std::make_shared<test::FakeDesktopAppearance>()};
    TypographyController typography{defaults, *center};
    Accessibility accessibility;
    std::shared_ptr<ReaderAppearanceFeed> feed;
};

TEST_F(DocumentAppearanceDisplayTest, TheNoticeBarAndTheStatusPageShownTakeANewTheme) {
    const auto opened = await(controller->openDocument(dir.write("a.md", "# A\n"), true));
    auto* document = dynamic_cast<Document*>(opened.document.get());
    ASSERT_NE(document, nullptr);
    auto* page = dynamic_cast<DocumentPage*>(document->window());
    ASSERT_NE(page, nullptr);
    document->setExternalIssue(ExternalIssue::missing());
    ASSERT_TRUE(page->noticeBar()->content().has_value());
    DocumentStatusContent status;
    status.title = "Status";
    document->reader()->showDocumentStatus(status);
    const DocumentStatusView* statusView = page->readerView()->statusView();
    ASSERT_NE(statusView, nullptr);
    ASSERT_EQ(statusView->theme()->id, ThemeID::porcelain);

    appearance.select(AppearanceMode::dark);
    EXPECT_EQ(page->noticeBar()->theme().id, ThemeID::graphite) << "the bar shown";
    EXPECT_EQ(statusView->theme()->id, ThemeID::graphite) << "the status page shown";
    document->clearExternalIssue({});
    document->setExternalIssue(ExternalIssue::saveFailed("disk full"));
    EXPECT_EQ(page->noticeBar()->theme().id, ThemeID::graphite) << "a later bar";
}

}  // namespace
}  // namespace larkspin
