#include "app/mainwindow.h"
#include "cli/commandline.h"
#include "util/appinfo.h"

#include <QApplication>
#include <QCoreApplication>

int main(int argc, char* argv[])
{
    // Any argument asks for the command line, which needs no display.
    if (argc > 1) {
        QCoreApplication application(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("sievra"));
        QCoreApplication::setApplicationVersion(AppInfo::version);
        CCommandLine commandLine;
        return commandLine.run(QCoreApplication::arguments());
    }

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
