#include "MixerView.h"
#include "ModelHarness.h"
#include "OutputPicker.h"
#include "TempDir.h"
#include "UiFakes.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <gtest/gtest.h>

// Renders the panel in its main states into PNG files under the build tree, for
// people to look at; each picture must come out at the panel's width.
namespace corvalle::ui {
namespace {

void save(QWidget& widget, const QString& name) {
    widget.adjustSize();
    widget.show();
    QApplication::processEvents();
    const QString dir = QStringLiteral(CORVALLE_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    const QImage image = widget.grab().toImage();
    ASSERT_TRUE(image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png")))
        << name.toStdString();
    EXPECT_EQ(image.width(), static_cast<int>(widget.width() * image.devicePixelRatio()));
    std::printf("screenshot: %s/%s.png\n", qPrintable(dir), qPrintable(name));
}

TEST(PanelScreenshots, MainStates) {
    test::FakeLoginItem loginItem;
    {
        test::ModelHarness none;
        MixerView empty(none.start(), loginItem, [] {});
        save(empty, QStringLiteral("panel-empty"));
    }
    test::ModelHarness world;
    test::TempDir icons;
    std::map<QString, AudioObjectID> processes;
    world.hardware.addDevice({.uid = "usb", .name = "USB Headphones"});
    for (int i = 0; i < 12; ++i) {
        const QString id = QStringLiteral("org.example.App%1").arg(i);
        QImage icon(64, 64, QImage::Format_ARGB32);
        icon.fill(QColor::fromHsv(i * 30, 160, 220));
        const QString file = QString::fromStdString((icons.path() / std::to_string(i)).string()) +
                             QStringLiteral(".png");
        icon.save(file);
        world.directory.running[100 + i] =
            RunningApplication{id, QStringLiteral("Application %1").arg(QChar(u'A' + i)), file};
        processes[id] = world.hardware.addProcess({100 + i, std::nullopt, true});
    }
    auto& model = world.start();
    world.hardware.setRunningOutput(processes[QStringLiteral("org.example.App1")], false);
    world.refresh();
    auto view = [&] { return std::make_unique<MixerView>(model, loginItem, [] {}); };
    save(*view(), QStringLiteral("panel-twelve-apps"));

    // Three left: boosted, muted and silent, and one remembered without a process.
    model.setVolume(1.5, QStringLiteral("org.example.App0"));
    model.toggleMute(QStringLiteral("org.example.App1"));
    model.setVolume(0.45, QStringLiteral("org.example.App3"));
    for (int i = 3; i < 12; ++i) {
        world.hardware.removeProcess(processes[QStringLiteral("org.example.App%1").arg(i)]);
    }
    world.refresh();
    loginItem.currentStatus = 1;
    save(*view(), QStringLiteral("panel-three-apps"));

    world.hardware.setCallFailure(SimCall::createProcessTap, -50);
    model.setVolume(0.5, QStringLiteral("org.example.App2"));
    save(*view(), QStringLiteral("panel-error"));

    OutputPicker picker(model);
    save(*picker.menu(), QStringLiteral("output-menu"));
}

} // namespace
} // namespace corvalle::ui
