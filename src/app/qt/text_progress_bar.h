// ProgBar in Qt: a progress bar with its text drawn over the bar.
#pragma once

#include <QWidget>

namespace jor::app {

// A progress bar that draws its text over the bar.
class TextProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit TextProgressBar(QWidget* parent = nullptr);

    void setMaximum(int32_t maximum);
    void setValue(int32_t value);
    void setText(const QString& text);
    int32_t maximum() const { return maximum_; }
    int32_t value() const { return value_; }
    QString text() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int32_t maximum_ = 100;
    int32_t value_ = 0;
    QString text_;
};

}  // namespace jor::app
