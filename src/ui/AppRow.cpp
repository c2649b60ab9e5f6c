#include "AppRow.h"

#include "ElidedLabel.h"
#include "LevelMeter.h"
#include "LevelText.h"
#include "LoweringMenu.h"
#include "MixerModel.h"
#include "OutputMenu.h"
#include "ShortcutMenu.h"
#include "SymbolButton.h"
#include "Symbols.h"
#include "UiStyle.h"
#include "VolumeSlider.h"

#include <QContextMenuEvent>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QVBoxLayout>

namespace corvalle::ui {

namespace {

constexpr int kSymbolSize = 16;

void setSymbol(QAbstractButton& button, Symbol symbol, const QColor& colour) {
    const QString key = symbolName(symbol) + colour.name();
    if (button.property("symbolKey").toString() == key) {
        return;
    }
    button.setIcon(symbolIcon(symbol, colour));
    button.setProperty(kSymbolProperty, symbolName(symbol));
    button.setProperty("symbolKey", key);
}

QPixmap iconPixmap(const QIcon& icon, const QWidget& widget, double opacity) {
    QPixmap full =
        icon.pixmap(QSize(AppRow::kIconSize, AppRow::kIconSize), widget.devicePixelRatioF());
    if (opacity >= 1.0) {
        return full;
    }
    QPixmap faded(full.size());
    faded.setDevicePixelRatio(full.devicePixelRatio());
    faded.fill(Qt::transparent);
    QPainter painter(&faded);
    painter.setOpacity(opacity);
    painter.drawPixmap(0, 0, full);
    return faded;
}

void setAccessibleNameIfNew(QWidget& widget, const QString& name) {
    if (widget.accessibleName() != name) {
        widget.setAccessibleName(name);
    }
}

void setAccessibleDescriptionIfNew(QWidget& widget, const QString& description) {
    if (widget.accessibleDescription() != description) {
        widget.setAccessibleDescription(description);
    }
}

} // namespace

QString notPlayingToolTip(const QString& name) {
    return AppRow::tr("%1 is not playing right now. Your setting is kept for when it does.")
        .arg(name);
}

AppRow::AppRow(MixerModel& model, AudioApp app, QWidget* parent)
    : QWidget(parent), model_(model), app_(std::move(app)) {
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);

    icon_ = new QLabel(this);
    icon_->setObjectName(QStringLiteral("icon"));
    icon_->setFixedSize(kIconSize, kIconSize);
    icon_->setScaledContents(true);
    row->addWidget(icon_, 0, Qt::AlignVCenter);

    auto* block = new QVBoxLayout;
    block->setContentsMargins(0, 0, 0, 0);
    block->setSpacing(0);
    row->addLayout(block, 1);

    auto* title = new QHBoxLayout;
    title->setContentsMargins(0, 0, 0, 0);
    title->setSpacing(4);
    block->addLayout(title);

    name_ = new ElidedLabel(this);
    name_->setObjectName(QStringLiteral("name"));
    name_->setFont(styleFont(TextStyle::callout));
    name_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    title->addWidget(name_, 0, Qt::AlignVCenter);

    // The meter takes the place of a "playing" sign: it shows while the app
    // plays, and moves while a view is open. It fits the title line's height.
    meter_ = new LevelMeter(this);
    meter_->setObjectName(QStringLiteral("meter"));
    meter_->setFixedSize(LevelMeter::kWidth, QFontMetrics(styleFont(TextStyle::caption2)).height());
    title->addWidget(meter_, 0, Qt::AlignVCenter);

    // Shown while a call lowers the app, or while its own call lowers the others.
    callSign_ = new QLabel(this);
    callSign_->setObjectName(QStringLiteral("callSign"));
    callSign_->setFixedSize(kCallSignSize, kCallSignSize);
    callSign_->setScaledContents(true);
    callSign_->hide();
    title->addWidget(callSign_, 0, Qt::AlignVCenter);

    title->addStretch(1);

