#include <QApplication>

#include "app/Main.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The application's title, which task bars show; the window's caption names the version.
    QApplication::setApplicationName("HD DVD Strandis");
    strandis::app::TfMain fMain;
    fMain.show();
    return QApplication::exec();
}
