#include "app/mainwindow.h"

#include <QApplication>

// The window, a program of its own: `sievra` without a task starts it, so that a command-line run never loads the
// window's libraries.
int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sievra"));
    int result = 1;
    {
        MainWindow window;
        if (window.startupFailed())
            return result;
        window.show();
        result = QApplication::exec();
    }
    return result;
}