    level_ = new QLabel(this);
    level_->setObjectName(QStringLiteral("level"));
    level_->setTextFormat(Qt::PlainText);
    level_->setFont(styleFont(TextStyle::caption));
    level_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Wide enough for the widest level so that the name does not shift while dragging.
    AppSetting widest;
    widest.volume = MixerModel::maxVolume;
    level_->setMinimumWidth(level_->fontMetrics().horizontalAdvance(levelText(widest)));
    title->addWidget(level_, 0, Qt::AlignVCenter);

    slider_ = new VolumeSlider(this);
    slider_->setObjectName(QStringLiteral("slider"));
    block->addWidget(slider_);
    // valueChanged also fires for programmatic changes; those are made with the
    // slider's signals blocked, so every call here comes from the user.
    connect(slider_, &QSlider::valueChanged, this, &AppRow::sliderMoved);

    mute_ = new SymbolButton(this);
    mute_->setObjectName(QStringLiteral("mute"));
    mute_->setCheckable(true);
    mute_->setFixedWidth(kMuteWidth);
    mute_->setIconSize(QSize(kSymbolSize, kSymbolSize));
    row->addWidget(mute_, 0, Qt::AlignVCenter);
    // Toggled rather than clicked: assistive technology toggles without a click.
    // The row's own setChecked matches the stored state and changes nothing.
    connect(mute_, &QAbstractButton::toggled, this, [this](bool checked) {
        if (checked != model_.setting(app_.id).muted) {
            model_.toggleMute(app_.id);
        }
        // The button shows the stored state, also when the model kept it.
        redraw();
    });

    reset_ = new SymbolButton(this);
    reset_->setObjectName(QStringLiteral("reset"));
    reset_->setIconSize(QSize(kSymbolSize, kSymbolSize));
    reset_->setToolTip(tr("Reset to 100%"));
    row->addWidget(reset_, 0, Qt::AlignVCenter);
    connect(reset_, &QAbstractButton::clicked, this, [this] { model_.reset(app_.id); });

    redrawApp();
    redraw();
}

void AppRow::setApp(AudioApp app) {
    app_ = std::move(app);
    redrawApp();
    redraw();
}

void AppRow::redrawIcon() {
    const bool settingOnly = app_.processObjects.empty();
    const QString iconKey = app_.icon.value_or(QString()) +
                            (settingOnly ? QStringLiteral("/faded") : QString()) +
                            backgroundColor(palette()).name();
    if (!icon_->pixmap().isNull() && icon_->property("iconKey").toString() == iconKey) {
        return;
    }
    const QIcon appIcon = applicationIcon(app_.icon);
    const bool fallback = appIcon.isNull();
    const QIcon shown =
        fallback ? symbolIcon(Symbol::appDashed, secondaryColor(palette())) : appIcon;
    // The placeholder is already drawn in the dimmed colour; fading it further
    // would take it below a readable contrast.
    icon_->setPixmap(
        iconPixmap(shown, *this, settingOnly && !fallback ? kSettingOnlyOpacity : 1.0));
    icon_->setProperty("iconKey", iconKey);
    icon_->setProperty(kSymbolProperty, fallback ? symbolName(Symbol::appDashed) : QString());
}

void AppRow::redrawApp() {
    redrawIcon();
    const QPalette& colours = palette();
    const bool settingOnly = app_.processObjects.empty();

    name_->setText(app_.name);
    // A remembered app reads dimmed, in a colour that keeps its contrast.
    const QColor nameColour =
        settingOnly ? secondaryColor(colours) : colours.color(QPalette::WindowText);
    if (name_->palette().color(QPalette::WindowText) != nameColour) {
        QPalette namePalette = name_->palette();
        namePalette.setColor(QPalette::WindowText, nameColour);
        name_->setPalette(namePalette);
    }
    if (!app_.isPlaying) {
        meter_->clear();
    }
    meter_->setVisible(app_.isPlaying);

    const QString tip = settingOnly ? plainToolTip(notPlayingToolTip(app_.name)) : QString();
    if (toolTip() != tip) {
        setToolTip(tip);
    }
    icon_->setAccessibleName(tr("Icon of %1").arg(app_.name));
    setAccessibleNameIfNew(*meter_, tr("Level of %1").arg(app_.name));
    setAccessibleNameIfNew(*this, app_.name);
    setAccessibleDescriptionIfNew(*this, settingOnly      ? notPlayingToolTip(app_.name)
                                         : app_.isPlaying ? tr("Playing")
                                                          : tr("Not playing"));
    setAccessibleNameIfNew(*slider_, tr("Volume of %1").arg(app_.name));
    setAccessibleNameIfNew(*mute_, tr("Mute %1").arg(app_.name));
    setAccessibleNameIfNew(*reset_, tr("Reset %1 to 100%").arg(app_.name));
}

