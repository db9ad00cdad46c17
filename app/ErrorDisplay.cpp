#include "ErrorDisplay.h"

#include "DisplayText.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <exception>

namespace {

TErrorDisplay::TPresenter GPresenter;
QPointer<QWidget> GParent;
bool GShowing = false;
int GDropped = 0;

void ShowMessageBox(const QString& AText) {
    QMessageBox::critical(GParent, QApplication::applicationName(), AText);
}

} // namespace

void TErrorDisplay::ShowError(const QString& AText) {
    if (GShowing) {
        ++GDropped;
        return;
    }
    GShowing = true;
    try {
        if (GPresenter) {
            GPresenter(AText);
        } else {
            ShowMessageBox(AText);
        }
    } catch (...) {
        // The display itself failed; there is nowhere left to report it.
    }
    GShowing = false;
}

void TErrorDisplay::ShowCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        // An error's text may carry bytes from the wire or a file name: decoded by the
        // window's one rule, like every logged line.
        ShowError(DisplayString(e.what()));
    } catch (...) {
        ShowError(QStringLiteral("Unknown error"));
    }
}

void TErrorDisplay::ShowCurrentExceptionLater(QObject* AContext) {
    QString text;
    try {
        throw;
    } catch (const std::exception& e) {
        text = QString::fromLocal8Bit(e.what());
    } catch (...) {
        text = QStringLiteral("Unknown error");
    }
    QMetaObject::invokeMethod(
        AContext, [text] { ShowError(text); }, Qt::QueuedConnection);
}

TErrorDisplay::TPresenter TErrorDisplay::SetPresenter(TPresenter APresenter) {
    return std::exchange(GPresenter, std::move(APresenter));
}

void TErrorDisplay::SetParent(QWidget* AParent) {
    GParent = AParent;
}

bool TErrorDisplay::Showing() {
    return GShowing;
}

int TErrorDisplay::Dropped() {
    return GDropped;
}
