#include "MixerView.h"

#include "AppRow.h"
#include "ElidedLabel.h"
#include "LevelMeter.h"
#include "LevelMonitor.h"
#include "LoginItem.h"
#include "MixerModel.h"
#include "OutputPicker.h"
#include "UiStyle.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

namespace corvalle::ui {

namespace {

// The login-item service's status for "registered and active".
constexpr int kLoginItemEnabled = 1;
constexpr int kEmptyPadding = 16;
constexpr int kRowSpacing = 8;
constexpr int kFrameRadius = 8;

} // namespace

QKeySequence MixerView::quitShortcut() {
    // Some platform themes (Windows-style key schemes) bind nothing to Quit.
    const QKeySequence platform(QKeySequence::Quit);
    return platform.isEmpty() ? QKeySequence(Qt::CTRL | Qt::Key_Q) : platform;
}

int MixerView::listHeight(std::size_t count) {
    return listHeight(count, kMaxListHeight);
}

int MixerView::listHeight(std::size_t count, int room) {
    return static_cast<int>(std::min(static_cast<double>(count) * kRowPitch,
                                     static_cast<double>(std::max(room, kRowPitch))));
}

MixerView::MixerView(MixerModel& model, LoginItem& loginItem, std::function<void()> quit,
                     QWidget* parent)
    : QWidget(parent), model_(model), loginItem_(loginItem), quit_(std::move(quit)) {
    setFixedWidth(kWidth);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    stack->setSpacing(kSpacing);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    auto* title = new QLabel(tr("Corvalle"), this);
    title->setObjectName(QStringLiteral("title"));
    title->setTextFormat(Qt::PlainText);
    title->setFont(styleFont(TextStyle::headline));
    header->addWidget(title, 0, Qt::AlignVCenter);
    header->addStretch(1);
    picker_ = new OutputPicker(model_, this);
    header->addWidget(picker_, 0, Qt::AlignVCenter);
    stack->addLayout(header);

    empty_ = new QLabel(tr("No apps are playing audio."), this);
    empty_->setObjectName(QStringLiteral("emptyState"));
    empty_->setTextFormat(Qt::PlainText);
    empty_->setFont(styleFont(TextStyle::callout));
    empty_->setAlignment(Qt::AlignCenter);
    empty_->setContentsMargins(0, kEmptyPadding, 0, kEmptyPadding);
    empty_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    stack->addWidget(empty_);

    list_ = new QScrollArea(this);
    list_->setObjectName(QStringLiteral("appList"));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setWidgetResizable(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Tab goes through the rows' controls, never to the list itself; the list
    // scrolls to show the control that has the focus.
    list_->setFocusPolicy(Qt::NoFocus);
    list_->viewport()->setAutoFillBackground(false);
    auto* content = new QWidget(list_);
    content->setAutoFillBackground(false);
    rowsLayout_ = new QVBoxLayout(content);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(kRowSpacing);
    rowsLayout_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    list_->setWidget(content);
    stack->addWidget(list_);
    // A long list builds the rows its viewport shows, whatever changes its size.
    content->installEventFilter(this);
    list_->viewport()->installEventFilter(this);

    error_ = new QLabel(this);
    error_->setObjectName(QStringLiteral("errorLine"));
    error_->setTextFormat(Qt::PlainText);
    error_->setWordWrap(true);
    error_->setFont(styleFont(TextStyle::caption));
    error_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stack->addWidget(error_);

    stack->addWidget(dividerLine(this));

    hardLimit_ = new QCheckBox(tr("Hard limit, as loud as possible"), this);
    hardLimit_->setObjectName(QStringLiteral("hardLimit"));
    hardLimit_->setFont(styleFont(TextStyle::caption));
    hardLimit_->setToolTip(tr("A boost past full scale is clipped instead of lowered smoothly: "
                              "louder, but it distorts."));
    hardLimit_->setChecked(!model_.limiterOn());
    connect(hardLimit_, &QCheckBox::clicked, this,
            [this](bool checked) { model_.setLimiterOn(!checked); });
    connect(&model_, &MixerModel::limiterChanged, this,
            [this] { hardLimit_->setChecked(!model_.limiterOn()); });
    stack->addWidget(hardLimit_);

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(0, 0, 0, 0);
    launchAtLogin_ = new QCheckBox(tr("Launch at login"), this);
    launchAtLogin_->setObjectName(QStringLiteral("launchAtLogin"));
    launchAtLogin_->setFont(styleFont(TextStyle::caption));
    launchAtLogin_->setChecked(loginItem_.status() == kLoginItemEnabled);
    // clicked, not toggled: only the user's changes reach the login-item service.
    connect(launchAtLogin_, &QCheckBox::clicked, this, &MixerView::launchAtLoginClicked);
    footer->addWidget(launchAtLogin_, 0, Qt::AlignVCenter);
    footer->addStretch(1);
    quitButton_ = new QPushButton(tr("Quit"), this);
    quitButton_->setObjectName(QStringLiteral("quit"));
    quitButton_->setFont(styleFont(TextStyle::caption));
    quitButton_->setShortcut(quitShortcut());
    quitButton_->setToolTip(quitShortcut().toString(QKeySequence::NativeText));
    connect(quitButton_, &QPushButton::clicked, this, [this] {
        if (quit_) {
            quit_();
        }
    });
    footer->addWidget(quitButton_, 0, Qt::AlignVCenter);
    stack->addLayout(footer);

    connect(&model_, &MixerModel::appsChanged, this, &MixerView::redrawApps);
    connect(&model_, &MixerModel::settingsChanged, this, &MixerView::redrawSettings);
    connect(&model_, &MixerModel::loweringChanged, this, &MixerView::redrawSettings);
    connect(&model_, &MixerModel::loweredLevelChanged, this, &MixerView::redrawSettings);
    connect(&model_, &MixerModel::lastErrorChanged, this, &MixerView::redrawError);
    connect(&model_.levels(), &LevelMonitor::levelsChanged, this, &MixerView::redrawLevels);
    connect(list_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        buildWindow();
        if (isVisible()) {
            updateShownRows();
        }
    });
    redrawColours();
    redrawApps();
    redrawError();
}

MixerView::~MixerView() {
    model_.levels().unwatch(this);
}

void MixerView::redrawColours() {
    const QPalette& colours = palette();
    setTextColor(*empty_, secondaryColor(colours));
    setTextColor(*error_, redColor(colours));
    // A handle that stands out from the panel, in a track that shows where it runs.
    const QColor handle = lineColor(colours);
    QColor track = handle;
    track.setAlphaF(0.18F);
    list_->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 14px; margin: 0; }"
                       "QScrollBar::groove:vertical { background: transparent; }"
                       "QScrollBar::handle:vertical { background: %1; border-radius: 4px;"
                       " min-height: 28px; margin: 0 1px 0 5px; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical {"
                       " background: %2; margin: 0 1px 0 5px; border-radius: 4px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical {"
                       " height: 0; border: none; }")
            .arg(handle.name(QColor::HexRgb), track.name(QColor::HexArgb)));
    list_->verticalScrollBar()->setProperty("handleColour", handle);
}

