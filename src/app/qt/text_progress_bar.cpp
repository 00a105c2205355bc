// ProgBar in Qt: a progress bar with its text drawn over the bar.
#include "app/qt/text_progress_bar.h"

#include <QPainter>
#include <QStyleOptionProgressBar>

#include <algorithm>

namespace jor::app {

TextProgressBar::TextProgressBar(QWidget* parent) : QWidget(parent) {}

void TextProgressBar::setMaximum(int32_t maximum) {
    maximum_ = maximum;
    update();
}

void TextProgressBar::setValue(int32_t value) {
    value_ = value;
    update();
}

void TextProgressBar::setText(const QString& text) {
    text_ = text;
    update();
}

void TextProgressBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QStyleOptionProgressBar option;
    option.initFrom(this);
    option.minimum = 0;
    option.maximum = std::max(maximum_, 1);
    option.progress = maximum_ > 0 ? std::clamp(value_, 0, maximum_) : 0;
    option.textVisible = false;
    style()->drawControl(QStyle::CE_ProgressBarGroove, &option, &p, this);
    if (option.progress > 0) style()->drawControl(QStyle::CE_ProgressBarContents, &option, &p, this);
    if (!text_.isEmpty()) {
        p.setPen(Qt::black);
        p.setFont(font());
        p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text_);
    }
}

}  // namespace jor::app