void AppRow::redraw() {
    const AppSetting setting = model_.setting(app_.id);
    const QPalette& colours = palette();

    level_->setText(levelText(setting));
    setTextColor(*level_, isBoosted(setting) ? orangeColor(colours) : secondaryColor(colours));

    {
        const QSignalBlocker blocker(slider_);
        const int percent = levelPercent(setting.volume);
        if (slider_->value() != percent) {
            slider_->setValue(percent);
        }
    }
    // Muted, the slider keeps showing the stored level, dimmed, and says why it
    // does not move; the mute button, pressed and red, is the way back.
    slider_->setEnabled(!setting.muted);
    const QString lockedTip = setting.muted ? tr("Muted. Unmute to change the volume.") : QString();
    if (slider_->toolTip() != lockedTip) {
        slider_->setToolTip(lockedTip);
        slider_->setAccessibleDescription(lockedTip);
    }

    const QColor text = colours.color(QPalette::WindowText);
    setSymbol(*mute_, muteSymbol(setting.muted, levelPercent(setting.volume)),
              setting.muted ? redColor(colours) : text);
    mute_->setChecked(setting.muted);
    const QString muteTip = setting.muted ? tr("Unmute") : tr("Mute");
    if (mute_->toolTip() != muteTip) {
        mute_->setToolTip(muteTip);
    }

    setSymbol(*reset_, Symbol::arrowCounterclockwise, text);
    reset_->setEnabled(!setting.isDefault());
    redrawCallSign(setting);
}

void AppRow::redrawCallSign(const AppSetting& setting) {
    const bool calling = model_.callingKeys().contains(app_.id);
    const bool lowered = !calling && model_.loweredKeys().contains(app_.id);
    callSign_->setVisible(calling || lowered);
    if (!calling && !lowered) {
        return;
    }
    const QPalette& colours = palette();
    const Symbol symbol = calling ? Symbol::phoneFill : Symbol::arrowDownRight;
    const QColor colour = calling ? colours.color(QPalette::Highlight) : secondaryColor(colours);
    const QString key = symbolName(symbol) + colour.name();
    if (callSign_->property("symbolKey").toString() != key) {
        callSign_->setPixmap(symbolIcon(symbol, colour)
                                 .pixmap(QSize(kCallSignSize, kCallSignSize), devicePixelRatioF()));
        callSign_->setProperty(kSymbolProperty, symbolName(symbol));
        callSign_->setProperty("symbolKey", key);
    }
    AppSetting lowest = setting;
    lowest.volume = setting.appliedVolume() * model_.loweredLevel();
    // Muted, there is no level to name.
    const QString tip = calling ? tr("Its call lowers the others")
                        : setting.muted
                            ? tr("Lowered while a call plays")
                            : tr("Lowered to %1 while a call plays").arg(levelText(lowest));
    if (callSign_->toolTip() != tip) {
        callSign_->setToolTip(tip);
        callSign_->setAccessibleName(tip);
    }
}

void AppRow::showPeak(float peak, std::chrono::milliseconds sinceLastFrame, bool limited) {
    if (app_.isPlaying) {
        meter_->showPeak(peak, sinceLastFrame, limited);
    }
}

bool AppRow::isDragged() const {
    return slider_->isSliderDown();
}

void AppRow::sliderMoved(int percent) {
    model_.setVolume(percent / 100.0, app_.id);
}

QMenu* AppRow::makeContextMenu() {
    QMenu* menu = makeOutputMenu(model_, app_.id, app_.name, this);
    addLoweringActions(*menu, model_, app_.id);
    addShortcutAction(*menu, model_, app_.id);
    return menu;
}

void AppRow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = makeContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    event->accept();
}

void AppRow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && slider_) {
        redrawApp();
        redraw();
    }
}

} // namespace corvalle::ui