void MixerView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && list_) {
        redrawColours();
    }
}

void MixerView::setFramed(bool framed) {
    framed_ = framed;
    setAutoFillBackground(framed);
    update();
}

void MixerView::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (!framed_) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(lineColor(palette()), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kFrameRadius,
                            kFrameRadius);
}

void MixerView::setHeightLimit(int height) {
    heightLimit_ = std::max(height, 0);
    fitList();
}

void MixerView::fitList() {
    const std::size_t count = rowCount();
    int height = listHeight(count);
    if (heightLimit_ > 0) {
        // What the header, the error line and the footer take comes first; the
        // list gets the rest, but never more than its share of the screen.
        layout()->invalidate();
        const int others =
            layout()->sizeHint().height() - (list_->isHidden() ? 0 : list_->minimumHeight());
        const int room =
            std::min(heightLimit_ - others, static_cast<int>(heightLimit_ * kMaxScreenShare));
        height = listHeight(count, room);
    }
    if (list_->height() != height || list_->minimumHeight() != height) {
        list_->setFixedHeight(height);
    }
}

AppRow* MixerView::row(const QString& appID) const {
    const auto found = rows_.find(appID);
    return found == rows_.end() ? nullptr : found->second;
}

std::vector<AppRow*> MixerView::rows() const {
    std::vector<AppRow*> result;
    if (isLongList()) {
        for (const auto& [position, appRow] : placed_) {
            result.push_back(appRow);
        }
        return result;
    }
    for (int i = 0; i < rowsLayout_->count(); ++i) {
        if (auto* appRow = qobject_cast<AppRow*>(rowsLayout_->itemAt(i)->widget())) {
            result.push_back(appRow);
        }
    }
    return result;
}

void MixerView::redrawApps() {
    const auto& apps = model_.apps();
    if (apps.size() > kMaxBuiltRows && redrawLongList()) {
        showRowCount();
        return;
    }
    leaveLongList();

    // Rows are kept by app id and updated in place; the layout is only touched
    // when apps came, went or moved.
    std::map<QString, AppRow*> kept;
    std::vector<AppRow*> wanted;
    for (const auto& app : apps) {
        if (kept.count(app.id) != 0) {
            continue; // a second entry with the same id gets no row of its own
        }
        AppRow* appRow = nullptr;
        if (auto found = rows_.find(app.id); found != rows_.end()) {
            appRow = found->second;
            rows_.erase(found);
            appRow->setApp(app);
        } else {
            appRow = new AppRow(model_, app, list_->widget());
        }
        kept.emplace(app.id, appRow);
        wanted.push_back(appRow);
    }
    for (auto& [id, gone] : rows_) {
        rowsLayout_->removeWidget(gone);
        delete gone;
    }
    rows_ = std::move(kept);

    if (rows() != wanted) {
        for (AppRow* appRow : rows()) {
            rowsLayout_->removeWidget(appRow);
        }
        for (AppRow* appRow : wanted) {
            rowsLayout_->addWidget(appRow);
            appRow->show();
        }
    }

    showRowCount();
}

