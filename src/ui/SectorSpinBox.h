#pragma once
// An edit box for a sector number with a spin button: the up arrow adds 1, the down arrow
// subtracts 1 unless the number is already 0 or less. The text stays free (64-bit numbers).

#include <QAbstractSpinBox>
#include <cstdint>

namespace corvello::ui {

class SectorSpinBox : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit SectorSpinBox(QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    std::int64_t number() const;

    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;
};

}  // namespace corvello::ui
