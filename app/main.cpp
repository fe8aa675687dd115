#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

#include <memory>

#include "app/Main.h"

namespace {

// The program's icon, drawn here: a disc whose light splits into three strands.
QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal s = size / 64.0;
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x1c, 0x3d, 0x6e));
        painter.drawEllipse(QRectF(2 * s, 2 * s, 60 * s, 60 * s));
        const QColor strands[] = {QColor(0xf2, 0xb1, 0x34), QColor(0x4f, 0xc3, 0xf7),
                                  QColor(0xe5, 0x73, 0x73)};
        for (int k = 0; k < 3; ++k) {
            painter.setPen(QPen(strands[k], 5 * s, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(32 * s, 32 * s),
                             QPointF((14 + 18 * k) * s, 56 * s - (k == 1 ? 0 : 6 * s)));
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xee, 0xee, 0xee));
        painter.drawEllipse(QRectF(25 * s, 25 * s, 14 * s, 14 * s));
        icon.addPixmap(pixmap);
    }
    return icon;
}

bool AsksForTextOnly(int argc, char** argv) {
    for (int k = 1; k < argc; ++k) {
        const QByteArray arg(argv[k]);
        if (arg == "-h" || arg == "--help" || arg == "-v" || arg == "--version") return true;
    }
    return false;
}

void Describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        "Takes apart HD DVD (.EVO), DVD-Video (.VOB) and DVD-Audio (.AOB) video files: lists their "
        "streams, demultiplexes them, rebuilds a copy without the unwanted ones, and reads the "
        "disc's playlist. The window needs a display; QT_QPA_PLATFORM=offscreen runs it without "
        "one.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("FILE",
                                 "A source (.EVO, .VOB) or playlist (.XPL) to open, as a "
                                 "drop on the window would.");
}

}  // namespace

int main(int argc, char** argv) {
    // --help and --version answer on the terminal, also where there is no display.
    std::unique_ptr<QCoreApplication> application;
    if (AsksForTextOnly(argc, argv)) {
        application = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        application = std::make_unique<QApplication>(argc, argv);
    }
    // The application's title, which task bars show; the window's caption names the version.
    QCoreApplication::setApplicationName("HD DVD Strandis");
    QCoreApplication::setApplicationVersion(STRANDIS_VERSION);
    QCommandLineParser parser;
    Describe(parser);
    parser.process(*application);

    QGuiApplication::setDesktopFileName("strandis");
    QApplication::setWindowIcon(ProgramIcon());
    strandis::app::TfMain fMain;
    fMain.show();
    if (!parser.positionalArguments().isEmpty()) {
        // After the window's first activation has read the settings, as a drop would come.
        const QString file = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
        QTimer::singleShot(0, &fMain, [&fMain, file] { fMain.WMDropFiles({file}); });
    }
    return QApplication::exec();
}
