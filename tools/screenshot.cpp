// Opens the window on a source file, runs "Read EVO" (and "Read XPL" when asked) and saves a
// picture of the window with one page shown.
// Usage: strandis-screenshot SOURCE OUTPUT.png [PAGE] [xpl]
#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

#include "app/Main.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: strandis-screenshot SOURCE OUTPUT.png [PAGE] [xpl]\n");
        return 2;
    }
    QApplication application(argc, argv);
    strandis::app::TfMain window;
    window.show();
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    const int page = argc > 3 ? QString(argv[3]).toInt() : 0;
    const bool readPlaylist = argc > 4 && QString(argv[4]) == "xpl";
    int code = 1;
    QTimer::singleShot(300, [&] {
        window.WMDropFiles({source});
        window.findChild<QPushButton*>("bCheck")->click();
        if (readPlaylist) window.findChild<QPushButton*>("bReadXPL")->click();
        window.findChild<QTabWidget*>("PageControl")->setCurrentIndex(page);
        QTimer::singleShot(300, [&] {
            code = window.grab().save(output) ? 0 : 1;
            window.close();
        });
    });
    QApplication::exec();
    return code;
}
