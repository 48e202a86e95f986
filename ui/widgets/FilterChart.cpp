#include "FilterChart.h"

#include "TextStyles.h"

#include <QLocale>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <utility>

namespace fennick {

namespace {

constexpr double kTopDb = 6; // a little room above 0 dB, so that the passband is not the frame
constexpr double kBottomDb = -180;

// A step of 1, 2 or 5 times a power of ten that gives at most `most` intervals over `span`.
double niceStep(double span, int most)
{
    const double rough = span / most;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= rough) return factor * power;
    }
    return 10 * power;
}

QString minusText(double value, int decimals, const QLocale& locale)
{
    const QString digits = locale.toString(std::abs(value), 'f', decimals);
    return value < 0 && digits != locale.toString(0.0, 'f', decimals) ? QStringLiteral("\u2212") + digits : digits;
}

} // namespace

FilterChart::FilterChart(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("filterChart"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setFont(captionFont(font()));
}

void FilterChart::setResponse(std::shared_ptr<const FilterResponse> response, bool showsImpulse)
{
    if (response == response_ && showsImpulse == showsImpulse_) return;
    response_ = std::move(response);
    showsImpulse_ = showsImpulse;
    update();
}

void FilterChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    const QColor text = palette().color(group, QPalette::WindowText);
    const QColor dim = secondaryTextColor(this);
    QColor grid = text;
    grid.setAlphaF(0.14f);
    const QColor curve = isEnabled() ? palette().color(QPalette::Active, QPalette::Highlight) : dim;
    const QLocale locale;
    const QFontMetrics metrics(font());

    // Plot area: the level labels to the left, the frequency or time labels below.
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("\u2212180")) + 6;
    const QRectF area(
        labelWidth, metrics.height() / 2.0, width() - labelWidth - 6.0, height() - metrics.height() * 1.5 - 4.0);
    painter.fillRect(area, palette().color(group, QPalette::Base));
    painter.setPen(QPen(grid, 0));
    painter.drawRect(area);
    if (area.width() < 20 || area.height() < 20) return;

    const auto drawYLabel = [&](double y, const QString& label) {
        painter.setPen(dim);
        painter.drawText(QRectF(0, y - metrics.height() / 2.0, labelWidth - 5, metrics.height()),
            Qt::AlignRight | Qt::AlignVCenter, label);
    };
    // X labels centred under their tick; the last one right-aligned to the frame, and any that would
    // run into the unit label at the end left out.
    const QString unit = showsImpulse_ ? QStringLiteral("ms") : QStringLiteral("kHz");
    const double unitLeft = area.right() - metrics.horizontalAdvance(unit);
    const auto drawXLabel = [&](double x, const QString& label) {
        const double half = metrics.horizontalAdvance(label) / 2.0 + 2;
        if (x + half > unitLeft - 6 || x - half < 0) return;
        painter.setPen(dim);
        painter.drawText(QRectF(x - half, area.bottom() + 2, 2 * half, metrics.height()), Qt::AlignCenter, label);
    };
    const auto drawXAxis = [&](double from, double to, const auto& place) {
        const double step = niceStep(to - from, std::max(2, static_cast<int>(area.width() / 60)));
        for (double value = std::ceil(from / step) * step; value <= to + 1e-9; value += step) {
            const double x = place(value);
            painter.setPen(QPen(grid, 0));
            painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
            drawXLabel(x, minusText(value, step < 1 ? (step < 0.1 ? 2 : 1) : 0, locale));
        }
        painter.setPen(dim);
        painter.drawText(QRectF(unitLeft, area.bottom() + 2, area.right() - unitLeft, metrics.height()),
            Qt::AlignRight | Qt::AlignVCenter, unit);
    };

    const FilterResponse* r = response_.get();
    painter.setClipRect(area.adjusted(-1, -1, 1, 1));
    if (!showsImpulse_) {
        const double topHz = r != nullptr && !r->magnitudeDb.empty()
            ? r->binHz * static_cast<double>(r->magnitudeDb.size() - 1)
            : 22050;
        const auto xAt = [&](double hz) { return area.left() + hz / topHz * area.width(); };
        const auto yAt = [&](double db) {
            return area.top() + (kTopDb - std::clamp(db, kBottomDb, kTopDb)) / (kTopDb - kBottomDb) * area.height();
        };
        painter.setClipping(false);
        for (int db = 0; db >= kBottomDb; db -= 30) {
            painter.setPen(QPen(grid, 0));
            painter.drawLine(QPointF(area.left(), yAt(db)), QPointF(area.right(), yAt(db)));
            if (db % 90 == 0) drawYLabel(yAt(db), minusText(db, 0, locale));
        }
        drawXAxis(0, topHz / 1000, [&](double khz) { return xAt(khz * 1000); });
        if (r == nullptr) return;
        painter.setClipRect(area.adjusted(-1, -1, 1, 1));
        // The passband edge dotted, the output's Nyquist frequency dashed and named.
        painter.setPen(QPen(dim, 0, Qt::DotLine));
        painter.drawLine(QPointF(xAt(r->passbandEndHz), area.top()), QPointF(xAt(r->passbandEndHz), area.bottom()));
        const double nyquist = xAt(r->targetRate / 2);
        painter.setPen(QPen(text, 0, Qt::DashLine));
        painter.drawLine(QPointF(nyquist, area.top()), QPointF(nyquist, area.bottom()));
        const QString name = QStringLiteral("Nyquist");
        const double nameWidth = metrics.horizontalAdvance(name) + 4;
        const bool leftOfLine = nyquist + nameWidth > area.right();
        const double nameLeft = leftOfLine ? nyquist - nameWidth - 2 : nyquist + 3;
        // High where the curve under the name runs low, and low where it runs high (the passband
        // reaching the line from the left), so that the name stays clear of it.
        const auto binAt = [&](double x) {
            return std::min(r->magnitudeDb.size() - 1,
                static_cast<std::size_t>(std::max(0.0, (x - area.left()) / area.width() * topHz / r->binHz)));
        };
        const auto under = r->magnitudeDb.begin();
        const double highest = r->magnitudeDb.empty()
            ? 0.0
            : *std::max_element(under + binAt(nameLeft), under + binAt(nameLeft + nameWidth) + 1);
        painter.setPen(text);
        painter.drawText(
            QRectF(nameLeft, yAt(highest > -90 ? -150 : -45) - metrics.height() / 2.0, nameWidth, metrics.height()),
            leftOfLine ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter, name);
        // One point per device pixel column: the highest level in it, so that no stopband lobe is lost.
        const double columns = std::max(1.0, std::ceil(area.width() * devicePixelRatioF()));
        QPainterPath path;
        const std::size_t bins = r->magnitudeDb.size();
        for (int column = 0; column < static_cast<int>(columns); ++column) {
            const auto from = static_cast<std::size_t>(column / columns * static_cast<double>(bins));
            const auto to
                = std::max(from + 1, static_cast<std::size_t>((column + 1) / columns * static_cast<double>(bins)));
            const double highest = *std::max_element(r->magnitudeDb.begin() + static_cast<long>(from),
                r->magnitudeDb.begin() + static_cast<long>(std::min(to, bins)));
            const QPointF point(area.left() + (column + 0.5) / columns * area.width(), yAt(highest));
            column == 0 ? path.moveTo(point) : path.lineTo(point);
        }
        painter.setPen(QPen(curve, 1.5));
        painter.drawPath(path);
        return;
    }

    // The impulse response, scaled to its peak, over the span where it is above -60 dB of it:
    // the same span either side, so that pre-ringing (or its absence) shows at once.
    std::size_t half = 8;
    double peak = 1;
    if (r != nullptr && !r->impulse.empty()) {
        peak = r->impulse[r->peakIndex];
        std::size_t first = r->peakIndex, last = r->peakIndex;
        for (std::size_t i = 0; i < r->impulse.size(); ++i) {
            if (std::abs(r->impulse[i]) > 1e-3 * std::abs(peak)) {
                first = std::min(first, i);
                last = i;
            }
        }
        half = std::max({half, r->peakIndex - first, last - r->peakIndex});
    }
    const double rate = r != nullptr ? r->targetRate : 44100;
    const double spanMs = static_cast<double>(half) / rate * 1000;
    const auto xAt = [&](double ms) { return area.center().x() + ms / spanMs * area.width() / 2; };
    const auto yAt = [&](double level) { return area.top() + (1.1 - level) / 1.45 * area.height(); };
    painter.setClipping(false);
    for (double level : {0.0, 1.0}) {
        painter.setPen(QPen(grid, 0));
        painter.drawLine(QPointF(area.left(), yAt(level)), QPointF(area.right(), yAt(level)));
        drawYLabel(yAt(level), locale.toString(level, 'f', 0));
    }
    drawXAxis(-spanMs, spanMs, xAt);
    if (r == nullptr || r->impulse.empty()) return;
    painter.setClipRect(area.adjusted(-1, -1, 1, 1));
    QPainterPath path;
    bool started = false;
    for (std::size_t i = 0; i < r->impulse.size(); ++i) {
        const double offset = static_cast<double>(i) - static_cast<double>(r->peakIndex);
        if (std::abs(offset) > static_cast<double>(half)) continue;
        const QPointF point(xAt(offset / rate * 1000), yAt(r->impulse[i] / peak));
        started ? path.lineTo(point) : path.moveTo(point);
        started = true;
    }
    painter.setPen(QPen(curve, 1.5));
    painter.drawPath(path);
}

} // namespace fennick
