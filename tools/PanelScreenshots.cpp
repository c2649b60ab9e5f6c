// Renders the tray panel in its main states, in a light and a dark palette, into
// PNG files for people to look at; the README's gallery is made from them.
//
//   corvalle-panel-screenshots [FOLDER]
//
// FOLDER (default: screenshots, in the current directory) is made if it is
// missing, and each file is printed once it is written. The panel runs on the
// simulated audio system with the tests' fakes. Under QT_QPA_PLATFORM=offscreen
// it needs no display and the desktop's theme stays out of the pictures.
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
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <stdexcept>
#include <string>

namespace corvalle::ui {
namespace {

constexpr const char* kUsage =
    "usage: corvalle-panel-screenshots [FOLDER]\n"
    "Renders the tray panel into PNG files in FOLDER (default: ./screenshots);\n"
    "run it with QT_QPA_PLATFORM=offscreen for the pictures in packaging/screenshots.\n";

[[noreturn]] void fail(const QString& message) {
    throw std::runtime_error(message.toStdString());
}

void write(const QImage& image, const QDir& folder, const QString& name) {
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    if (!image.save(path)) {
        fail(QStringLiteral("cannot write %1").arg(path));
    }
    std::printf("%s\n", qPrintable(path));
}

// Lays `widget` out and shows it, so that its children have their places.
void showLaidOut(QWidget& widget) {
    widget.adjustSize();
    widget.show();
    QApplication::processEvents();
}

// The child of `widget` named `name`; fails, saying `what` is missing, without one.
template <typename Child> Child& childOf(QWidget& widget, const char* name, const char* what) {
    auto* child = widget.findChild<Child*>(QLatin1String(name));
    if (child == nullptr) {
        fail(QStringLiteral("the panel has no %1").arg(QLatin1String(what)));
    }
    return *child;
}

void save(QWidget& widget, const QDir& folder, const QString& name) {
    showLaidOut(widget);
    write(widget.grab().toImage(), folder, name);
}

// The panel with `menu` drawn over it at `at` (the menu's top left in the panel).
void saveWithMenu(QWidget& panel, QMenu& menu, auto at, const QDir& folder, const QString& name) {
    showLaidOut(menu);
    const QImage under = panel.grab().toImage();
    const QImage over = menu.grab().toImage();
    const QPoint topLeft = at(over.size());
    QImage both(std::max(under.width(), topLeft.x() + over.width()),
                std::max(under.height(), topLeft.y() + over.height()), QImage::Format_ARGB32);
    both.fill(Qt::transparent);
    {
        QPainter painter(&both);
        painter.drawImage(0, 0, under);
        painter.drawImage(topLeft, over);
    }
    write(both, folder, name);
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
            if (!icon.save(file)) {
                fail(QStringLiteral("cannot write the icon %1").arg(file));
            }
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

// Empty, light, dark, failed, and with the output menus open.
void renderMainStates(const QDir& folder) {
    test::FakeLoginItem loginItem;
    {
        test::ModelHarness none;
        MixerView empty(none.start(), loginItem, [] {});
        save(empty, folder, QStringLiteral("panel-empty"));
    }
    World five(5);
    auto& model = five.inTheirStates();
    loginItem.currentStatus = 1;
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? test::darkPalette()
                                      : QApplication::style()->standardPalette());
        MixerView view(model, loginItem, [] {});
        view.setFramed(true);
        save(view, folder, dark ? QStringLiteral("dark") : QStringLiteral("panel"));
    }
    QApplication::setPalette(QApplication::style()->standardPalette());

    five.world.hardware.setCallFailure(SimCall::createProcessTap, -50);
    model.setVolume(0.5, QStringLiteral("org.example.App4"));
    MixerView failed(model, loginItem, [] {});
    save(failed, folder, QStringLiteral("panel-error"));

    // The panel with the output menu open under its picker, as the user sees it.
    model.selectOutput(five.headphones);
    MixerView withMenu(model, loginItem, [] {});
    withMenu.setFramed(true);
    showLaidOut(withMenu);
    auto& picker = childOf<OutputPicker>(withMenu, "outputPicker", "output picker");
    const QRect under = picker.geometry();
    saveWithMenu(
        withMenu, *picker.menu(),
        [&](QSize menu) { return QPoint(under.right() + 1 - menu.width(), under.bottom() + 3); },
        folder, QStringLiteral("output-menu"));

