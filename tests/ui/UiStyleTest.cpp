#include "UiStyle.h"

#include "AppRow.h"
#include "ElidedLabel.h"
#include "LevelMeter.h"
#include "MixerView.h"
#include "ModelHarness.h"
#include "OutputPicker.h"
#include "Palettes.h"
#include "UiFakes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <gtest/gtest.h>

namespace corvalle::ui {
namespace {

TEST(Contrast, RatiosAndReadableColours) {
    EXPECT_NEAR(contrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio(QColor(0x12, 0x34, 0x56), QColor(0x12, 0x34, 0x56)), 1.0, 1e-9);
    EXPECT_NEAR(contrastRatio(QColor(0x76, 0x76, 0x76), Qt::white), 4.54, 0.01);
    EXPECT_NEAR(contrastRatio(Qt::white, QColor(0x76, 0x76, 0x76)), 4.54, 0.01);

    const QColor alreadyFine(0x20, 0x20, 0x20);
    EXPECT_EQ(readableOn(alreadyFine, Qt::white, kTextContrast), alreadyFine) << "kept as it is";
    for (const QColor background :
         {QColor(Qt::white), QColor(0xEF, 0xEF, 0xEF), QColor(0x80, 0x80, 0x80),
          QColor(0x20, 0x23, 0x26), QColor(Qt::black)}) {
        for (int hue = 0; hue < 360; hue += 30) {
            for (const double minRatio : {kGraphicContrast, kTextContrast}) {
                const QColor wanted = QColor::fromHsv(hue, 200, 230);
                const QColor got = readableOn(wanted, background, minRatio);
                EXPECT_GE(contrastRatio(got, background), minRatio)
                    << background.name().toStdString() << " " << hue;
            }
        }
    }
    // Half-transparent white text on a dark background is grey, not white.
    QColor dimmed(Qt::white);
    dimmed.setAlphaF(0.3F);
    EXPECT_GE(contrastRatio(readableOn(dimmed, Qt::black, kTextContrast), Qt::black),
              kTextContrast);
}

// The colour a symbol is drawn in: its most opaque pixel.
QColor inkOf(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    QColor best(Qt::transparent);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() > best.alpha()) {
                best = pixel;
            }
        }
    }
    return best;
}

struct Checked {
    std::string what;
    QColor colour;
    QColor background;
    double needed;
};

class PanelContrast : public ::testing::TestWithParam<bool> {};

// Every text and symbol of a panel with rows in all their states, measured in
// the colours the widgets really use.
TEST_P(PanelContrast, EveryTextAndSymbolIsReadable) {
    const QPalette oldPalette = QApplication::palette();
    QApplication::setPalette(GetParam() ? test::darkPalette()
                                        : QApplication::style()->standardPalette());

    test::ModelHarness world;
    test::FakeLoginItem loginItem;
    world.addApp(100, QStringLiteral("org.playing"), QStringLiteral("A"), true);
    world.addApp(101, QStringLiteral("org.boosted"), QStringLiteral("B"), false);
    world.addApp(102, QStringLiteral("org.muted"), QStringLiteral("C"), false);
    const auto gone = world.addApp(103, QStringLiteral("org.gone"), QStringLiteral("D"), false);
    auto& model = world.start();
    model.setVolume(1.5, QStringLiteral("org.boosted"));
    model.toggleMute(QStringLiteral("org.muted"));
    model.setVolume(0.5, QStringLiteral("org.gone"));
    world.hardware.removeProcess(gone);
    world.hardware.setCallFailure(SimCall::createProcessTap, -50);
    model.setVolume(0.2, QStringLiteral("org.playing"));
    world.refresh();
    ASSERT_TRUE(model.lastError().has_value());

    MixerView view(model, loginItem, [] {});
    view.setFramed(true);
    view.show();
    QApplication::processEvents();
    const QPalette& palette = view.palette();
    const QColor background = backgroundColor(palette);

    std::vector<Checked> checks;
    const auto text = [&](const std::string& what, const QWidget& widget) {
        checks.push_back({what, widget.palette().color(QPalette::Active, widget.foregroundRole()),
                          background, kTextContrast});
    };
    text("title", *view.findChild<QLabel*>(QStringLiteral("title")));
    text("error", *view.findChild<QLabel*>(QStringLiteral("errorLine")));
    text("launch at login", *view.findChild<QCheckBox*>(QStringLiteral("launchAtLogin")));
    const auto* quit = view.findChild<QPushButton*>(QStringLiteral("quit"));
    checks.push_back({"quit", quit->palette().color(QPalette::ButtonText),
                      quit->palette().color(QPalette::Button), kTextContrast});
    for (const AppRow* row : view.rows()) {
        const std::string id = row->appID().toStdString() + " ";
        text(id + "name", *row->findChild<ElidedLabel*>(QStringLiteral("name")));
        text(id + "level", *row->findChild<QLabel*>(QStringLiteral("level")));
        for (const char* button : {"mute", "reset"}) {
            const auto* symbol = row->findChild<QAbstractButton*>(QString::fromLatin1(button));
            checks.push_back({id + button, inkOf(symbol->icon().pixmap(QSize(16, 16))), background,
                              kTextContrast});
        }
        auto* meter = row->findChild<LevelMeter*>(QStringLiteral("meter"));
        meter->showPeak(0.5F, std::chrono::milliseconds(16));
        QPixmap bar(meter->size());
        bar.fill(Qt::transparent);
        meter->render(&bar, {}, {}, QWidget::DrawChildren);
        checks.push_back({id + "meter", inkOf(bar), background, kGraphicContrast});
        // The placeholder is a large symbol.
        const auto* icon = row->findChild<QLabel*>(QStringLiteral("icon"));
        checks.push_back({id + "icon", inkOf(icon->pixmap()), background, kGraphicContrast});
    }
    checks.push_back(
        {"100 % mark, frame, scroll bar", lineColor(palette), background, kGraphicContrast});
    checks.push_back({"focus ring", focusColor(palette), background, kGraphicContrast});

    test::ModelHarness none;
    MixerView empty(none.start(), loginItem, [] {});
    text("empty state", *empty.findChild<QLabel*>(QStringLiteral("emptyState")));

    for (const Checked& check : checks) {
        EXPECT_GE(contrastRatio(check.colour, check.background), check.needed)
            << check.what << ": " << check.colour.name().toStdString() << " on "
            << check.background.name().toStdString();
    }
    EXPECT_GT(checks.size(), 20U);
    QApplication::setPalette(oldPalette);
}

INSTANTIATE_TEST_SUITE_P(LightAndDark, PanelContrast, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "dark" : "light"; });

} // namespace
} // namespace corvalle::ui
