#pragma once

#include <QKeySequence>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class QWindow;

namespace corvalle {

struct AudioApp;
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
// A list of more than kMaxBuiltRows rows (remembered applications pile up) has
// widgets only for the rows in and near the viewport, placed by position in a
// content of the full list's height, and moves them along as the list scrolls;
// the row that has the focus and a row whose slider is being dragged keep theirs.
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
    // Up to this many rows each has its widget, in a layout; above it only the
    // rows near the viewport have one.
    static constexpr std::size_t kMaxBuiltRows = 300;
    // Rows built past each edge of the viewport in a long list: the next rows
    // are ready before the wheel or the focus brings them in.
    static constexpr int kWindowMargin = 3;

    // `quit` runs for the Quit button and its shortcut.
    MixerView(MixerModel& model, LoginItem& loginItem, std::function<void()> quit,
              QWidget* parent = nullptr);

    // The row of an application id, or nullptr. In a list of more than
    // kMaxBuiltRows rows only the rows that are built have one.
    AppRow* row(const QString& appID) const;
    // The rows in the order shown; in a list of more than kMaxBuiltRows rows,
    // only the ones that are built.
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
    // Long lists: LongList.cpp.
    class ListIndex;
    // Shows a list of more than kMaxBuiltRows rows; false for a shorter one.
    bool redrawLongList();
    // Back to one widget per row in the layout.
    void leaveLongList();
    bool isLongList() const { return !order_.empty(); }
    std::size_t rowCount() const { return isLongList() ? order_.size() : rows_.size(); }
    // Builds the rows in and near the viewport and lets go of the others.
    void buildWindow();
    void placeRow(AppRow& row, int position) const;
    AppRow* makeRow(const AudioApp& app);
    // The built row that `widget` is in, or nullptr.
    AppRow* rowOf(QWidget* widget) const;
    void orderTabs();
    void followViewport();
    // Shows the list or the empty line and fits the list to its rows.
    void showRowCount();
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
    // Every built row by app id.
    std::map<QString, AppRow*> rows_;
    // In a long list: the index in the model's apps of each row, and the built
    // rows by position. Empty otherwise.
    std::vector<std::size_t> order_;
    std::map<int, AppRow*> placed_;
    // Rows that left a long list's window, hidden, to be shown for another app.
    std::vector<AppRow*> spare_;
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
