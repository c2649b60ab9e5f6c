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
using namespace Qt::StringLiterals;

constexpr int kRemembered = 2500;
constexpr int kPitch = MixerView::kRowPitch;

class LongListTest : public ::testing::Test {
protected:
    // Two playing apps and `count` remembered ones, "Stopped 0" and on, at 50 %.
    void open(int count) {
        world.addApps(2);
        std::map<QString, AppSetting> settings;
        for (int i = 0; i < count; ++i) {
            settings[u"org.stopped%1"_s.arg(i)] = AppSetting{0.5, false, u"Stopped %1"_s.arg(i)};
        }
        world.store.setData(u"appSettings"_s, SettingsCodec::encode(settings));
        view = std::make_unique<MixerView>(world.start(), loginItem, [] {});
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

    // The scroll range of the full list, less the spacing after the last row.
    int fullRange() const {
        return static_cast<int>(apps().size()) * kPitch - 8 - list->viewport()->height();
    }

    // Where the row that holds `widget` stands in the list, or -1.
    static int positionOf(const QWidget* widget) {
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
            SCOPED_TRACE(where + ", row " + std::to_string(at));
            const AudioApp& app = apps().at(static_cast<std::size_t>(at));
            const AppRow* row = view->row(app.id);
            ASSERT_NE(row, nullptr);
            EXPECT_TRUE(row->isVisible());
            EXPECT_EQ(row->geometry(),
                      QRect(0, at * kPitch, list->viewport()->width(), AppRow::kHeight));
            EXPECT_EQ(child<ElidedLabel>(*row, "name")->text(), app.name);
        }
    }

    test::ModelHarness world;
    test::FakeLoginItem loginItem;
    std::unique_ptr<MixerView> view;
    QScrollArea* list = nullptr;
    QScrollBar* bar = nullptr;
};

TEST_F(LongListTest, OnlyRowsNearTheViewportAreBuiltAndScrollingShowsEveryRow) {
    open(kRemembered);
    EXPECT_EQ(bar->maximum(), fullRange()) << "the list keeps its full height";
    EXPECT_LE(builtRows(), 30);
    expectViewportFilled("at the top");
    // The running apps sort first; only rows the viewport shows are measured.
    const AudioObjectID firstProcess = apps().front().processObjects.at(0);
    world.model->levels().takeFrame();
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
    EXPECT_EQ(child(*farRow, "slider")->accessibleName(), u"Volume of "_s + far.name);

    bar->setValue(bar->maximum());
    expectViewportFilled("at the end");
    EXPECT_EQ(view->rows().back(), view->row(apps().back().id));
    EXPECT_LE(builtRows(), 30) << "rows that left are shown again, not added";
    world.model->levels().takeFrame();
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

// Rows are built as the focus comes; scrolled away, the focused row stays. Rows
// built above it, out of the spares, come before it in the Tab order.
TEST_F(LongListTest, FocusMovesOnPastTheBuiltRowsBothWays) {
    open(kRemembered);
    ASSERT_TRUE(test::activate(*view));
    // Presses `key` until the focus is in row `to`, a row at a time from `from`.
    const auto tabTo = [&](Qt::Key key, int from, int to) {
        for (int press = 0, at = from; press < 150 && at != to; ++press) {
            QTest::keyClick(QApplication::focusWidget(), key);
            const int now = positionOf(QApplication::focusWidget());
            ASSERT_TRUE(now == at || now == at + (to > from ? 1 : -1)) << at << " to " << now;
            at = now;
        }
        EXPECT_EQ(positionOf(QApplication::focusWidget()), to);
    };
    child(*view->rows().front(), "slider")->setFocus(Qt::TabFocusReason);
    tabTo(Qt::Key_Tab, 0, 40);
    QWidget* focused = QApplication::focusWidget();
    const QString focusedID = apps().at(40).id;
    bar->setValue(1000 * kPitch);
    EXPECT_NE(view->row(focusedID), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), focused);
    child(*view->row(apps().at(1001).id), "slider")->setFocus(Qt::TabFocusReason);
    bar->setValue(990 * kPitch);
    EXPECT_EQ(view->row(focusedID), nullptr) << "let go once the focus left it";
    tabTo(Qt::Key_Backtab, 1001, 995);
}

TEST_F(LongListTest, TheRowOfASliderBeingDraggedStaysWhileTheListScrolls) {
    open(kRemembered);
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
TEST_F(LongListTest, AListThatGrowsPastTheLimitAndShrinksAgainShowsEveryRowInItsPlace) {
    open(static_cast<int>(MixerView::kMaxBuiltRows) - 2);
    const auto expectEveryRowInPlace = [&](const char* when) {
        const std::vector<AppRow*> rows = view->rows();
        ASSERT_EQ(rows.size(), apps().size()) << when;
        EXPECT_EQ(bar->maximum(), fullRange()) << when;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i]->appID(), apps()[i].id) << when;
            EXPECT_EQ(rows[i]->y(), static_cast<int>(i) * kPitch) << when;
        }
    };
    expectEveryRowInPlace("at the limit");

    std::vector<AudioObjectID> later;
    later.reserve(3);
    for (int i = 0; i < 3; ++i) {
        later.push_back(world.addApp(400 + i, u"org.later%1"_s.arg(i), u"Later %1"_s.arg(i), true));
    }
    world.refresh();
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_LE(builtRows(), 30) << "past the limit, the rows out of view go";

    for (const AudioObjectID process : later) {
        world.hardware.removeProcess(process);
    }
    world.refresh();
    QApplication::processEvents();
    expectEveryRowInPlace("back at the limit");
}

} // namespace
} // namespace corvalle::ui
