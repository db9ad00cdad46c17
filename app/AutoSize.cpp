#include "AutoSize.h"

#include <QLabel>
#include <QWidget>

#include <algorithm>

namespace {
constexpr const char* DesignedWidth = "brisalDesignedWidth";

void FitWidth(QWidget* AControl) {
    const int designed = AControl->property(DesignedWidth).toInt();
    AControl->resize(std::max(designed, AControl->sizeHint().width()), AControl->height());
}
} // namespace

void GrowToText(QWidget* AControl) {
    if (!AControl->property(DesignedWidth).isValid()) {
        AControl->setProperty(DesignedWidth, AControl->width());
    }
    FitWidth(AControl);
}

void SetCaption(QLabel* ALabel, const QString& ACaption) {
    ALabel->setText(ACaption);
    GrowToText(ALabel);
}
