#include "AppRow.h"
#include "MixerView.h"
#include "ModelHarness.h"
#include "OutputMenu.h"
#include "OutputPicker.h"
#include "Palettes.h"
#include "TempDir.h"
#include "UiFakes.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <gtest/gtest.h>

// Renders the panel in its main states, in a light and a dark palette, into PNG
// files under the build tree, for people to look at (tests/ui/CMakeLists.txt says
// how to run it; ctest does not).
namespace corvalle::ui {
namespace {

QString screenshotPath(const QString& name) {
    const QString dir = QStringLiteral(CORVALLE_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    std::printf("screenshot: %s/%s.png\n", qPrintable(dir), qPrintable(name));
    return dir + QLatin1Char('/') + name + QStringLiteral(".png");
}

void save(QWidget& widget, const QString& name) {
    widget.adjustSize();
    widget.show();
    QApplication::processEvents();
    const QImage image = widget.grab().toImage();
    ASSERT_TRUE(image.save(screenshotPath(name))) << name.toStdString();
}

// The panel with `menu` drawn over it at `at` (the menu's top left in the panel).
void saveWithMenu(QWidget& panel, QMenu& menu, auto at, const QString& name) {
    menu.adjustSize();
    menu.show();
    QApplication::processEvents();
    const QImage under = panel.grab().toImage();
    const QImage over = menu.grab().toImage();
    const QPoint topLeft = at(over.size());
    QImage both(under.width(), std::max(under.height(), topLeft.y() + over.height()),
                QImage::Format_ARGB32);
    both.fill(Qt::transparent);
    {
        QPainter painter(&both);
        painter.drawImage(0, 0, under);
        painter.drawImage(topLeft, over);
    }
    ASSERT_TRUE(both.save(screenshotPath(name)));
    menu.hide();
}

// Applications with icon files of their own, named as people name them.
class World {
public:
    explicit World(int count) {
        static const char* const kNames[] = {"Web Browser", "Music",  "Video Call", "Podcasts",
                                             "Game",        "Radio",  "Demo App 2", "Demo App 7",
                                             "Demo App 10", "Editor", "Chat",       "Terminal",
                                             "Maps",        "Notes"};
        headphones = world.hardware.addDevice({.uid = "usb", .name = "USB Headphones"});
        world.hardware.addDevice({.uid = "hdmi", .name = "HDMI / DisplayPort 1 Output"});
        world.hardware.addDevice({.uid = "bt", .name = "Bluetooth Speaker"});
        for (int i = 0; i < count; ++i) {
            const QString id = QStringLiteral("org.example.App%1").arg(i);
            QImage icon(64, 64, QImage::Format_ARGB32);
            icon.fill(Qt::transparent);
            {
                QPainter painter(&icon);
                painter.setRenderHint(QPainter::Antialiasing);
                painter.setBrush(QColor::fromHsv((i * 47) % 360, 150, 210));
                painter.setPen(Qt::NoPen);
                painter.drawRoundedRect(QRectF(4, 4, 56, 56), 14, 14);
            }
            const QString file =
                QString::fromStdString((icons.path() / std::to_string(i)).string()) +
                QStringLiteral(".png");
            icon.save(file);
            world.directory.running[100 + i] = RunningApplication{
                id, QString::fromLatin1(kNames[static_cast<std::size_t>(i) % std::size(kNames)]),
                file};
            processes[id] = world.hardware.addProcess({100 + i, std::nullopt, true});
        }
    }

    // Boosted, muted, silent and remembered without a process.
    MixerModel& inTheirStates() {
        auto& model = world.start();
        model.setVolume(1.5, QStringLiteral("org.example.App0"));
        model.setVolume(0.8, QStringLiteral("org.example.App1"));
        model.toggleMute(QStringLiteral("org.example.App1"));
        model.setVolume(0.45, QStringLiteral("org.example.App3"));
        world.hardware.setRunningOutput(processes[QStringLiteral("org.example.App2")], false);
        world.hardware.removeProcess(processes[QStringLiteral("org.example.App3")]);
        world.refresh();
        return model;
    }

    test::ModelHarness world;
    AudioObjectID headphones = kAudioObjectUnknown;
    test::TempDir icons;
    std::map<QString, AudioObjectID> processes;
};

TEST(PanelScreenshots, MainStates) {
    test::FakeLoginItem loginItem;
    {
        test::ModelHarness none;
        MixerView empty(none.start(), loginItem, [] {});
        save(empty, QStringLiteral("panel-empty"));
    }
    World five(5);
    auto& model = five.inTheirStates();
    loginItem.currentStatus = 1;
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? test::darkPalette()
                                      : QApplication::style()->standardPalette());
        MixerView view(model, loginItem, [] {});
        view.setFramed(true);
        save(view, dark ? QStringLiteral("panel-dark") : QStringLiteral("panel-light"));
    }
    QApplication::setPalette(QApplication::style()->standardPalette());

    five.world.hardware.setCallFailure(SimCall::createProcessTap, -50);
    model.setVolume(0.5, QStringLiteral("org.example.App4"));
    MixerView failed(model, loginItem, [] {});
    save(failed, QStringLiteral("panel-error"));

    // The panel with the output menu open under its picker, as the user sees it.
    model.selectOutput(five.headphones);
    MixerView withMenu(model, loginItem, [] {});
    withMenu.setFramed(true);
    withMenu.adjustSize();
    withMenu.show();
    QApplication::processEvents();
    auto* picker = withMenu.findChild<OutputPicker*>(QStringLiteral("outputPicker"));
    const QRect under = picker->geometry();
    saveWithMenu(
        withMenu, *picker->menu(),
        [&](QSize menu) { return QPoint(under.right() + 1 - menu.width(), under.bottom() + 3); },
        QStringLiteral("output-menu"));

    // A row's own output menu, opened on the first row, whose app plays on the
    // USB headphones whatever the default output is.
    model.setOutput(QStringLiteral("usb"), QStringLiteral("org.example.App0"));
    AppRow* row = withMenu.row(QStringLiteral("org.example.App0"));
    ASSERT_NE(row, nullptr);
    QMenu* rowMenu = makeOutputMenu(model, row->appID(), row->app().name, row);
    const QPoint rowAt = row->mapTo(&withMenu, QPoint(row->width() / 3, row->height() / 2));
    saveWithMenu(
        withMenu, *rowMenu, [&](QSize) { return rowAt; }, QStringLiteral("row-output-menu"));
}

TEST(PanelScreenshots, ALongListScrolledHalfway) {
    test::FakeLoginItem loginItem;
    World fourteen(14);
    auto& model = fourteen.inTheirStates();
    MixerView view(model, loginItem, [] {});
    view.setFramed(true);
    view.setHeightLimit(600);
    view.adjustSize();
    view.show();
    QApplication::processEvents();
    auto* bar = view.findChild<QScrollArea*>(QStringLiteral("appList"))->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum() / 2);
    save(view, QStringLiteral("panel-long-list"));
}

} // namespace
} // namespace corvalle::ui
