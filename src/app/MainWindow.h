#pragma once

#include <QWidget>
#include <functional>
#include <memory>

namespace corvalle {

class LoginItem;
class WindowTitleRow;
class X11CoverWatch;
class MixerModel;

namespace ui {
class MixerView;
}

// The window "Corvalle": the mixer panel with a hint line under it. Its size
// follows the content and cannot be changed by the user; the list inside takes
// no more than the screen it is on leaves room for, frame included.
class MainWindow final : public QWidget {
    Q_OBJECT

public:
    // `withTray` false: there is no tray icon, so the hint says that closing the
    // window quits, and closing asks `closeRequested`'s receiver to quit.
    MainWindow(MixerModel& model, LoginItem& loginItem, std::function<void()> quit, bool withTray,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    ui::MixerView* mixerView() const { return view_; }
    QString hintText() const;
    // A tray appeared or went away: the hint and what closing does follow.
    void setWithTray(bool withTray);
    // Draws the window's own title row instead of leaving the frame to the
    // platform. Called once it shows that the platform's frame is Qt's own
    // Wayland stand-in.
    void useOwnTitleRow();
    WindowTitleRow* titleRow() const { return titleRow_; }

    // Sizes the window to its screen's available area.
    void fitToScreen();
    // The position that centres the window in `available`, moved up where its
    // frame would reach past the bottom, never with its title above the top.
    QPoint centredIn(const QRect& available) const;

signals:
    // Closing while there is no tray icon: the program should end.
    void closeRequested();
    // The window left the minimised state (the user restored it from the task bar).
    void restored();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    static QString hintFor(bool withTray);
    void redrawHintColours();
    int frameHeight() const;

    ui::MixerView* view_ = nullptr;
    WindowTitleRow* titleRow_ = nullptr;
    // Tells the view when the window is wholly covered, where the desktop says so.
    std::unique_ptr<X11CoverWatch> coverWatch_;
    bool withTray_ = true;
    bool screenWatched_ = false;
};

} // namespace corvalle
