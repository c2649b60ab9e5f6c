#pragma once

#include <QToolButton>

class QMenu;

namespace corvalle {

class MixerModel;

namespace ui {

// The pull-down button in the panel's header: shows the default output device
// and makes another one the system default. Its symbol tells the kind of the
// device (speakers, headphones, display, Bluetooth, USB). Its menu holds an "Output Device"
// header and one entry per device of the model; the current one carries a
// checkmark (entry property kSymbolProperty "checkmark").
class OutputPicker final : public QToolButton {
    Q_OBJECT

public:
    static constexpr int kMaxWidth = 200;

    explicit OutputPicker(MixerModel& model, QWidget* parent = nullptr);

    // The device name as given by the model, before it is shortened to fit.
    const QString& outputName() const { return outputName_; }
    // The device entries of the menu, in order (the header is not one).
    QList<QAction*> deviceActions() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void redrawSymbol();
    void redrawLabel();
    void redrawMenu();

    MixerModel& model_;
    QMenu* menu_ = nullptr;
    QString outputName_;
};

// A name as one line: tabs and line breaks become spaces.
QString oneLine(const QString& text);
// A name as one line of a menu entry or button, where "&" stands for itself
// rather than marking a mnemonic.
QString withoutMnemonic(const QString& text);

} // namespace ui
} // namespace corvalle
