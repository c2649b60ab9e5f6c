#pragma once

#include <QKeySequence>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <map>
#include <set>

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class QWindow;

namespace corvalle {

class LoginItem;
class MixerModel;

namespace ui {

class AppRow;
class OutputPicker;

// The mixer panel: header with the output picker, one row per application (or
// the empty line), the last tap error, "Hard limit, as loud as possible",
// "Launch at login" and "Quit". It follows the model's signals; its only state
// of its own is the login checkbox. The list
// grows with the rows up to 420 points, or to what the screen leaves room for
// once the view knows it (setHeightLimit); rows that do not fit scroll.
//
// Children carry object names for tests and tools: "title", "appList",
// "emptyState", "errorLine", "hardLimit", "launchAtLogin", "quit".
class MixerView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 380;
    static constexpr int kPadding = 14;
    static constexpr int kSpacing = 10;
    static constexpr int kRowPitch = 44;
    static constexpr int kMaxListHeight = 420;
    static constexpr int kErrorLines = 3;
    // The most of a screen's height that the list takes, however many rows.
    static constexpr double kMaxScreenShare = 2.0 / 3.0;

    // `quit` runs for the Quit button and its shortcut.
    MixerView(MixerModel& model, LoginItem& loginItem, std::function<void()> quit,
              QWidget* parent = nullptr);

    // The row of an application id, or nullptr.
    AppRow* row(const QString& appID) const;
    // The rows in the order shown.
    std::vector<AppRow*> rows() const;

    // The platform's quit shortcut, Ctrl+Q where the platform names none.
    static QKeySequence quitShortcut();

    // The height of the list for `count` rows: min(count × 44, 420).
    static int listHeight(std::size_t count);
    // The same when the list has `room` points (at least one row's pitch).
    static int listHeight(std::size_t count, int room);

    // The whole view must fit `height` points (the screen's available height
    // less whatever surrounds the view); 0 lifts the limit.
    void setHeightLimit(int height);
    int heightLimit() const { return heightLimit_; }

    // Draws a frame around the view, for the panel that floats over other windows.
    void setFramed(bool framed);

    // Other windows cover the view's window wholly, as the window system says.
    void setCovered(bool covered);

    // Used where the screen tells no refresh rate.
    static constexpr std::chrono::milliseconds kFallbackFrameTime{16};

    ~MixerView() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void redrawApps();
    void redrawSettings();
    void redrawError();
    void redrawLevels();
    // Rows at least partly inside the list's viewport are shown; only they are measured.
    bool isShown(const AppRow& row) const;
    void updateShownRows();
    // Watches the levels while they can be seen, stops watching when not.
    void updateLevelWatch();
    void launchAtLoginClicked(bool checked);
    void fitList();
    void redrawColours();

    MixerModel& model_;
    LoginItem& loginItem_;
    std::function<void()> quit_;

    OutputPicker* picker_ = nullptr;
    QLabel* empty_ = nullptr;
    QScrollArea* list_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;
    QLabel* error_ = nullptr;
    QCheckBox* launchAtLogin_ = nullptr;
    QCheckBox* hardLimit_ = nullptr;
    QPushButton* quitButton_ = nullptr;
    std::map<QString, AppRow*> rows_;
    std::set<QString> shownRows_;
    int heightLimit_ = 0;
    bool framed_ = false;
    // The window whose exposure and state decide whether the levels are seen.
    QPointer<QWindow> levelWindow_;
    bool covered_ = false;
    bool watchingLevels_ = false;
};

} // namespace ui
} // namespace corvalle
