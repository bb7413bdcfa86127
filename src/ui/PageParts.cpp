#include "ui/PageParts.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <climits>
#include <memory>

#include "ui/QtScanHost.h"

namespace corvello::ui {

QPushButton* pageButton(const QString& text, QWidget* parent, int width) {
    auto* b = new QPushButton(text, parent);
    b->setToolTip(text);
    b->setAutoDefault(false);
    b->setMinimumWidth(width);
    return b;
}

QProgressBar* pageProgressBar(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setTextVisible(false);
    bar->setMaximumHeight(14);
    return bar;
}

QLabel* pageStatusLine(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QStringLiteral("statusText"));
    return label;
}

void forwardProgress(QtScanHost* host, QProgressBar* bar) {
    // How many reported units make one step of the bar.
    auto scale = std::make_shared<qint64>(1);
    QObject::connect(host, &QtScanHost::progressRange, bar, [bar, scale](qint64 low, qint64 high) {
        const auto magnitude = [](qint64 v) { return v == LLONG_MIN ? LLONG_MAX : (v < 0 ? -v : v); };
        const qint64 span = std::max(magnitude(low), magnitude(high));
        *scale = span > INT_MAX ? span / INT_MAX + 1 : 1;
        bar->setRange(static_cast<int>(low / *scale), static_cast<int>(high / *scale));
    });
    QObject::connect(host, &QtScanHost::progressPos, bar, [bar, scale](qint64 pos) {
        bar->setValue(static_cast<int>(std::clamp<qint64>(pos / *scale, INT_MIN, INT_MAX)));
    });
}

}  // namespace corvello::ui
