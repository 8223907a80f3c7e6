// The window's one-part status line. It holds its text itself and paints it on demand, because
// the upload that changes it blocks the event loop: a text set during the upload reaches the
// screen only through a paint made within the call.
#pragma once

#include <QStatusBar>
#include <QString>

#include <chrono>
#include <functional>

class TStatusLine : public QStatusBar {
    Q_OBJECT

public:
    explicit TStatusLine(QWidget* parent = nullptr);

    // Stores the text; it is painted by the next paint, whoever asks for it.
    void SetText(const QString& text);
    const QString& Text() const { return FText; }

    // Paints now, within the call.
    void PaintNow();
    // Paints now when the last paint is at least PaintInterval old; otherwise leaves the text
    // for a later paint. A repaint costs more than a block of a fast transfer, and the screen
    // shows no more than some sixty pictures a second anyway.
    void PaintWhenDue();
    std::chrono::milliseconds PaintInterval() const { return FPaintInterval; }
    void SetPaintInterval(std::chrono::milliseconds interval) { FPaintInterval = interval; }

    // Paints so far, and the text the last one showed.
    int PaintCount() const { return FPaintCount; }
    const QString& PaintedText() const { return FPaintedText; }
    // Told of every paint, with the text it showed.
    std::function<void(const QString&)> OnPainted;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    using Clock = std::chrono::steady_clock;

    QString FText;
    QString FPaintedText;
    std::chrono::milliseconds FPaintInterval{15};
    Clock::time_point FLastPaint{};
    int FPaintCount = 0;
};
