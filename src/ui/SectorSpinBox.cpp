#include "ui/SectorSpinBox.h"

#include <QLineEdit>
#include <limits>

#include "ui/QtText.h"

namespace corvello::ui {

SectorSpinBox::SectorSpinBox(QWidget* parent) : QAbstractSpinBox(parent) {
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setAccelerated(true);
}

QString SectorSpinBox::text() const { return lineEdit()->text(); }
void SectorSpinBox::setText(const QString& text) { lineEdit()->setText(text); }
std::int64_t SectorSpinBox::number() const { return parseInt64(text()); }

void SectorSpinBox::stepBy(int steps) {
    std::int64_t value = number();
    for (; steps > 0; --steps)
        if (value < std::numeric_limits<std::int64_t>::max()) ++value;
    for (; steps < 0; ++steps)
        if (value > 0) --value;
    setText(QString::number(value));
}

QAbstractSpinBox::StepEnabled SectorSpinBox::stepEnabled() const {
    return isEnabled() ? (StepUpEnabled | StepDownEnabled) : StepNone;
}

}  // namespace corvello::ui
