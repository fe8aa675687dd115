// Choosing the source, the playlist and the output folder, and what follows from each choice.
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QToolButton>

#include "app/Main.h"
#include "disc/PathRules.h"

namespace strandis::app {

namespace {

constexpr char kPlaylistName[] = "VPLST000.XPL";

QString FileName(const QString& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}
QString FolderOf(const QString& path) {
    return path.left(path.lastIndexOf('/') + 1);
}

// The extensions of the program streams the engine reads.
bool IsProgramStreamName(const QString& upperExtension) {
    return upperExtension == ".EVO" || upperExtension == ".VOB" || upperExtension == ".AOB" ||
           upperExtension == ".MPG" || upperExtension == ".MPEG";
}

QString ExtensionUpper(const QString& path) {
    const QString name = FileName(path);
    const int dot = static_cast<int>(name.lastIndexOf('.'));
    return dot < 0 ? QString() : name.mid(dot).toUpper();
}

}  // namespace

void TfMain::setSourceText(const QString& path) {
    eEVOfile->setText(path);
    sourcePath_ = path.toStdString();
}

void TfMain::EVOadj() {
    sourcePath_ = eEVOfile->text().toStdString();
    xplTitle_ = {};  // the playlist read and the detection were another source's
    xplTracks_.clear();
    detected_.reset();
    bCheck->setEnabled(!eEVOfile->text().isEmpty() && !running_);
    SourceName = FileName(eEVOfile->text());
    EVOdir = FolderOf(eEVOfile->text());
    eXPLfile->setText(kPlaylistName);
    if (EVOdir.endsWith("HVDVD_TS/", Qt::CaseSensitive)) {
        XPLdir = EVOdir.left(EVOdir.size() - 9) + "ADV_OBJ/";
        XPLname = kPlaylistName;
        eXPLfile->setText(XPLdir + XPLname);
    }
    bReadXPL->setEnabled(playlistThere() && !running_);
}

void TfMain::XPLadj() {
    XPLname = FileName(eXPLfile->text());
    XPLdir = FolderOf(eXPLfile->text());
    bReadXPL->setEnabled(playlistThere() && !running_);
    if (XPLdir.endsWith("ADV_OBJ/", Qt::CaseSensitive))
        EVOdir = XPLdir.left(XPLdir.size() - 8) + "HVDVD_TS/";
}

void TfMain::WMDropFiles(const QStringList& files) {
    if (files.isEmpty() || running_) return;
    const QString& path = files.first();
    const QString ext = ExtensionUpper(path);
    if (IsProgramStreamName(ext)) {
        const bool changed = path != eEVOfile->text();
        setSourceText(path);
        EVOadj();
        // The boxes of another source would name this one's outputs: they wait for "Read EVO".
        if (changed) Resetcbs();
    } else if (ext == ".XPL") {
        eXPLfile->setText(path);
        XPLadj();
    } else {
        const std::string line = "\"" + FileName(path).toStdString() +
                                 "\" is not taken: a source is a program stream (.EVO, .VOB, "
                                 ".AOB, .MPG, .MPEG), a playlist a .XPL file.";
        log(line);
        slog(line, 0);
    }
}

// A path typed or pasted into a path field, when the typing ends (Enter, or the focus leaves).
void TfMain::pathTyped(QLineEdit* field) {
    if (running_) return;
    if (field == eEVOfile) {
        if (eEVOfile->text().toStdString() == sourcePath_) return;
        setSourceText(eEVOfile->text());
        EVOadj();
        Resetcbs();
    } else {
        XPLadj();
    }
}

void TfMain::dragEnterEvent(QDragEnterEvent* event) {
    if (!running_ && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TfMain::dropEvent(QDropEvent* event) {
    QStringList files;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) files << url.toLocalFile();
    }
    WMDropFiles(files);
    event->acceptProposedAction();
}

void TfMain::bbEVOClick() {
    if (running_) return;
    const QString chosen = QFileDialog::getOpenFileName(
        this, "Choose the EVO file to demux", EVOdir,
        "All supported file (*.aob *.evo *.vob *.mpg *.mpeg *.AOB *.EVO *.VOB *.MPG *.MPEG);;"
        "EVOB files (HD DVD) (*.evo *.EVO);;"
        "AOB files (DVD Audio) (*.aob *.AOB);;VOB files (DVD Video) (*.vob *.VOB);;"
        "Program streams (*.mpg *.mpeg *.MPG *.MPEG)");
    if (chosen.isEmpty()) return;  // closed without a choice: nothing changes
    setSourceText(chosen);
    EVOadj();
    if (bCheck->isEnabled()) bCheck->setFocus();
    Resetcbs();
}

void TfMain::bbXPLClick() {
    if (running_) return;
    const QString chosen =
        QFileDialog::getOpenFileName(this, QString(), XPLdir + XPLname, "XPL (VPLST000.XPL)");
    if (chosen.isEmpty()) return;
    eXPLfile->setText(chosen);
    XPLadj();
}

void TfMain::bbWorkdirClick() {
    if (running_) return;
    QString start = eWorkdir->text();
    if (!QFileInfo(start).isDir()) start.clear();
    QString chosen = QFileDialog::getExistingDirectory(this, "Select a directory", start,
                                                       QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return;
    while (chosen.size() > 1 && chosen.endsWith('/'))
        chosen.chop(1);
    eWorkdir->setText(chosen);
}

}  // namespace strandis::app
