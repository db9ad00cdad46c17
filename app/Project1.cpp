// The program's entry: the application object with its title, the main window, the loop.
#include "Unit1.h"
#include "WindowLayout.h"

#include <QApplication>

#include <memory>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // The application's title: the name the desktop groups the window under and the title
    // of the error display's message boxes.
    QApplication::setApplicationName(QString::fromLatin1(ApplicationTitle));

    auto form = std::make_unique<TForm1>();
    Form1 = form.get();
    form->show();
    const int result = QApplication::exec();
    Form1 = nullptr;
    return result;
}
