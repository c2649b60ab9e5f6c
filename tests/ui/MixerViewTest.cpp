#include "MixerView.h"

#include "AppRow.h"
#include "ModelHarness.h"
#include "UiFakes.h"
#include "UiStyle.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace corvalle::ui {
namespace {

using test::FakeLoginItem;
using test::ModelHarness;

class MixerViewTest : public ::testing::Test {
protected:
    std::unique_ptr<MixerView> makeView() {
        if (!world.model) {
            world.start();
        }
        auto view = std::make_unique<MixerView>(*world.model, loginItem, [this] { ++quits; });
        view->show();
        return view;
    }

    template <typename T> static T* child(const QWidget& view, const char* name) {
        auto* found = view.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    ModelHarness world;
    FakeLoginItem loginItem;
    int quits = 0;
};

TEST_F(MixerViewTest, EmptyStateInsteadOfTheList) {
    const auto view = makeView();
    auto* empty = child<QLabel>(*view, "emptyState");
    EXPECT_TRUE(empty->isVisible());
    EXPECT_EQ(empty->text(), QStringLiteral("No apps are playing audio."));
    EXPECT_EQ(textColor(*empty), secondaryColor(empty->palette()));
    EXPECT_FALSE(child<QScrollArea>(*view, "appList")->isVisible());
    EXPECT_FALSE(child<QLabel>(*view, "errorLine")->isVisible());
    EXPECT_EQ(view->width(), 380);
    EXPECT_EQ(child<QLabel>(*view, "title")->text(), QStringLiteral("Corvalle"));
    EXPECT_TRUE(child<QLabel>(*view, "title")->font().bold());
    EXPECT_EQ(child<QCheckBox>(*view, "launchAtLogin")->text(), QStringLiteral("Launch at login"));
    EXPECT_EQ(child<QPushButton>(*view, "quit")->text(), QStringLiteral("Quit"));
}

TEST_F(MixerViewTest, ListHeightGrowsWithTheRowsUpTo420) {
    for (const auto& [count, height] :
         std::vector<std::pair<int, int>>{{1, 44}, {2, 88}, {9, 396}, {10, 420}, {14, 420}}) {
        ModelHarness local;
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("App %1").arg(i, 2, 10, QLatin1Char('0'));
            local.addApp(200 + i, QStringLiteral("org.app%1").arg(i), name, true);
        }
        local.start();
        const auto view = std::make_unique<MixerView>(*local.model, loginItem, [] {});
        view->show();
        QApplication::processEvents();
        auto* list = child<QScrollArea>(*view, "appList");
        EXPECT_TRUE(list->isVisible()) << count;
        EXPECT_FALSE(child<QLabel>(*view, "emptyState")->isVisible()) << count;
        EXPECT_EQ(list->height(), height) << count;
        EXPECT_EQ(view->rows().size(), static_cast<std::size_t>(count));
        // Up to nine rows fit without scrolling; more scroll inside the list.
        EXPECT_EQ(list->verticalScrollBar()->maximum() > 0, count >= 10) << count;
    }
    EXPECT_EQ(MixerView::listHeight(0), 0);
    EXPECT_EQ(MixerView::listHeight(1000), 420);
}

TEST_F(MixerViewTest, RowsFollowTheModelAndKeepTheirIdentity) {
    world.addApp(100, QStringLiteral("org.banana"), QStringLiteral("Banana"), true);
    const auto view = makeView();
    AppRow* banana = view->row(QStringLiteral("org.banana"));
    ASSERT_NE(banana, nullptr);

    const AudioObjectID apple =
        world.addApp(101, QStringLiteral("org.apple"), QStringLiteral("apple"), true);
    world.refresh();
    ASSERT_EQ(view->rows().size(), 2U);
    EXPECT_EQ(view->rows()[0]->appID(), QStringLiteral("org.apple"));
    EXPECT_EQ(view->rows()[1], banana) << "the same row is kept across refreshes";
    EXPECT_EQ(child<QScrollArea>(*view, "appList")->height(), 88);

    world.hardware.removeProcess(apple);
    world.refresh();
    ASSERT_EQ(view->rows().size(), 1U);
    EXPECT_EQ(view->rows()[0], banana);
    EXPECT_EQ(view->row(QStringLiteral("org.apple")), nullptr);

    // A setting made elsewhere shows in the row at once.
    world.model->setVolume(2.5, QStringLiteral("org.banana"));
    EXPECT_EQ(banana->findChild<QLabel*>(QStringLiteral("level"))->text(), QStringLiteral("250%"));
}

TEST_F(MixerViewTest, ErrorLineInRedOfAtMostThreeLines) {
    world.addApp(100, QStringLiteral("org.player"), QStringLiteral("Player"), true);
    const auto view = makeView();
    auto* error = child<QLabel>(*view, "errorLine");
    EXPECT_FALSE(error->isVisible());
    const int heightWithout = view->sizeHint().height();

    world.hardware.setCallFailure(SimCall::createProcessTap, -50);
    world.model->setVolume(0.5, QStringLiteral("org.player"));
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text(), QStringLiteral("Player: Create process tap failed (OSStatus -50)"));
    EXPECT_EQ(textColor(*error), redColor());
    EXPECT_GT(view->sizeHint().height(), heightWithout);

