#include "AppRow.h"
#include "MixerView.h"
#include "ModelHarness.h"
#include "UiFakes.h"

#include <QApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <algorithm>
#include <gtest/gtest.h>

// Runs on three offscreen screens (screens.json, scale factors from the test's
// environment): 1024 × 600, 1920 × 1080 at twice the scale (960 × 540 points)
// and 1920 × 1440.
namespace corvalle::ui {
namespace {

QScreen* screenNamed(const char* name) {
    const auto screens = QGuiApplication::screens();
    const auto found = std::ranges::find_if(
        screens, [name](const QScreen* screen) { return screen->name() == QLatin1String(name); });
    return found == screens.end() ? nullptr : *found;
}

TEST(ScreenFit, ThePanelFitsTheScreenAndTheListScrollsTheRest) {
    // Screen, rows, with an error line, the list's height (-1: whatever fits). A
    // tall screen shows more than ten rows.
    const std::tuple<const char*, int, bool, int> fits[] = {
        {"small", 3, false, 132},  {"small", 14, true, -1},  {"double", 4, false, 176},
        {"double", 12, false, -1}, {"tall", 16, false, 704}, {"tall", 40, false, 960}};
    // Without the scale factors the double screen would be tested as a plain one.
    ASSERT_EQ(QGuiApplication::screens().size(), 3);
    ASSERT_EQ(screenNamed("double")->availableGeometry().size(), QSize(960, 540));
    for (const auto& [name, apps, withError, listHeight] : fits) {
        SCOPED_TRACE(std::string(name) + " " + std::to_string(apps));
        test::ModelHarness world;
        test::FakeLoginItem loginItem;
        world.addApps(apps);
        auto& model = world.start();
        QScreen* screen = screenNamed(name);
        ASSERT_NE(screen, nullptr);
        const int available = screen->availableGeometry().height();

        MixerView view(model, loginItem, [] {});
        view.setHeightLimit(available);
        if (withError) {
            world.hardware.setCallFailure(SimCall::createProcessTap, -50);
            model.setVolume(0.5, QStringLiteral("org.app0"));
            ASSERT_TRUE(model.lastError().has_value());
        }
        view.adjustSize();
        view.show();
        QApplication::processEvents();

        auto* list = view.findChild<QScrollArea*>(QStringLiteral("appList"));
        EXPECT_LE(view.height(), available);
        EXPECT_LE(list->height(), static_cast<int>(available * MixerView::kMaxScreenShare));
        EXPECT_GE(list->height(), MixerView::kRowPitch) << "at least one row shows";
        if (listHeight >= 0) {
            EXPECT_EQ(list->height(), listHeight);
        }
        const bool allShown = apps * MixerView::kRowPitch <= list->height();
        EXPECT_EQ(list->verticalScrollBar()->maximum() > 0, !allShown);
    }
}

} // namespace
} // namespace corvalle::ui
