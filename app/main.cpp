#include "app/mainwindow.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
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
