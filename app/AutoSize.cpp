#include "AutoSize.h"

#include <QWidget>

void GrowToText(QWidget* AControl) {
    const int needed = AControl->sizeHint().width();
    if (needed > AControl->width()) {
        AControl->resize(needed, AControl->height());
    }
}
