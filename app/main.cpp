#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTimer>

#include <memory>

#include "app/Icon.h"
#include "app/Main.h"

namespace {

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

    QGuiApplication::setDesktopFileName("com.korvath.strandis");
    QApplication::setWindowIcon(strandis::app::ProgramIcon());
    strandis::app::TfMain fMain;
    fMain.show();
    if (!parser.positionalArguments().isEmpty()) {
        // After the window's first activation has read the settings, as a drop would come.
        const QString file = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
        QTimer::singleShot(0, &fMain, [&fMain, file] { fMain.WMDropFiles({file}); });
    }
    return QApplication::exec();
}
