#include "FilterChart.h"

#include "TextStyles.h"

#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

namespace fennick {

namespace {

constexpr double kTopDb = 6; // a little room above 0 dB, so that the passband is not the frame
constexpr double kBottomDb = -180;
constexpr double kPassbandTopDb = 0.1, kPassbandBottomDb = -1.0;

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

// A typographic minus, and no "−0.0" for a value that rounds to zero.
QString minusText(double value, int decimals, const QLocale& locale)
{
    const QString digits = locale.toString(std::abs(value), 'f', decimals);
    return value < 0 && digits != locale.toString(0.0, 'f', decimals) ? QStringLiteral("\u2212") + digits : digits;
}

// The level at `hz` between the bins around it; bin i is centred at firstHz + i * binHz.
double levelAt(const std::vector<double>& levels, double firstHz, double binHz, double hz)
{
    if (levels.empty()) return 0;
    const double position = std::clamp((hz - firstHz) / binHz, 0.0, static_cast<double>(levels.size() - 1));
    const auto below = static_cast<std::size_t>(position);
    const std::size_t above = std::min(below + 1, levels.size() - 1);
    const double fraction = position - static_cast<double>(below);
    return levels[below] + fraction * (levels[above] - levels[below]);
}

// One point per device pixel column from `fromHz` to `toHz`: the highest level of the bins in it, so
// that no stopband lobe is lost, or where a column holds no bin, the level between its neighbours.
QPainterPath columnPath(const std::vector<double>& levels, double firstHz, double binHz, double fromHz, double toHz,
    const QRectF& area, double columns, const std::function<double(double)>& yAt)
{
    QPainterPath path;
    const auto binAt = [&](double hz) {
        return static_cast<std::size_t>(
            std::clamp(std::ceil((hz - firstHz) / binHz), 0.0, static_cast<double>(levels.size())));
    };
    for (int column = 0; column < static_cast<int>(columns); ++column) {
        const double from = fromHz + column / columns * (toHz - fromHz);
        const double to = fromHz + (column + 1) / columns * (toHz - fromHz);
        const std::size_t first = binAt(from), last = binAt(to);
        const double level = first < last
            ? *std::max_element(levels.begin() + static_cast<long>(first), levels.begin() + static_cast<long>(last))
            : levelAt(levels, firstHz, binHz, (from + to) / 2);
        const QPointF point(area.left() + (column + 0.5) / columns * area.width(), yAt(level));
        column == 0 ? path.moveTo(point) : path.lineTo(point);
    }
    return path;
}

// How far either side of the peak the impulse view reaches, in samples: where the response is
// above -60 dB of its peak, the same span either side so that pre-ringing (or its absence) shows.
std::size_t impulseHalfSpan(const FilterResponse* r)
{
    std::size_t half = 8;
    if (r == nullptr || r->impulse.empty()) return half;
    const double peak = std::abs(r->impulse[r->peakIndex]);
    std::size_t first = r->peakIndex, last = r->peakIndex;
    for (std::size_t i = 0; i < r->impulse.size(); ++i) {
        if (std::abs(r->impulse[i]) > 1e-3 * peak) {
            first = std::min(first, i);
            last = i;
        }
    }
    return std::max({half, r->peakIndex - first, last - r->peakIndex});
}

// The chosen dither's noise per bin, relative to flat TPDF.
std::vector<double> relativeNoise(const DitherCurve& curve)
{
    std::vector<double> levels = curve.noise.levelDb;
    for (double& level : levels) level -= curve.tpdfBinDb;
    return levels;
}

// The Dither noise view's level range: all of the noise and flat TPDF, in whole tens of dB.
std::pair<double, double> ditherSpan(const DitherCurve& curve)
{
    const auto [lowest, highest] = std::minmax_element(curve.noise.levelDb.begin(), curve.noise.levelDb.end());
    if (lowest == curve.noise.levelDb.end()) return {10, -30};
    return {std::max(10.0, std::ceil((*highest - curve.tpdfBinDb + 5) / 10) * 10),
        std::min(-30.0, std::floor((*lowest - curve.tpdfBinDb - 5) / 10) * 10)};
}

// Where `level` is between `top` and `bottom`, as a fraction of the height from the top.
double heightOf(double level, double top, double bottom)
{
    return std::clamp((top - level) / (top - bottom), 0.0, 1.0);
}

} // namespace

FilterChart::FilterChart(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("filterChart"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setFont(captionFont(font()));
    setMouseTracking(true);
    readout_ = new QLabel(this);
    readout_->setObjectName(QStringLiteral("filterReadout"));
    readout_->setFont(font());
    readout_->setAutoFillBackground(true);
    readout_->setBackgroundRole(QPalette::Base);
    readout_->setContentsMargins(3, 1, 3, 1);
    readout_->setAttribute(Qt::WA_TransparentForMouseEvents);
    readout_->hide();
}

void FilterChart::setResponse(std::shared_ptr<const FilterResponse> response, FilterView view)
{
    if (response == response_ && view == view_) return;
    response_ = std::move(response);
    view_ = view;
    updateReadout();
    update();
}

void FilterChart::setDitherCurve(std::shared_ptr<const DitherCurve> curve)
{
    if (curve == dither_) return;
    dither_ = std::move(curve);
    updateReadout();
    update();
}

QRectF FilterChart::plotArea() const
{
    // The level labels to the left, the frequency or time labels below.
    const QFontMetrics metrics(font());
    const double labelWidth = metrics.horizontalAdvance(QStringLiteral("\u2212180")) + 6;
    return {labelWidth, metrics.height() / 2.0, width() - labelWidth - 6.0, height() - metrics.height() * 1.5 - 4.0};
}

std::pair<double, double> FilterChart::xRange() const
{
    const FilterResponse* r = response_.get();
    const bool measured = r != nullptr && r->magnitudeDb.size() > 1;
    switch (view_) {
    case FilterView::magnitude:
        return {0, measured ? r->binHz * static_cast<double>(r->magnitudeDb.size() - 1) : 22050};
    case FilterView::passband: {
        // Up to a little past where the response falls out of the view, so that the rolloff, the
        // part that differs between settings, takes a fair share of the width.
        if (!measured) return {0, 20000};
        const auto out = std::find_if(
            r->magnitudeDb.begin(), r->magnitudeDb.end(), [](double db) { return db < kPassbandBottomDb; });
        const double end = r->binHz * static_cast<double>(out - r->magnitudeDb.begin()) * 1.02;
        return {0, out == r->magnitudeDb.end() || !(end > 0) ? r->targetRate / 2 : end};
    }
    case FilterView::impulse: {
        const double ms = static_cast<double>(impulseHalfSpan(r)) / (r != nullptr ? r->targetRate : 44100) * 1000;
        return {-ms, ms};
    }
    case FilterView::ditherNoise:
        return {0, dither_ ? dither_->noise.binHz * static_cast<double>(dither_->noise.levelDb.size()) : 22050};
    }
    return {0, 1};
}

double FilterChart::positionOf(double value) const
{
    const QRectF area = plotArea();
    const auto [from, to] = xRange();
    return area.left() + (value - from) / (to - from) * area.width();
}

QString FilterChart::readoutText(double x, double& curveHeight) const
{
    curveHeight = 0.5;
    const QRectF area = plotArea();
    const auto [from, to] = xRange();
    const double at = from + (x - area.left()) / area.width() * (to - from);
    const QLocale locale;
    const QString dot = QStringLiteral(" \u00b7 ");
    const auto khz = [&](double hz) { return locale.toString(hz / 1000, 'f', 1) + QStringLiteral(" kHz"); };
    const FilterResponse* r = response_.get();
    switch (view_) {
    case FilterView::magnitude:
    case FilterView::passband: {
        if (r == nullptr || r->magnitudeDb.empty()) return {};
        const double level = levelAt(r->magnitudeDb, 0, r->binHz, at);
        curveHeight = view_ == FilterView::passband ? heightOf(level, kPassbandTopDb, kPassbandBottomDb)
                                                    : heightOf(level, kTopDb, kBottomDb);
        return khz(at) + dot + minusText(level, view_ == FilterView::passband ? 2 : 1, locale) + QStringLiteral(" dB");
    }
    case FilterView::impulse: {
        if (r == nullptr || r->impulse.empty()) return {};
        const double position = static_cast<double>(r->peakIndex) + at / 1000 * r->targetRate;
        const std::size_t sample = std::min(r->impulse.size() - 1, static_cast<std::size_t>(std::max(0.0, position)));
        curveHeight = heightOf(r->impulse[sample] / r->impulse[r->peakIndex], 1.1, -0.35);
        return minusText(at, 2, locale) + QStringLiteral(" ms") + dot
            + minusText(r->impulse[sample] / r->impulse[r->peakIndex], 2, locale);
    }
    case FilterView::ditherNoise: {
        if (!dither_ || dither_->noise.levelDb.empty()) return {};
        const double level = levelAt(dither_->noise.levelDb, dither_->noise.binHz / 2, dither_->noise.binHz, at);
        const auto [top, bottom] = ditherSpan(*dither_);
        curveHeight = heightOf(level - dither_->tpdfBinDb, top, bottom);
        return khz(at) + dot + minusText(level - dither_->tpdfBinDb, 1, locale) + QStringLiteral(" dB");
    }
    }
    return {};
}

void FilterChart::updateReadout()
{
    double curveHeight = 0.5;
    const QString text = pointerX_ ? readoutText(*pointerX_, curveHeight) : QString();
    if (text.isEmpty()) {
        readout_->hide();
        return;
    }
    readout_->setText(text);
    readout_->adjustSize();
    // Beside the pointer, at the top of the plot or its foot, whichever is further from the curve
    // there, so that it never covers the point it reads (nor the Dither noise view's key).
    const QRectF area = plotArea();
    const double right = *pointerX_ + 8;
    const double left = right + readout_->width() <= area.right() ? right : *pointerX_ - 8 - readout_->width();
    const double top = curveHeight < 0.5
        ? area.bottom() - 3 - readout_->height()
        : area.top() + 3 + (view_ == FilterView::ditherNoise ? readout_->height() + 2 : 0);
    readout_->move(static_cast<int>(std::lround(left)), static_cast<int>(std::lround(top)));
    readout_->show();
}

void FilterChart::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF at = event->position();
    const QRectF area = plotArea();
    if (area.contains(at)) {
        pointerX_ = at.x();
    } else {
        pointerX_.reset();
    }
    updateReadout();
    update();
    QWidget::mouseMoveEvent(event);
}

void FilterChart::leaveEvent(QEvent* event)
{
    pointerX_.reset();
    updateReadout();
    update();
    QWidget::leaveEvent(event);
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

    const QRectF area = plotArea();
    const double labelWidth = area.left();
    painter.fillRect(area, palette().color(group, QPalette::Base));
    painter.setPen(QPen(grid, 0));
    painter.drawRect(area);
    if (area.width() < 20 || area.height() < 20) return;
    const FilterResponse* r = response_.get();

    if (view_ == FilterView::ditherNoise && !dither_) {
        painter.setPen(dim);
        painter.drawText(area, Qt::AlignCenter, QStringLiteral("No dither noise"));
        return;
    }

    const auto drawYLabel = [&](double y, const QString& label) {
        painter.setPen(dim);
        painter.drawText(QRectF(0, y - metrics.height() / 2.0, labelWidth - 5, metrics.height()),
            Qt::AlignRight | Qt::AlignVCenter, label);
    };
    // X labels centred under their tick; the last one right-aligned to the frame, and any that would
    // run into the unit label at the end left out.
    const QString unit = view_ == FilterView::impulse ? QStringLiteral("ms") : QStringLiteral("kHz");
    const double unitLeft = area.right() - metrics.horizontalAdvance(unit);
    const auto drawXLabel = [&](double x, const QString& label) {
        const double half = metrics.horizontalAdvance(label) / 2.0 + 2;
        if (x + half > unitLeft - 6 || x - half < 0) return;
        painter.setPen(dim);
        painter.drawText(QRectF(x - half, area.bottom() + 2, 2 * half, metrics.height()), Qt::AlignCenter, label);
    };
    // In kilohertz, or milliseconds for the impulse view.
    const auto [fromHz, toHz] = xRange();
    const auto xAt = [&](double value) { return area.left() + (value - fromHz) / (toHz - fromHz) * area.width(); };
    const auto drawXAxis = [&](double scale) {
        const double from = fromHz / scale, to = toHz / scale;
        const double step = niceStep(to - from, std::max(2, static_cast<int>(area.width() / 60)));
        for (double value = std::ceil(from / step) * step; value <= to + 1e-9; value += step) {
            const double x = xAt(value * scale);
            painter.setPen(QPen(grid, 0));
            painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
            drawXLabel(x, minusText(value, step < 1 ? (step < 0.1 ? 2 : 1) : 0, locale));
        }
        painter.setPen(dim);
        painter.drawText(QRectF(unitLeft, area.bottom() + 2, area.right() - unitLeft, metrics.height()),
            Qt::AlignRight | Qt::AlignVCenter, unit);
    };
    // Level lines every `step` from `top` down, labelled every `labelEvery` with `decimals`, and the
    // unit halfway between the first two labels.
    const auto drawYAxis = [&](double top, double bottom, double step, int labelEvery, int decimals,
                               const std::function<double(double)>& yAt) {
        // Far enough apart for the unit to fit between two labels.
        while (std::abs(yAt(top) - yAt(top - step * labelEvery)) < 3 * metrics.height() && labelEvery < 64)
            labelEvery *= 2;
        bool unitShown = false;
        for (double level = std::floor(top / step) * step; level >= bottom - 1e-9; level -= step) {
            painter.setPen(QPen(grid, 0));
            painter.drawLine(QPointF(area.left(), yAt(level)), QPointF(area.right(), yAt(level)));
            if (std::lround(level / step) % labelEvery != 0) continue;
            drawYLabel(yAt(level), minusText(level, decimals, locale));
            if (!unitShown) drawYLabel(yAt(level - step * labelEvery / 2.0), QStringLiteral("dB"));
            unitShown = true;
        }
    };
    // A vertical marker's name written along it, on the side given (or the other where there is
    // no room), at the foot or the top: so that it names its own line and no other.
    const auto nameLine = [&](double x, const QString& name, const QColor& colour, bool onRight, bool atTop) {
        const double length = metrics.horizontalAdvance(name) + 2, thickness = metrics.height();
        if (onRight && x + thickness + 2 > area.right()) onRight = false;
        if (!onRight && x - thickness - 2 < area.left()) onRight = true;
        painter.save();
        painter.translate(onRight ? x + 1 : x - thickness - 1, atTop ? area.top() + 4 + length : area.bottom() - 4);
        painter.rotate(-90);
        painter.setPen(colour);
        painter.drawText(QRectF(0, 0, length, thickness), Qt::AlignLeft | Qt::AlignVCenter, name);
        painter.restore();
    };
    const double columns = std::max(1.0, std::ceil(area.width() * devicePixelRatioF()));

    if (view_ == FilterView::magnitude || view_ == FilterView::passband) {
        const bool close = view_ == FilterView::passband;
        const double top = close ? kPassbandTopDb : kTopDb, bottom = close ? kPassbandBottomDb : kBottomDb;
        const std::function<double(double)> yAt = [&](double db) {
            return area.top() + (top - std::clamp(db, bottom - 1, top + 1)) / (top - bottom) * area.height();
        };
        painter.setClipping(false);
        if (close) {
            drawYAxis(0, bottom, 0.1, 5, 1, yAt);
        } else {
            drawYAxis(0, bottom, 30, 3, 0, yAt);
        }
        drawXAxis(1000);
        if (r == nullptr) return;
        painter.setClipRect(area.adjusted(-1, -1, 1, 1));
        if (!close) {
            // Where the response is 3 dB down dotted, the output's Nyquist frequency dashed; each
            // named on its outer side, so that the two names never meet between the lines.
            if (std::isfinite(r->minus3DbHz)) {
                const double edge = xAt(r->minus3DbHz);
                painter.setPen(QPen(dim, 0, Qt::DotLine));
                painter.drawLine(QPointF(edge, area.top()), QPointF(edge, area.bottom()));
                nameLine(edge, QStringLiteral("\u22123 dB"), dim, false, false);
            }
            const double nyquist = xAt(r->targetRate / 2);
            painter.setPen(QPen(text, 0, Qt::DashLine));
            painter.drawLine(QPointF(nyquist, area.top()), QPointF(nyquist, area.bottom()));
            nameLine(nyquist, QStringLiteral("Nyquist"), text, true, true);
        }
        painter.setPen(QPen(curve, 1.5));
        painter.drawPath(columnPath(r->magnitudeDb, 0, r->binHz, fromHz, toHz, area, columns, yAt));
    } else if (view_ == FilterView::impulse) {
        // The impulse response, scaled to its peak.
        const auto yAt = [&](double level) { return area.top() + (1.1 - level) / 1.45 * area.height(); };
        painter.setClipping(false);
        for (double level : {0.0, 1.0}) {
            painter.setPen(QPen(grid, 0));
            painter.drawLine(QPointF(area.left(), yAt(level)), QPointF(area.right(), yAt(level)));
            drawYLabel(yAt(level), locale.toString(level, 'f', 0));
        }
        drawXAxis(1);
        if (r == nullptr || r->impulse.empty()) return;
        painter.setClipRect(area.adjusted(-1, -1, 1, 1));
        const double peak = r->impulse[r->peakIndex];
        const double half = static_cast<double>(impulseHalfSpan(r));
        QPainterPath path;
        bool started = false;
        for (std::size_t i = 0; i < r->impulse.size(); ++i) {
            const double offset = static_cast<double>(i) - static_cast<double>(r->peakIndex);
            if (std::abs(offset) > half) continue;
            const QPointF point(xAt(offset / r->targetRate * 1000), yAt(r->impulse[i] / peak));
            started ? path.lineTo(point) : path.moveTo(point);
            started = true;
        }
        painter.setPen(QPen(curve, 1.5));
        painter.drawPath(path);
    } else {
        // The chosen dither's noise against flat TPDF (0 dB), over a range that holds all of it, and
        // the threshold of hearing placed where TPDF's noise would just reach it where hearing is
        // keenest: noise under the curve is no more audible than TPDF's at its most audible point.
        const std::vector<double> levels = relativeNoise(*dither_);
        const auto [top, bottom] = ditherSpan(*dither_);
        const std::function<double(double)> yAt = [&](double db) {
            return area.top() + (top - std::clamp(db, bottom - 10, top + 10)) / (top - bottom) * area.height();
        };
        painter.setClipping(false);
        drawYAxis(top, bottom, 10, 2, 0, yAt);
        drawXAxis(1000);
        painter.setClipRect(area.adjusted(-1, -1, 1, 1));
        double keenest = thresholdOfHearingDb(20);
        for (double hz = 20; hz < toHz; hz += 50) keenest = std::min(keenest, thresholdOfHearingDb(hz));
        QPainterPath threshold;
        for (int column = 0; column < static_cast<int>(columns); ++column) {
            const double hz = (column + 0.5) / columns * toHz;
            const QPointF point(
                area.left() + (column + 0.5) / columns * area.width(), yAt(thresholdOfHearingDb(hz) - keenest));
            column == 0 ? threshold.moveTo(point) : threshold.lineTo(point);
        }
        painter.setPen(QPen(text, 1, Qt::DotLine));
        painter.drawPath(threshold);
        const bool flat = dither_->name == QLatin1String(ditherName(Dither::tpdf));
        if (!flat) {
            painter.setPen(QPen(dim, 1.2));
            painter.drawLine(QPointF(area.left(), yAt(0)), QPointF(area.right(), yAt(0)));
        }
        painter.setPen(QPen(curve, 1.5));
        painter.drawPath(
            columnPath(levels, dither_->noise.binHz / 2, dither_->noise.binHz, 0, toHz, area, columns, yAt));

        // The key, top left on the plot's own background.
        struct Entry {
            QString name;
            QPen pen;
        };
        std::vector<Entry> entries{{dither_->name, QPen(curve, 1.5)}};
        if (!flat) entries.push_back({QStringLiteral("TPDF"), QPen(dim, 1.2)});
        entries.push_back({QStringLiteral("Threshold of hearing"), QPen(text, 1, Qt::DotLine)});
        constexpr double kSample = 16;
        double width = 6;
        for (const Entry& entry : entries) width += kSample + 4 + metrics.horizontalAdvance(entry.name) + 10;
        const QRectF key(area.left() + 4, area.top() + 3, width - 6, metrics.height() + 2);
        painter.fillRect(key, palette().color(group, QPalette::Base));
        double x = key.left() + 4;
        const double y = key.center().y();
        for (const Entry& entry : entries) {
            painter.setPen(entry.pen);
            painter.drawLine(QPointF(x, y), QPointF(x + kSample, y));
            x += kSample + 4;
            painter.setPen(text);
            const double nameWidth = metrics.horizontalAdvance(entry.name);
            painter.drawText(
                QRectF(x, key.top(), nameWidth + 2, key.height()), Qt::AlignLeft | Qt::AlignVCenter, entry.name);
            x += nameWidth + 10;
        }
    }
    // The pointer's place, which the readout reads.
    if (pointerX_ && readout_->isVisible()) {
        painter.setClipping(false);
        painter.setPen(QPen(dim, 0));
        painter.drawLine(QPointF(*pointerX_, area.top()), QPointF(*pointerX_, area.bottom()));
    }
}

} // namespace fennick
