// A list far longer than MixerView::kMaxBuiltRows: thousands of remembered
// applications, of which only the rows near the viewport have widgets.
#include "AppRow.h"
#include "ElidedLabel.h"
#include "LevelMonitor.h"
#include "LevelText.h"
#include "MixerView.h"
#include "ModelHarness.h"
#include "SettingsCodec.h"
#include "UiFakes.h"
#include "VolumeSlider.h"
#include "WidgetProbes.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace corvalle::ui {
namespace {

using test::child;

constexpr int kRemembered = 2500;
constexpr int kPitch = MixerView::kRowPitch;

// Two playing apps and `count` remembered ones, "Stopped 0" and on, at 50 %.
void startWithRemembered(test::ModelHarness& world, int count) {
    world.addApps(2);
    std::map<QString, AppSetting> settings;
    for (int i = 0; i < count; ++i) {
        settings[QStringLiteral("org.stopped%1").arg(i)] =
            AppSetting{0.5, false, QStringLiteral("Stopped %1").arg(i)};
    }
    world.store.setData(QStringLiteral("appSettings"), SettingsCodec::encode(settings));
    world.start();
}

class LongListTest : public ::testing::Test {
protected:
    LongListTest() {
        startWithRemembered(world, kRemembered);
        view = std::make_unique<MixerView>(*world.model, loginItem, [] {});
        view->show();
        QApplication::processEvents();
        list = child<QScrollArea>(*view, "appList");
        bar = list->verticalScrollBar();
    }

    const std::vector<AudioApp>& apps() const { return world.model->apps(); }

    int builtRows() const {
        return static_cast<int>(
            list->widget()->findChildren<AppRow*>(Qt::FindDirectChildrenOnly).size());
    }

    // Where the row that holds `widget` stands in the list, or -1.
    int positionOf(const QWidget* widget) const {
        for (; widget != nullptr; widget = widget->parentWidget()) {
            if (const auto* row = qobject_cast<const AppRow*>(widget)) {
                return row->y() / kPitch;
            }
        }
        return -1;
    }

    // Every row the viewport shows is built, at its place, for its application.
    void expectViewportFilled(const std::string& where) const {
        const int top = bar->value();
        const int bottom = top + list->viewport()->height();
        for (int at = top / kPitch; at * kPitch < bottom; ++at) {
            const AudioApp& app = apps().at(static_cast<std::size_t>(at));
            const AppRow* row = view->row(app.id);
            ASSERT_NE(row, nullptr) << where << ", row " << at;
            EXPECT_TRUE(row->isVisible()) << where << ", row " << at;
            EXPECT_EQ(row->geometry(),
                      QRect(0, at * kPitch, list->viewport()->width(), AppRow::kHeight))
                << where << ", row " << at;
            EXPECT_EQ(child<ElidedLabel>(*row, "name")->text(), app.name) << where;
        }
    }