    // A very long name makes a long message: three lines at most, cut with an ellipsis.
    world.directory.running[100].name = QString(400, QLatin1Char('x')) + QStringLiteral(" end");
    world.refresh();
    world.model->setVolume(0.4, QStringLiteral("org.player"));
    QApplication::processEvents();
    ASSERT_TRUE(world.model->lastError().has_value());
    EXPECT_TRUE(error->text().endsWith(QStringLiteral("…")));
    const int lineHeight = error->fontMetrics().lineSpacing();
    EXPECT_EQ(error->text().count(QChar::LineSeparator), 2);
    EXPECT_LT(error->heightForWidth(352), 4 * lineHeight);
    EXPECT_GT(error->heightForWidth(352), 2 * lineHeight);
}

TEST_F(MixerViewTest, LaunchAtLoginReadsTheStatusOnce) {
    for (const auto& [status, checked] :
         std::vector<std::pair<int, bool>>{{0, false}, {1, true}, {2, false}, {3, false}}) {
        loginItem.currentStatus = status;
        const auto view = makeView();
        EXPECT_EQ(child<QCheckBox>(*view, "launchAtLogin")->isChecked(), checked) << status;
    }
}

TEST_F(MixerViewTest, LaunchAtLoginRegistersAndFallsBackOnFailure) {
    const auto view = makeView();
    auto* box = child<QCheckBox>(*view, "launchAtLogin");
    const int reads = loginItem.statusReads;

    // Success keeps the user's value, whatever the status says afterwards.
    box->click();
    EXPECT_EQ(loginItem.registerCalls, 1);
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(loginItem.statusReads, reads);

    box->click();
    EXPECT_EQ(loginItem.unregisterCalls, 1);
    EXPECT_FALSE(box->isChecked());

    // A failed registration shows the real status again, without a message.
    loginItem.registerSucceeds = false;
    box->click();
    EXPECT_EQ(loginItem.registerCalls, 2);
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(loginItem.statusReads, reads + 1);

    loginItem.registerSucceeds = true;
    loginItem.currentStatus = 1;
    box->click();
    loginItem.unregisterSucceeds = false;
    box->click();
    EXPECT_EQ(loginItem.unregisterCalls, 2);
    EXPECT_TRUE(box->isChecked()) << "still registered";
    EXPECT_EQ(loginItem.registerCalls, 3) << "the fallback itself calls nothing";
}

TEST_F(MixerViewTest, QuitButtonAndShortcut) {
    const auto view = makeView();
    auto* quit = child<QPushButton>(*view, "quit");
    quit->click();
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(quit->shortcut(), MixerView::quitShortcut());
    EXPECT_FALSE(quit->shortcut().isEmpty());
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    QTest::keyClick(view->windowHandle(), Qt::Key_Q, Qt::ControlModifier);
    // A shortcut presses the button visibly, and clicks when it is released.
    EXPECT_TRUE(QTest::qWaitFor([this] { return quits == 2; }, 2000));
}

} // namespace
} // namespace corvalle::ui
