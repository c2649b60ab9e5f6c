#pragma once

#include <QKeySequence>
#include <QString>
#include <QWidget>
#include <functional>
#include <map>

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace corvalle {

class LoginItem;
class MixerModel;

namespace ui {

class AppRow;
class OutputPicker;

// The mixer panel: header with the output picker, one row per application (or
// the empty line), the last tap error, "Launch at login" and "Quit". It follows
// the model's signals; its only state of its own is the checkbox.
//
// Children carry object names for tests and tools: "title", "appList",
// "emptyState", "errorLine", "launchAtLogin", "quit".
class MixerView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 380;
    static constexpr int kPadding = 14;
    static constexpr int kSpacing = 10;
    static constexpr int kRowPitch = 44;
    static constexpr int kMaxListHeight = 420;
    static constexpr int kErrorLines = 3;

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

private:
    void redrawApps();
    void redrawSettings();
    void redrawError();
    void launchAtLoginClicked(bool checked);

    MixerModel& model_;
    LoginItem& loginItem_;
    std::function<void()> quit_;

    OutputPicker* picker_ = nullptr;
    QLabel* empty_ = nullptr;
    QScrollArea* list_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;
    QLabel* error_ = nullptr;
    QCheckBox* launchAtLogin_ = nullptr;
    QPushButton* quitButton_ = nullptr;
    std::map<QString, AppRow*> rows_;
};

} // namespace ui
} // namespace corvalle
