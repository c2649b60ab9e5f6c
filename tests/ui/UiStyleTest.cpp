#include "UiStyle.h"

#include "AppRow.h"
#include "ElidedLabel.h"
#include "LevelMeter.h"
#include "MixerView.h"
#include "ModelHarness.h"
#include "Palettes.h"
#include "UiFakes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QStyle>
#include <gtest/gtest.h>

namespace corvalle::ui {
namespace {

using namespace Qt::StringLiterals;

TEST(Contrast, RatiosAndReadableColours) {
    EXPECT_NEAR(contrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio(QColor(0x76, 0x76, 0x76), Qt::white), 4.54, 0.01);
    EXPECT_NEAR(contrastRatio(Qt::white, QColor(0x76, 0x76, 0x76)), 4.54, 0.01) << "either order";

    // Half-transparent white text on a dark background is grey, not white. The
    // named colours on light and dark backgrounds are PanelContrast's.
    QColor dimmed(Qt::white);
    dimmed.setAlphaF(0.3F);
    EXPECT_GE(contrastRatio(readableOn(dimmed, Qt::black, kTextContrast), Qt::black),
              kTextContrast);
}

// The colour a symbol is drawn in: its most opaque pixel.
QColor inkOf(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    QColor best(Qt::transparent);
    for (int at = 0; at < image.width() * image.height(); ++at) {
        const QColor pixel = image.pixelColor(at % image.width(), at / image.width());
        best = pixel.alpha() > best.alpha() ? pixel : best;
    }
    return best;
}

// Every text and symbol the panel colours itself, with rows in all their states,
// measured in the colours the widgets really use, on a light and a dark palette.
// Texts in the palette's own colours are the desktop theme's; the empty line
// shares the dimmed colour.
TEST(PanelContrast, EveryTextAndSymbolIsReadable) {
    const QPalette oldPalette = QApplication::palette();
    for (const QPalette& palette :
         {QApplication::style()->standardPalette(), test::darkPalette()}) {
        QApplication::setPalette(palette);
        SCOPED_TRACE(palette.color(QPalette::Window).name().toStdString());
        test::ModelHarness world;
        test::FakeLoginItem loginItem;
        world.addApp(100, u"org.playing"_s, u"A"_s, true);
        world.addApp(101, u"org.boosted"_s, u"B"_s, false);
        world.addApp(102, u"org.muted"_s, u"C"_s, false);
        const auto gone = world.addApp(103, u"org.gone"_s, u"D"_s, false);
        auto& model = world.start();
        model.setVolume(1.5, u"org.boosted"_s);
        model.toggleMute(u"org.muted"_s);
        model.setVolume(0.5, u"org.gone"_s);
        world.hardware.removeProcess(gone);
        world.hardware.setCallFailure(SimCall::createProcessTap, -50);
        model.setVolume(0.2, u"org.playing"_s);
        world.refresh();
        ASSERT_TRUE(model.lastError().has_value());

        MixerView view(model, loginItem, [] {});
        view.show();
        QApplication::processEvents();
        const QColor background = backgroundColor(view.palette());
        const auto expectReadable = [&](const std::string& what, const QColor& colour,
                                        double needed) {
            EXPECT_GE(contrastRatio(colour, background), needed) << what;
        };
        const auto expectText = [&](const std::string& what, const QWidget* widget) {
            expectReadable(what,
                           widget->palette().color(QPalette::Active, widget->foregroundRole()),
                           kTextContrast);
        };
        expectText("error", view.findChild<QLabel*>(u"errorLine"_s));
        ASSERT_EQ(view.rows().size(), 4U);
        for (const AppRow* row : view.rows()) {
            const std::string id = row->appID().toStdString() + " ";
            expectText(id + "name", row->findChild<ElidedLabel*>(u"name"_s));
            expectText(id + "level", row->findChild<QLabel*>(u"level"_s));
            for (const char* button : {"mute", "reset"}) {
                const auto* symbol = row->findChild<QAbstractButton*>(QString::fromLatin1(button));
                expectReadable(id + button, inkOf(symbol->icon().pixmap(QSize(16, 16))),
                               kTextContrast);
            }
            auto* meter = row->findChild<LevelMeter*>(u"meter"_s);
            meter->showPeak(0.5F, std::chrono::milliseconds(16));
            QPixmap bar(meter->size());
            bar.fill(Qt::transparent);
            meter->render(&bar, {}, {}, QWidget::DrawChildren);
            expectReadable(id + "meter", inkOf(bar), kGraphicContrast);
            // The placeholder is a large symbol.
            const auto* icon = row->findChild<QLabel*>(u"icon"_s);
            expectReadable(id + "icon", inkOf(icon->pixmap()), kGraphicContrast);
        }
        expectReadable("100 % mark, frame, scroll bar", lineColor(view.palette()),
                       kGraphicContrast);
        expectReadable("focus ring", focusColor(view.palette()), kGraphicContrast);
    }
    QApplication::setPalette(oldPalette);
}

} // namespace
} // namespace corvalle::ui