    // A row's own output menu, opened on the first row, whose app plays on the
    // USB headphones whatever the default output is.
    model.setOutput(QStringLiteral("usb"), QStringLiteral("org.example.App0"));
    AppRow* row = withMenu.row(QStringLiteral("org.example.App0"));
    if (row == nullptr) {
        fail(QStringLiteral("the panel has no row for org.example.App0"));
    }
    QMenu* rowMenu = makeOutputMenu(model, row->appID(), row->app().name, row);
    const QPoint rowAt = row->mapTo(&withMenu, QPoint(row->width() / 3, row->height() / 2));
    saveWithMenu(
        withMenu, *rowMenu, [&](QSize) { return rowAt; }, folder,
        QStringLiteral("row-output-menu"));
}

// The video call plays and lowers the others, and its row's menu is open on
// what marks an application to lower the others.
void renderCallLowering(const QDir& folder) {
    test::FakeLoginItem loginItem;
    World five(5);
    auto& model = five.inTheirStates();
    const QString call = QStringLiteral("org.example.App2");
    model.setLowersOthers(true, call);
    five.world.hardware.setRunningCall(five.processes[call], true);
    five.world.refresh();
    five.world.steady += std::chrono::seconds(1);
    five.world.refresh();
    if (model.loweredKeys().empty()) {
        fail(QStringLiteral("the call lowers no application"));
    }
    MixerView view(model, loginItem, [] {});
    view.setFramed(true);
    save(view, folder, QStringLiteral("call-lowering"));

    showLaidOut(view);
    AppRow* row = view.row(call);
    if (row == nullptr) {
        fail(QStringLiteral("the panel has no row for %1").arg(call));
    }
    QMenu* menu = row->makeContextMenu();
    const QPoint at = row->mapTo(&view, QPoint(row->width() / 3, row->height() / 2));
    saveWithMenu(
        view, *menu, [&](QSize) { return at; }, folder, QStringLiteral("call-lowering-menu"));
}

// The game boosted to 400 %, loud enough that the limiter holds it at full
// scale; the web browser plays at an ordinary level beside it.
void renderLimiting(const QDir& folder) {
    test::FakeLoginItem loginItem;
    World five(5);
    auto& model = five.inTheirStates();
    const QString game = QStringLiteral("org.example.App4");
    model.setVolume(4.0, game);
    MixerView view(model, loginItem, [] {});
    view.setFramed(true);
    showLaidOut(view);
    AppRow* loud = view.row(game);
    AppRow* browser = view.row(QStringLiteral("org.example.App0"));
    if (loud == nullptr || browser == nullptr) {
        fail(QStringLiteral("the panel has no row for the game or the browser"));
    }
    loud->showPeak(1.0F, std::chrono::milliseconds(16), true);
    browser->showPeak(0.35F, std::chrono::milliseconds(16));
    save(view, folder, QStringLiteral("limiting"));
}

// Fourteen applications in a panel of at most 600 pixels, scrolled halfway.
void renderLongList(const QDir& folder) {
    test::FakeLoginItem loginItem;
    World fourteen(14);
    auto& model = fourteen.inTheirStates();
    MixerView view(model, loginItem, [] {});
    view.setFramed(true);
    view.setHeightLimit(600);
    showLaidOut(view);
    QScrollBar* bar = childOf<QScrollArea>(view, "appList", "application list").verticalScrollBar();
    if (bar->maximum() <= 0) {
        fail(QStringLiteral("fourteen applications do not make the list scroll"));
    }
    bar->setValue(bar->maximum() / 2);
    save(view, folder, QStringLiteral("long-list"));
}

// Writes every picture into `folderName`; stops at the first that fails, with
// a message, and returns 1.
int run(const QString& folderName) {
    try {
        if (!QDir().mkpath(folderName)) {
            fail(QStringLiteral("cannot make the folder %1").arg(folderName));
        }
        const QDir folder(folderName);
        renderMainStates(folder);
        renderLongList(folder);
        renderCallLowering(folder);
        renderLimiting(folder);
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "corvalle-panel-screenshots: %s\n", error.what());
        return 1;
    }
    return 0;
}

} // namespace
} // namespace corvalle::ui

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::fputs(corvalle::ui::kUsage, stdout);
        return 0;
    }
    if (arguments.size() > 1 ||
        (!arguments.isEmpty() && arguments[0].startsWith(QLatin1Char('-')))) {
        std::fputs(corvalle::ui::kUsage, stderr);
        return 2;
    }

    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    return corvalle::ui::run(arguments.isEmpty() ? QStringLiteral("screenshots") : arguments[0]);
}
