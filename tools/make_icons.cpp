// Writes the program's icon as PNG files for the hicolor theme: FOLDER/<size>/NAME.png.
// Usage: strandis-icons FOLDER NAME
#include <QDir>
#include <QGuiApplication>
#include <cstdio>

#include "app/Icon.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: strandis-icons FOLDER NAME\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString folder = QString("%1/%2").arg(argv[1]).arg(size);
        if (!QDir().mkpath(folder)) return 1;
        if (!strandis::app::ProgramIconImage(size).save(folder + "/" + argv[2] + ".png")) return 1;
    }
    return 0;
}
