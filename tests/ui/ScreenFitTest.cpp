#include "AppRow.h"
#include "MixerView.h"
#include "ModelHarness.h"
#include "UiFakes.h"

#include <QApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <gtest/gtest.h>

// Runs on three offscreen screens (screens.json, scale factors from the test's
// environment): 1024 × 600, 1920 × 1080 at twice the scale (960 × 540 points)
// and 1920 × 1440.
namespace corvalle::ui {
namespace {

QScreen* screenNamed(const char* name) {
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->name() == QLatin1String(name)) {
            return screen;
        }
    }
    ADD_FAILURE() << "no screen " << name;
    return nullptr;
}

TEST(ScreenFit, TheScreensAreThereAtTheirScale) {
    ASSERT_EQ(QGuiApplication::screens().size(), 3);
    EXPECT_EQ(screenNamed("small")->availableGeometry().size(), QSize(1024, 600));
    EXPECT_EQ(screenNamed("double")->availableGeometry().size(), QSize(960, 540));
    EXPECT_DOUBLE_EQ(screenNamed("double")->devicePixelRatio(), 2.0);
}

struct Fit {
    const char* screen;
    int apps;
    bool withError;
    int listHeight; // -1: whatever fits
};

class ScreenFitTest : public ::testing::TestWithParam<Fit> {};

TEST_P(ScreenFitTest, ThePanelFitsTheScreenAndTheListScrollsTheRest) {
    const Fit fit = GetParam();
    test::ModelHarness world;
    test::FakeLoginItem loginItem;
    world.addApps(fit.apps);
    auto& model = world.start();
    QScreen* screen = screenNamed(fit.screen);
    ASSERT_NE(screen, nullptr);
    const int available = screen->availableGeometry().height();

    MixerView view(model, loginItem, [] {});
    view.setHeightLimit(available);
    if (fit.withError) {
        world.hardware.setCallFailure(SimCall::createProcessTap, -50);
        model.setVolume(0.5, QStringLiteral("org.app0"));
        ASSERT_TRUE(model.lastError().has_value());
    }
    view.adjustSize();
    view.show();
    QApplication::processEvents();

    auto* list = view.findChild<QScrollArea*>(QStringLiteral("appList"));
    EXPECT_LE(view.height(), available) << fit.screen << " " << fit.apps;
    EXPECT_LE(list->height(), static_cast<int>(available * MixerView::kMaxScreenShare));
    EXPECT_GE(list->height(), MixerView::kRowPitch) << "at least one row shows";
    if (fit.listHeight >= 0) {
        EXPECT_EQ(list->height(), fit.listHeight) << fit.screen << " " << fit.apps;
    }
    const bool allShown = fit.apps * MixerView::kRowPitch <= list->height();
    EXPECT_EQ(list->verticalScrollBar()->maximum() > 0, !allShown);
}

INSTANTIATE_TEST_SUITE_P(SmallDoubleAndTall, ScreenFitTest,
                         ::testing::Values(Fit{"small", 3, false, 132}, Fit{"small", 14, false, -1},
                                           Fit{"small", 14, true, -1}, Fit{"double", 4, false, 176},
                                           Fit{"double", 12, false, -1},
                                           Fit{"double", 12, true, -1},
                                           // A tall screen shows more than ten rows.
                                           Fit{"tall", 16, false, 704},
                                           Fit{"tall", 40, false, 960}),
                         [](const auto& param) {
                             return std::string(param.param.screen) + "_" +
                                    std::to_string(param.param.apps) +
                                    (param.param.withError ? "_error" : "");
                         });

} // namespace
} // namespace corvalle::ui
