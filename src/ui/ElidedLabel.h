#pragma once

#include <QWidget>

namespace corvalle::ui {

// One line of plain text that ends in an ellipsis when it does not fit; then its
// tooltip gives the whole text. Names from the audio system are shown verbatim:
// no rich text, no mnemonics.
class ElidedLabel final : public QWidget {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return text_; }
    // The text as drawn at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateToolTip();

    QString text_;
};

// A tooltip that shows `text` as written, even where it looks like rich text.
QString plainToolTip(const QString& text);

// `text` cut to at most `maxLines` lines of `width` pixels when word-wrapped,
// the last kept line ending in an ellipsis when anything was cut.
QString elideToLines(const QString& text, const QFont& font, int width, int maxLines);

} // namespace corvalle::ui
