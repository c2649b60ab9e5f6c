#include "AppRow.h"

#include "ElidedLabel.h"
#include "LevelText.h"
#include "MixerModel.h"
#include "Symbols.h"
#include "UiStyle.h"
#include "Volume.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>

namespace corvalle::ui {

namespace {

constexpr double kSettingOnlyOpacity = 0.6;
constexpr int kWheelNotch = 120;
constexpr int kSymbolSize = 16;

// Tooltips are shown as rich text when they look like it; a name from the audio
// system must read as written.
QString plainToolTip(const QString& text) {
    if (!Qt::mightBeRichText(text)) {
        return text;
    }
    return QStringLiteral("<p style='white-space:pre-wrap'>%1</p>").arg(text.toHtmlEscaped());
}

void setSymbol(QToolButton& button, Symbol symbol, const QColor& colour) {
    const QString name = symbolName(symbol);
    if (button.property(kSymbolProperty).toString() == name) {
        return;
    }
    button.setIcon(symbolIcon(symbol, colour));
    button.setProperty(kSymbolProperty, name);
}

QPixmap iconPixmap(const QIcon& icon, const QWidget& widget) {
    return icon.pixmap(QSize(AppRow::kIconSize, AppRow::kIconSize), widget.devicePixelRatioF());
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
    block->setSpacing(2);
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

    waveform_ = new QLabel(this);
    waveform_->setObjectName(QStringLiteral("waveform"));
    const int waveformSize = QFontMetrics(styleFont(TextStyle::caption2)).height();
    waveform_->setFixedSize(waveformSize, waveformSize);
    waveform_->setPixmap(bundledSymbolIcon(Symbol::waveform, greenColor())
                             .pixmap(QSize(waveformSize, waveformSize), devicePixelRatioF()));
    waveform_->setProperty(kSymbolProperty, symbolName(Symbol::waveform));
    setTextColor(*waveform_, greenColor());
    title->addWidget(waveform_, 0, Qt::AlignVCenter);

    title->addStretch(1);

    level_ = new QLabel(this);
    level_->setObjectName(QStringLiteral("level"));
    level_->setTextFormat(Qt::PlainText);
    level_->setFont(styleFont(TextStyle::caption));
    level_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Wide enough for "400%" so that the name does not shift while dragging.
    level_->setMinimumWidth(level_->fontMetrics().horizontalAdvance(QStringLiteral("400%")));
    title->addWidget(level_, 0, Qt::AlignVCenter);

    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName(QStringLiteral("slider"));
    slider_->setRange(0, sliderPosition(MixerModel::maxVolume));
    slider_->setSingleStep(kSliderScale / 100);
    slider_->setPageStep(kSliderScale / 10);
    slider_->setFixedHeight(18);
    slider_->setFocusPolicy(Qt::StrongFocus);
    slider_->setAccessibleName(tr("Volume"));
    block->addWidget(slider_);
    // valueChanged also fires for programmatic changes; those are made with the
    // slider's signals blocked, so every call here comes from the user.
    connect(slider_, &QSlider::valueChanged, this, &AppRow::sliderMoved);

    mute_ = new QToolButton(this);
    mute_->setObjectName(QStringLiteral("mute"));
    mute_->setAutoRaise(true);
    mute_->setFixedWidth(kMuteWidth);
    mute_->setIconSize(QSize(kSymbolSize, kSymbolSize));
    mute_->setFocusPolicy(Qt::StrongFocus);
    row->addWidget(mute_, 0, Qt::AlignVCenter);
    connect(mute_, &QToolButton::clicked, this, [this] { model_.toggleMute(app_.id); });

    reset_ = new QToolButton(this);
    reset_->setObjectName(QStringLiteral("reset"));
    reset_->setAutoRaise(true);
    reset_->setIconSize(QSize(kSymbolSize, kSymbolSize));
    reset_->setFocusPolicy(Qt::StrongFocus);
    reset_->setToolTip(tr("Reset to 100%"));
    reset_->setAccessibleName(tr("Reset to 100%"));
    reset_->setIcon(symbolIcon(Symbol::arrowCounterclockwise, textColor(*this)));
    reset_->setProperty(kSymbolProperty, symbolName(Symbol::arrowCounterclockwise));
    row->addWidget(reset_, 0, Qt::AlignVCenter);
    connect(reset_, &QToolButton::clicked, this, [this] { model_.reset(app_.id); });

    // The wheel changes the volume wherever it turns over the row.
    for (QWidget* child : findChildren<QWidget*>()) {
        child->installEventFilter(this);
    }

    redrawApp();
    redraw();
}

void AppRow::setApp(AudioApp app) {
    app_ = std::move(app);
    redrawApp();
    redraw();
}

void AppRow::redrawApp() {
    const QString iconKey = app_.icon.value_or(QString());
    if (icon_->pixmap().isNull() || icon_->property("iconKey").toString() != iconKey) {
        const QIcon appIcon = applicationIcon(app_.icon);
        const bool fallback = appIcon.isNull();
        const QIcon shown =
            fallback ? bundledSymbolIcon(Symbol::appDashed, secondaryColor(palette())) : appIcon;
        icon_->setPixmap(iconPixmap(shown, *this));
        icon_->setProperty("iconKey", iconKey);
        icon_->setProperty(kSymbolProperty, fallback ? symbolName(Symbol::appDashed) : QString());
    }

    name_->setText(app_.name);
    name_->setAccessibleName(app_.name);
    waveform_->setVisible(app_.isPlaying);

    const bool settingOnly = app_.processObjects.empty();
    const QString tip = settingOnly ? plainToolTip(notPlayingToolTip(app_.name)) : QString();
    if (toolTip() != tip) {
        setToolTip(tip);
    }
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(graphicsEffect());
    if (settingOnly && !effect) {
        effect = new QGraphicsOpacityEffect(this);
        effect->setOpacity(kSettingOnlyOpacity);
        setGraphicsEffect(effect);
    } else if (!settingOnly && effect) {
        setGraphicsEffect(nullptr);
    }
}

void AppRow::redraw() {
    const AppSetting setting = model_.setting(app_.id);

    level_->setText(levelText(setting));
    setTextColor(*level_, isBoosted(setting) ? orangeColor() : secondaryColor(palette()));

    {
        const QSignalBlocker blocker(slider_);
        const int position = sliderPosition(setting.volume);
        if (slider_->value() != position) {
            slider_->setValue(position);
        }
    }
    slider_->setEnabled(!setting.muted);

    setSymbol(*mute_, setting.muted ? Symbol::speakerSlashFill : Symbol::speakerWave2Fill,
              textColor(*this));
    const QString muteTip = setting.muted ? tr("Unmute") : tr("Mute");
    if (mute_->toolTip() != muteTip) {
        mute_->setToolTip(muteTip);
        mute_->setAccessibleName(muteTip);
    }

    reset_->setEnabled(!setting.isDefault());
}

void AppRow::sliderMoved(int position) {
    model_.setVolume(volumeAtSliderPosition(position), app_.id);
}

void AppRow::wheelEvent(QWheelEvent* event) {
    handleWheel(*event);
}

bool AppRow::eventFilter(QObject* watched, QEvent* event) {
    // The slider's own wheel handling moves by its single step; the row's 5 %
    // steps hold over the whole row, slider included.
    if (event->type() == QEvent::Wheel && watched != this) {
        handleWheel(*static_cast<QWheelEvent*>(event));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void AppRow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && slider_) {
        redraw();
    }
}

void AppRow::handleWheel(QWheelEvent& event) {
    event.accept();
    const AppSetting setting = model_.setting(app_.id);
    if (setting.muted) {
        // The slider is disabled while muted; the wheel follows it.
        return;
    }
    const QPoint angle = event.angleDelta();
    int delta = angle.y() != 0 ? angle.y() : -angle.x();
    if (event.inverted()) {
        delta = -delta;
    }
    wheelRemainder_ += delta;
    const int notches = wheelRemainder_ / kWheelNotch;
    wheelRemainder_ -= notches * kWheelNotch;
    if (notches == 0) {
        return;
    }
    // Steps land on the 5 % grid: 73 % goes up to 75 %, down to 70 %.
    const double current = levelPercent(setting.volume) / 100.0;
    const double grid = current / kWheelStep;
    const double base = notches > 0 ? std::floor(grid + 1e-6) : std::ceil(grid - 1e-6);
    const double target = Volume::clamped((base + notches) * kWheelStep);
    model_.setVolume(target, app_.id);
}

} // namespace corvalle::ui
