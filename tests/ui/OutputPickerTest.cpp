#include "OutputPicker.h"

#include "ModelHarness.h"
#include "Symbols.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <gtest/gtest.h>

namespace corvalle::ui {
namespace {

using test::ModelHarness;

class OutputPickerTest : public ::testing::Test {
protected:
    OutputPickerTest() {
        headphones = world.hardware.addDevice({.uid = "phones", .name = "Headphones"});
        world.start();
        picker = std::make_unique<OutputPicker>(*world.model);
        picker->show();
    }

    // Entry texts in order, "✓" marking the one with the checkmark.
    std::vector<QString> entries() const {
        std::vector<QString> result;
        for (const QAction* action : picker->deviceActions()) {
            const bool checked =
                action->property(kSymbolProperty).toString() == QStringLiteral("checkmark");
            EXPECT_EQ(checked, !action->icon().isNull());
            result.push_back(action->text() + (checked ? QStringLiteral(" ✓") : QString()));
        }
        return result;
    }

    ModelHarness world;
    AudioObjectID headphones = kAudioObjectUnknown;
    std::unique_ptr<OutputPicker> picker;
};

TEST_F(OutputPickerTest, LabelTooltipAndMenu) {
    EXPECT_EQ(picker->text(), QStringLiteral("Speakers"));
    EXPECT_EQ(picker->property(kSymbolProperty).toString(), QStringLiteral("hifispeaker"));
    EXPECT_EQ(picker->toolTip(), QStringLiteral("Choose the output device"));
    EXPECT_EQ(picker->popupMode(), QToolButton::InstantPopup);
    ASSERT_NE(picker->menu(), nullptr);
    auto* header = picker->menu()->findChild<QLabel*>(QStringLiteral("outputMenuHeader"));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->text(), QStringLiteral("Output Device"));
    EXPECT_EQ(picker->menu()->actions().size(), 3);
    EXPECT_EQ(entries(),
              (std::vector<QString>{QStringLiteral("Speakers ✓"), QStringLiteral("Headphones")}));
}

TEST_F(OutputPickerTest, ChoosingADeviceMovesLabelAndCheckmark) {
    picker->deviceActions().at(1)->trigger();
    EXPECT_EQ(world.model->outputID(), headphones);
    EXPECT_EQ(picker->text(), QStringLiteral("Headphones"));
    EXPECT_EQ(entries(),
              (std::vector<QString>{QStringLiteral("Speakers"), QStringLiteral("Headphones ✓")}));

    // Choosing the checked one again still asks the model; nothing changes.
    world.hardware.clearCalls();
    picker->deviceActions().at(1)->trigger();
    EXPECT_EQ(world.hardware.callCount(SimCall::setPropertyData), 1U);
    EXPECT_EQ(world.model->outputID(), headphones);

    // Another program changes the default: the picker follows at the next refresh.
    world.hardware.setDefaultOutput(world.speakers);
    world.refresh();
    EXPECT_EQ(picker->text(), QStringLiteral("Speakers"));
    EXPECT_EQ(entries().front(), QStringLiteral("Speakers ✓"));
}

TEST_F(OutputPickerTest, SameNamesUnknownDeviceAndNoDevices) {
    const AudioObjectID twin = world.hardware.addDevice({.uid = "twin", .name = "Speakers"});
    world.refresh();
    EXPECT_EQ(entries(),
              (std::vector<QString>{QStringLiteral("Speakers ✓"), QStringLiteral("Headphones"),
                                    QStringLiteral("Speakers")}));
    world.model->selectOutput(twin);
    EXPECT_EQ(entries(),
              (std::vector<QString>{QStringLiteral("Speakers"), QStringLiteral("Headphones"),
                                    QStringLiteral("Speakers ✓")}));

    // No readable default: "Unknown" and no checkmark.
    world.hardware.setPropertyFailure(kAudioObjectSystemObject,
                                      kAudioHardwarePropertyDefaultOutputDevice, -1);
    world.refresh();
    EXPECT_EQ(world.model->outputID(), kAudioObjectUnknown);
    EXPECT_EQ(picker->text(), QStringLiteral("Unknown"));
    for (const QString& entry : entries()) {
        EXPECT_FALSE(entry.endsWith(QStringLiteral("✓"))) << entry.toStdString();
    }

    // No devices at all: the header alone.
    world.hardware.removeDevice(world.speakers);
    world.hardware.removeDevice(headphones);
    world.hardware.removeDevice(twin);
    world.refresh();
    EXPECT_TRUE(picker->deviceActions().isEmpty());
    EXPECT_EQ(picker->menu()->actions().size(), 1);
}

TEST_F(OutputPickerTest, LongAndOddNamesStayOnOneCappedLine) {
    world.hardware.renameDevice(world.speakers, std::string(300, 'W'));
    world.hardware.renameDevice(headphones, "Tom & Jerry\tSpeakers");
    world.refresh();
    QApplication::processEvents();
    EXPECT_TRUE(picker->text().endsWith(QStringLiteral("…")));
    EXPECT_LE(picker->sizeHint().width(), OutputPicker::kMaxWidth);
    EXPECT_LE(picker->width(), OutputPicker::kMaxWidth);
    EXPECT_EQ(picker->outputName(), QString(300, QLatin1Char('W')));

    // Renaming alone does not change the model's device list; adding one does.
    world.hardware.addDevice({.uid = "usb", .name = "USB"});
    world.refresh();
    EXPECT_EQ(picker->deviceActions().at(1)->text(), QStringLiteral("Tom && Jerry Speakers"));
}

} // namespace
} // namespace corvalle::ui