void MixerView::showRowCount() {
    const bool empty = rowCount() == 0;
    empty_->setVisible(empty);
    list_->setVisible(!empty);
    fitList();
    // Once the rows are laid out: frames stop coming while all is silent, and a
    // row that came must be measured before its sound can start them again.
    if (isVisible()) {
        QMetaObject::invokeMethod(this, &MixerView::updateShownRows, Qt::QueuedConnection);
    }
}

void MixerView::redrawSettings() {
    for (auto& [id, appRow] : rows_) {
        appRow->redraw();
    }
}

void MixerView::redrawError() {
    const auto& lastError = model_.lastError();
    error_->setVisible(lastError.has_value());
    if (!lastError) {
        fitList();
        return;
    }
    const int width = kWidth - 2 * kPadding;
    const QString shown = elideToLines(*lastError, error_->font(), width, kErrorLines);
    if (error_->text() != shown) {
        error_->setText(shown);
    }
    fitList();
}

void MixerView::launchAtLoginClicked(bool checked) {
    const bool succeeded = checked ? loginItem_.registerItem() : loginItem_.unregisterItem();
    if (succeeded) {
        return;
    }
    // A failed call says nothing; the box shows what the service now reports.
    launchAtLogin_->setChecked(loginItem_.status() == kLoginItemEnabled);
}

void MixerView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The native window may be new: the first show, or new window flags.
    QWindow* window = this->window()->windowHandle();
    if (window != levelWindow_) {
        if (levelWindow_) {
            levelWindow_->removeEventFilter(this);
            disconnect(levelWindow_, nullptr, this, nullptr);
        }
        levelWindow_ = window;
        if (window != nullptr) {
            window->installEventFilter(this);
            connect(window, &QWindow::windowStateChanged, this, &MixerView::updateLevelWatch);
        }
    }
    updateLevelWatch();
}

void MixerView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    updateLevelWatch();
}

bool MixerView::eventFilter(QObject* watched, QEvent* event) {
    // The window system tells by exposure that a window went to another
    // workspace, was covered or was unmapped; the flag is set before the event.
    if (watched == levelWindow_ && event->type() == QEvent::Expose) {
        updateLevelWatch();
    }
    if (event->type() == QEvent::Resize &&
        (watched == list_->widget() || watched == list_->viewport())) {
        followViewport();
    }
    return QWidget::eventFilter(watched, event);
}

void MixerView::setCovered(bool covered) {
    covered_ = covered;
    updateLevelWatch();
}

// The levels are measured only while someone can see them, at the display's
// pace: the view shown in a window that is neither minimised, unexposed nor
// covered. Exposure comes before the first frame is drawn, so meters start with it.
void MixerView::updateLevelWatch() {
    const bool seen = isVisible() && !covered_ && levelWindow_ && levelWindow_->isExposed() &&
                      !(levelWindow_->windowStates() & Qt::WindowMinimized);
    if (seen == watchingLevels_) {
        return;
    }
    watchingLevels_ = seen;
    if (!seen) {
        model_.levels().unwatch(this);
        return;
    }
    const double hertz = screen() != nullptr ? screen()->refreshRate() : 0.0;
    const auto frameTime = std::chrono::milliseconds(
        hertz >= 1.0 ? static_cast<long>(1000.0 / hertz) : kFallbackFrameTime.count());
    updateShownRows();
    model_.levels().watch(this, frameTime, shownRows_);
}

bool MixerView::isShown(const AppRow& row) const {
    const QWidget* content = list_->widget();
    return row.isVisibleTo(content) &&
           row.geometry().intersects(QRect(-content->pos(), list_->viewport()->size()));
}

// Checked once a frame, for rows that came, went or moved, and on every scroll;
// it allocates only when the shown rows changed. A row scrolled out empties its
// meter, so that it shows its own level again the moment it is back.
void MixerView::updateShownRows() {
    auto known = shownRows_.begin();
    bool changed = false;
    for (const auto& [id, row] : rows_) {
        if (isShown(*row)) {
            changed = known == shownRows_.end() || *known != id;
            if (changed) {
                break;
            }
            ++known;
        }
    }
    if (!changed && known == shownRows_.end()) {
        return;
    }
    std::set<QString> shown;
    for (const auto& [id, row] : rows_) {
        if (isShown(*row)) {
            shown.insert(id);
        } else if (shownRows_.contains(id)) {
            row->meter()->clear();
        }
    }
    shownRows_ = std::move(shown);
    model_.levels().setShownRows(this, shownRows_);
}

void MixerView::redrawLevels() {
    const LevelMonitor& levels = model_.levels();
    for (const QString& id : shownRows_) {
        if (const auto row = rows_.find(id); row != rows_.end()) {
            row->second->showPeak(levels.peak(id), levels.sinceLastFrame(), levels.isLimited(id));
        }
    }
    updateShownRows();
}

} // namespace corvalle::ui
