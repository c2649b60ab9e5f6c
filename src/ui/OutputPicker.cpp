#include "OutputPicker.h"

#include "MixerModel.h"
#include "Symbols.h"
#include "UiStyle.h"

#include <QEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QWidgetAction>

namespace corvalle::ui {

namespace {

constexpr int kSymbolSize = 14;
const char* const kDeviceIDProperty = "corvalleDeviceID";

} // namespace

QString oneLine(const QString& text) {
    // A tab would start a shortcut column in a menu entry; line breaks would
    // make the entry taller than the others.
    QString result = text;
    for (QChar& c : result) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            c = QLatin1Char(' ');
        }
    }
    return result;
}

QString withoutMnemonic(const QString& text) {
    return oneLine(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

OutputPicker::OutputPicker(MixerModel& model, QWidget* parent)
    : QToolButton(parent), model_(model) {
    setObjectName(QStringLiteral("outputPicker"));
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setPopupMode(QToolButton::InstantPopup);
    setAutoRaise(false);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setMaximumWidth(kMaxWidth);
    setIconSize(QSize(kSymbolSize, kSymbolSize));
    setFocusPolicy(Qt::StrongFocus);
    setToolTip(tr("Choose the output device"));

    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("outputMenu"));
    auto* header = new QWidgetAction(menu_);
    auto* headerLabel = new QLabel(tr("Output Device"), menu_);
    headerLabel->setObjectName(QStringLiteral("outputMenuHeader"));
    headerLabel->setTextFormat(Qt::PlainText);
    QFont headerFont = styleFont(TextStyle::caption);
    headerFont.setWeight(QFont::DemiBold);
    headerLabel->setFont(headerFont);
    headerLabel->setContentsMargins(10, 4, 10, 2);
    setTextColor(*headerLabel, secondaryColor(headerLabel->palette()));
    header->setDefaultWidget(headerLabel);
    header->setEnabled(false);
    menu_->addAction(header);
    setMenu(menu_);

    connect(&model_, &MixerModel::outputNameChanged, this, &OutputPicker::redrawLabel);
    connect(&model_, &MixerModel::outputIDChanged, this, &OutputPicker::redrawMenu);
    connect(&model_, &MixerModel::outputDevicesChanged, this, &OutputPicker::redrawMenu);
    redrawLabel();
    redrawMenu();
}

QList<QAction*> OutputPicker::deviceActions() const {
    QList<QAction*> result = menu_->actions();
    result.removeFirst();
    return result;
}

QSize OutputPicker::sizeHint() const {
    QSize hint = QToolButton::sizeHint();
    hint.setWidth(std::min(hint.width(), kMaxWidth));
    return hint;
}

void OutputPicker::paintEvent(QPaintEvent* event) {
    QToolButton::paintEvent(event);
    if (hasFocus()) {
        QPainter painter(this);
        paintFocusRing(painter, rect(), palette());
    }
}

void OutputPicker::changeEvent(QEvent* event) {
    QToolButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && menu_) {
        redrawSymbol();
    }
}

void OutputPicker::redrawSymbol() {
    const Symbol symbol = outputSymbol(outputName_);
    setIcon(symbolIcon(symbol, palette().color(QPalette::ButtonText)));
    setProperty(kSymbolProperty, symbolName(symbol));
}

void OutputPicker::redrawLabel() {
    if (model_.outputName() == outputName_ && !text().isEmpty()) {
        return;
    }
    outputName_ = model_.outputName();
    redrawSymbol();
    setAccessibleName(tr("Output device: %1").arg(oneLine(outputName_)));
    // The room the name has is what is left of the cap once icon, padding and
    // the menu arrow are drawn.
    setText(QString());
    const int room = kMaxWidth - QToolButton::sizeHint().width() -
                     fontMetrics().horizontalAdvance(QLatin1Char(' '));
    const QString shown =
        fontMetrics().elidedText(oneLine(outputName_), Qt::ElideRight, std::max(room, 0));
    setText(QString(shown).replace(QLatin1Char('&'), QStringLiteral("&&")));
    updateGeometry();
}

void OutputPicker::redrawMenu() {
    const auto& devices = model_.outputDevices();
    const AudioObjectID current = model_.outputID();

    // Redraw only when something visible differs: the model assigns the output
    // ID at every refresh.
    const auto isChecked = [current](AudioObjectID id) {
        return id == current && current != kAudioObjectUnknown;
    };
    const QList<QAction*> existing = deviceActions();
    bool same = existing.size() == static_cast<qsizetype>(devices.size());
    for (qsizetype i = 0; same && i < existing.size(); ++i) {
        const auto& device = devices[static_cast<std::size_t>(i)];
        const QAction* action = existing[i];
        same = action->property(kDeviceIDProperty).toUInt() == device.id &&
               action->text() == withoutMnemonic(device.name) &&
               (action->property(kSymbolProperty).toString() == symbolName(Symbol::checkmark)) ==
                   isChecked(device.id);
    }
    if (same) {
        return;
    }
    for (QAction* action : existing) {
        menu_->removeAction(action);
        action->deleteLater();
    }
    const QIcon checkmark = symbolIcon(Symbol::checkmark, menu_->palette().color(QPalette::Text));
    for (const auto& device : devices) {
        auto* action = new QAction(withoutMnemonic(device.name), menu_);
        action->setProperty(kDeviceIDProperty, device.id);
        if (isChecked(device.id)) {
            action->setIcon(checkmark);
            action->setProperty(kSymbolProperty, symbolName(Symbol::checkmark));
        }
        const AudioObjectID id = device.id;
        connect(action, &QAction::triggered, this, [this, id] { model_.selectOutput(id); });
        menu_->addAction(action);
    }
}

} // namespace corvalle::ui
