#include "ElidedLabel.h"

#include "Accessibility.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextDocument>
#include <QTextLayout>
#include <cmath>

namespace corvalle::ui {

namespace {

// Line breaks and tabs in a name would make the one line taller or ragged.
QString singleLine(const QString& text) {
    QString result = text;
    for (QChar& c : result) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t') ||
            c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
            c = QLatin1Char(' ');
        }
    }
    return result;
}

} // namespace

QString plainToolTip(const QString& text) {
    // Tooltips are shown as rich text when they look like it.
    if (!Qt::mightBeRichText(text)) {
        return text;
    }
    return QStringLiteral("<p style='white-space:pre-wrap'>%1</p>").arg(text.toHtmlEscaped());
}

ElidedLabel::ElidedLabel(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    installAccessibleInterfaces();
}

void ElidedLabel::setText(const QString& text) {
    const QString line = singleLine(text);
    if (line == text_) {
        return;
    }
    text_ = line;
    updateGeometry();
    updateToolTip();
    update();
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateToolTip();
}

void ElidedLabel::updateToolTip() {
    const QString tip = shownText() == text_ ? QString() : plainToolTip(text_);
    if (toolTip() != tip) {
        setToolTip(tip);
    }
}

QString ElidedLabel::shownText() const {
    return fontMetrics().elidedText(text_, Qt::ElideRight, width());
}

QSize ElidedLabel::sizeHint() const {
    // Rounded up: elision compares the exact, fractional width of the text.
    const QFontMetricsF metrics(font());
    return {static_cast<int>(std::ceil(metrics.horizontalAdvance(text_))) + 1,
            fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    return {metrics.horizontalAdvance(QStringLiteral("…")), metrics.height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

QString elideToLines(const QString& text, const QFont& font, int width, int maxLines) {
    if (text.isEmpty() || maxLines < 1 || width < 1) {
        return text;
    }
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(width);
        if (lines.size() + 1 == maxLines && line.textStart() + line.textLength() < text.size()) {
            // The rest of the text goes on the last line, cut with an ellipsis.
            const QString rest = singleLine(text.mid(line.textStart()));
            lines << QFontMetrics(font).elidedText(rest, Qt::ElideRight, width);
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    // Explicit breaks, so that a label wrapping at the same width shows the same lines.
    return lines.join(QChar::LineSeparator);
}

} // namespace corvalle::ui