    test::ModelHarness world;
    test::FakeLoginItem loginItem;
    std::unique_ptr<MixerView> view;
    QScrollArea* list = nullptr;
    QScrollBar* bar = nullptr;
};

TEST_F(LongListTest, OnlyRowsNearTheViewportAreBuiltAndScrollingShowsEveryRow) {
    const int count = static_cast<int>(apps().size());
    ASSERT_EQ(count, kRemembered + 2);
    EXPECT_EQ(list->height(), MixerView::kMaxListHeight);
    EXPECT_EQ(bar->maximum(), count * kPitch - 8 - list->viewport()->height())
        << "the list keeps its full height";
    EXPECT_LE(builtRows(), 30);
    expectViewportFilled("at the top");
    // The running apps sort first; only rows the viewport shows are measured.
    LevelMonitor& levels = world.model->levels();
    const AudioObjectID firstProcess = apps().front().processObjects.at(0);
    levels.takeFrame();
    EXPECT_TRUE(world.hardware.isMetered(firstProcess));

    // A setting changed out of view shows once its row is scrolled in.
    const AudioApp far = apps().at(2000);
    ASSERT_EQ(view->row(far.id), nullptr);
    world.model->setVolume(0.25, far.id);
    world.model->toggleMute(far.id);
    bar->setValue(2000 * kPitch - 100);
    expectViewportFilled("in the middle");
    const AppRow* farRow = view->row(far.id);
    ASSERT_NE(farRow, nullptr);
    EXPECT_EQ(child<QLabel>(*farRow, "level")->text(), levelText(world.model->setting(far.id)));
    EXPECT_EQ(child<QSlider>(*farRow, "slider")->value(), 25);
    EXPECT_FALSE(child<QSlider>(*farRow, "slider")->isEnabled()) << "muted";
    EXPECT_EQ(child(*farRow, "slider")->accessibleName(), QStringLiteral("Volume of ") + far.name);

    bar->setValue(bar->maximum());
    expectViewportFilled("at the end");
    const AppRow* last = view->row(apps().back().id);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(child<ElidedLabel>(*last, "name")->text(), apps().back().name);
    EXPECT_EQ(view->rows().back(), last);
    EXPECT_LE(builtRows(), 30) << "rows that left are shown again, not added";
    levels.takeFrame();
    EXPECT_FALSE(world.hardware.isMetered(firstProcess)) << "scrolled out";

    // Notch by notch, the wheel over a row shows the rows that come up.
    for (int notch = 0; notch < 15; ++notch) {
        const int before = bar->value();
        test::wheel(*child(*view->rows().front(), "name"), 120);
        ASSERT_LT(bar->value(), before);
        expectViewportFilled("wheel notch " + std::to_string(notch));
    }
    EXPECT_LE(builtRows(), 30);
}

TEST_F(LongListTest, FocusMovesOnPastTheBuiltRowsBothWays) {
    ASSERT_TRUE(test::activate(*view));
    child(*view->rows().front(), "slider")->setFocus(Qt::TabFocusReason);
    int at = 0;
    for (int press = 0; press < 150 && at < 40; ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        const int now = positionOf(QApplication::focusWidget());
        ASSERT_TRUE(now == at || now == at + 1) << "from row " << at << " to " << now;
        at = now;
    }
    ASSERT_EQ(at, 40);
    QWidget* focused = QApplication::focusWidget();
    EXPECT_TRUE(list->viewport()->rect().contains(
        QRect(focused->mapTo(list->viewport(), QPoint(0, 0)), focused->size())))
        << "the focused control is scrolled into view";

    // Scrolled away, the focused row stays; rows built above it, out of the
    // spares, come before it in the Tab order.
    const QString focusedID = apps().at(40).id;
    bar->setValue(1000 * kPitch);
    EXPECT_NE(view->row(focusedID), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), focused);
    child(*view->row(apps().at(1001).id), "slider")->setFocus(Qt::TabFocusReason);
    bar->setValue(990 * kPitch);
    EXPECT_EQ(view->row(focusedID), nullptr) << "let go once the focus left it";
    at = 1001;
    for (int press = 0; press < 60 && at > 995; ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        const int now = positionOf(QApplication::focusWidget());
        ASSERT_TRUE(now == at || now == at - 1) << "from row " << at << " to " << now;
        at = now;
    }
    EXPECT_EQ(at, 995);
}

TEST_F(LongListTest, TheRowOfASliderBeingDraggedStaysWhileTheListScrolls) {
    AppRow* row = view->rows().at(2);
    const QString id = row->appID();
    auto* slider = child<VolumeSlider>(*row, "slider");
    const QPoint handle(slider->xForPercent(slider->value()), slider->height() / 2);
    QTest::mousePress(slider, Qt::LeftButton, {}, handle);
    ASSERT_TRUE(row->isDragged());
    child<QCheckBox>(*view, "hardLimit")->setFocus(); // not kept for the focus
    bar->setValue(bar->maximum());
    EXPECT_EQ(view->row(id), row);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, handle);
    bar->setValue(bar->maximum() - kPitch);
    EXPECT_EQ(view->row(id), nullptr) << "let go once released";
}

// Apps that start and end take a list across kMaxBuiltRows and back.
TEST(LongListEdgeTest, AListThatGrowsPastTheLimitAndShrinksAgainShowsEveryRowInItsPlace) {
    test::ModelHarness world;
    startWithRemembered(world, static_cast<int>(MixerView::kMaxBuiltRows) - 2);
    test::FakeLoginItem loginItem;
    MixerView view(*world.model, loginItem, [] {});
    view.show();
    QApplication::processEvents();
    auto* list = child<QScrollArea>(view, "appList");
    auto* content = list->widget();
    const auto expectEveryRowInPlace = [&](const char* when) {
        const auto& apps = world.model->apps();
        const std::vector<AppRow*> rows = view.rows();
        ASSERT_EQ(rows.size(), apps.size()) << when;
        EXPECT_EQ(list->verticalScrollBar()->maximum(),
                  static_cast<int>(rows.size()) * kPitch - 8 - list->viewport()->height())
            << when;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i]->appID(), apps[i].id) << when;
            EXPECT_EQ(rows[i]->y(), static_cast<int>(i) * kPitch) << when;
        }
    };
    expectEveryRowInPlace("at the limit");

    std::vector<AudioObjectID> later;
    for (int i = 0; i < 3; ++i) {
        later.push_back(world.addApp(400 + i, QStringLiteral("org.later%1").arg(i),
                                     QStringLiteral("Later %1").arg(i), true));
    }
    world.refresh();
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_LE(content->findChildren<AppRow*>(Qt::FindDirectChildrenOnly).size(), 30)
        << "past the limit, the rows out of view go";
    EXPECT_LT(view.rows().size(), 30U);

    for (const AudioObjectID process : later) {
        world.hardware.removeProcess(process);
    }
    world.refresh();
    QApplication::processEvents();
    expectEveryRowInPlace("back at the limit");
}

} // namespace
} // namespace corvalle::ui
