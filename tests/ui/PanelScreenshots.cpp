#include "MixerView.h"
#include "ModelHarness.h"
#include "OutputPicker.h"
#include "TempDir.h"
#include "UiFakes.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <gtest/gtest.h>

// Renders the panel in its main states into PNG files under the build tree, for
// people to look at; the test checks that each picture was made at the panel's size.
namespace corvalle::ui {
namespace {

using test::FakeLoginItem;
using test::ModelHarness;

QString screenshotDir() {
    const QString dir = QStringLiteral(CORVALLE_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return dir;
}

// A round icon of one colour with a letter, written as a PNG file.
QString drawIcon(const test::TempDir& dir, const QString& letter, const QColor& colour) {
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 14, 14);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(36);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, 64, 64), Qt::AlignCenter, letter);
    painter.end();
    const QString file = letter + colour.name().mid(1) + QStringLiteral(".png");
    const QString path = QString::fromStdString((dir.path() / file.toStdString()).string());
    image.save(path);
    return path;
}

class PanelScreenshots : public ::testing::Test {
protected:
    PanelScreenshots() {
        world.hardware.renameDevice(world.speakers, "Built-in Speakers");
        world.hardware.addDevice({.uid = "usb", .name = "USB Headphones"});
    }

    void addApp(pid_t pid, const QString& id, const QString& name, const QColor& colour,
                bool playing) {
        world.directory.running[pid] =
            RunningApplication{id, name, drawIcon(icons, name.right(1), colour)};
        world.directory.installed[id] =
            InstalledApplication{name, world.directory.running[pid].icon};
        processes[id] = world.hardware.addProcess({pid, std::nullopt, playing});
    }

    // Grabs the panel as shown now into `name`.png and checks the picture.
    void save(const QString& name) {
        MixerView view(*world.model, loginItem, [] {});
        view.adjustSize();
        view.show();
        QApplication::processEvents();
        const QImage image = view.grab().toImage();
        const QString path = screenshotDir() + QLatin1Char('/') + name + QStringLiteral(".png");
        ASSERT_TRUE(image.save(path)) << path.toStdString();
        EXPECT_EQ(image.width(), static_cast<int>(380 * image.devicePixelRatio()));
        EXPECT_EQ(image.height(), static_cast<int>(view.height() * image.devicePixelRatio()));
        std::printf("screenshot: %s\n", qPrintable(path));
    }

    ModelHarness world;
    FakeLoginItem loginItem;
    test::TempDir icons;
    std::map<QString, AudioObjectID> processes;
};

TEST_F(PanelScreenshots, Empty) {
    world.start();
    save(QStringLiteral("panel-empty"));
}

TEST_F(PanelScreenshots, ThreeAppsMutedBoostedNotRunning) {
    addApp(101, QStringLiteral("org.example.Browser"), QStringLiteral("Browser"),
           QColor(0x2a, 0x7f, 0xff), true);
    addApp(102, QStringLiteral("org.example.Music"), QStringLiteral("Music"),
           QColor(0xfa, 0x24, 0x3c), false);
    addApp(103, QStringLiteral("org.example.Podcasts"), QStringLiteral("Podcasts"),
           QColor(0x9b, 0x4d, 0xca), true);
    world.start();
    world.model->setVolume(1.5, QStringLiteral("org.example.Browser"));
    world.model->setVolume(0.8, QStringLiteral("org.example.Music"));
    world.model->toggleMute(QStringLiteral("org.example.Music"));
    world.model->setVolume(0.45, QStringLiteral("org.example.Podcasts"));
    world.hardware.removeProcess(processes[QStringLiteral("org.example.Podcasts")]);
    world.refresh();
    loginItem.currentStatus = 1;
    save(QStringLiteral("panel-three-apps"));
}

TEST_F(PanelScreenshots, ErrorLine) {
    addApp(101, QStringLiteral("org.example.Player"), QStringLiteral("Player"),
           QColor(0x30, 0xb0, 0x60), true);
    world.start();
    world.hardware.setCallFailure(SimCall::createProcessTap, -50);
    world.model->setVolume(0.5, QStringLiteral("org.example.Player"));
    save(QStringLiteral("panel-error"));
}

TEST_F(PanelScreenshots, TwelveAppsScroll) {
    for (int i = 0; i < 12; ++i) {
        addApp(200 + i, QStringLiteral("org.example.App%1").arg(i),
               QStringLiteral("Application %1").arg(QChar(QLatin1Char('A').unicode() + i)),
               QColor::fromHsv(i * 30, 160, 220), true);
    }
    world.start();
    // Two are silent now; heard once, they stay listed.
    world.hardware.setRunningOutput(processes[QStringLiteral("org.example.App1")], false);
    world.hardware.setRunningOutput(processes[QStringLiteral("org.example.App4")], false);
    world.refresh();
    save(QStringLiteral("panel-twelve-apps"));
}

TEST_F(PanelScreenshots, OutputMenu) {
    world.start();
    OutputPicker picker(*world.model);
    picker.menu()->adjustSize();
    const QImage image = picker.menu()->grab().toImage();
    const QString path = screenshotDir() + QStringLiteral("/output-menu.png");
    ASSERT_TRUE(image.save(path));
    EXPECT_GT(image.height(), 0);
}

} // namespace
} // namespace corvalle::ui
