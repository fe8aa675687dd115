// Choosing the source, the playlist and the output folder, and what follows from each choice.
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QToolButton>

#include <QComboBox>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTreeWidget>

#include "app/Main.h"
#include "disc/PathRules.h"
#include "engine/DiscTitle.h"

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

// "Read XPL" on a DVD's IFO file: the disc's titles in the memo and the tree, and the title
// chooser, on the main feature.
void TfMain::readDisc() {
    beginRun();
    PageControl->setCurrentIndex(4);
    mXPL->clear();
    tvXPL->clear();
    cbTitle->clear();
    disc_.reset();
    try {
        log("Reading the titles of the DVD \"" + eXPLfile->text().toStdString() + "\"");
        disc_ = dvd::ReadDisc(eXPLfile->text().toStdString());
        mXPL->setPlainText(QString::fromStdString(dvd::DiscText(*disc_)));
        int main = 0;
        for (std::size_t k = 0; k < disc_->titles.size(); ++k) {
            const dvd::Title& title = disc_->titles[k];
            const QString name = QString::fromStdString(dvd::DescribeTitle(title)) +
                                 (title.main ? " - main feature" : "") +
                                 (title.problem.empty() ? "" : " - cannot be read");
            cbTitle->addItem(name);
            if (title.main) main = static_cast<int>(k);
            auto* top = new QTreeWidgetItem(tvXPL, {name});
            const auto child = [top](const std::string& text) {
                new QTreeWidgetItem(top, {QString::fromStdString(text)});
            };
            if (!title.problem.empty()) child(title.problem);
            if (!title.video.empty()) child(title.video);
            for (const dvd::AudioTrack& audio : title.audio)
                child("Audio " + std::to_string(audio.track) + ": " + audio.codec + " " +
                      (audio.language.empty() ? "--" : audio.language) + " " + audio.kind);
            for (const dvd::SubpictureTrack& sub : title.subpictures)
                child("Subpicture " + std::to_string(sub.track) + ": " +
                      (sub.language.empty() ? "--" : sub.language) + " " + sub.kind);
            for (const dvd::Chapter& chapter : title.chapters)
                child("Chapter " + std::to_string(chapter.number) + ": " +
                      dvd::FormatDuration(chapter.startMs));
        }
        cbTitle->parentWidget()->setVisible(!disc_->titles.empty());
        endRun();
        if (!disc_->titles.empty()) {
            cbTitle->setCurrentIndex(main);
            chooseTitle(main);
        }
        return;
    } catch (const std::exception& error) {  // RunError, or no memory or process left
        cbTitle->parentWidget()->setVisible(false);
        runFailed(QString::fromStdString(error.what()));
    }
    endRun();
}

// A DVD title chosen: the source becomes its first VOB, read as the title's cells only, and the
// boxes take its tracks' labels.
void TfMain::chooseTitle(int index) {
    if (running_ || !disc_ || index < 0 || static_cast<std::size_t>(index) >= disc_->titles.size())
        return;
    const dvd::Title& title = disc_->titles[static_cast<std::size_t>(index)];
    if (!title.problem.empty()) {
        const std::string line =
            "Title " + std::to_string(title.number) + " cannot be read: " + title.problem + ".";
        log(line);
        slog(line, 0);
        return;
    }
    const QString first = QString::fromStdString(title.extents.front().path);
    setSourceText(first);
    SourceName = FileName(first);
    EVOdir = FolderOf(first);
    bCheck->setEnabled(true);
    detected_.reset();
    discTitle_ = MakeSourceTitle(*disc_, title);
    cbAngle->clear();
    for (int angle = 1; angle <= title.angles; ++angle)
        cbAngle->addItem("Angle " + QString::number(angle));
    cbAngle->setCurrentIndex(title.angle - 1);
    angleRow_->setVisible(title.angles > 1);
    xplTitle_ = dvd::TitleInfoOf(title);
    xplTracks_.clear();
    for (const playlist::TrackInfo& track : xplTitle_.tracks) {
        const std::string label =
            track.kind == playlist::TrackKind::Video ? "MPEG-2.stream.0" : track.label;
        xplTracks_.push_back({track.kind, track.streamNumber - 1, label});
    }
    labelBoxes(xplTracks_);
    const std::string line =
        dvd::DescribeTitle(title) + " of " + disc_->name +
        (title.angles > 1 ? ", angle " + std::to_string(title.angle) : std::string()) +
        " chosen: Read EVO, Demux and Rebuild read its cells only.";
    log(line);
    slog(line, 0);
}

// Another angle of the title: its pieces are planned again, and the title chosen anew with them.
void TfMain::chooseAngle(int index) {
    if (running_ || !disc_) return;
    const int title = cbTitle->currentIndex();
    try {
        disc_ = dvd::ReadDisc(eXPLfile->text().toStdString(), index + 1);
    } catch (const std::exception& error) {  // RunError, or no memory or process left
        disc_.reset();
        runFailed(QString::fromStdString(error.what()));
        return;
    }
    chooseTitle(title);
}

void TfMain::setSourceText(const QString& path) {
    eEVOfile->setText(path);
    sourcePath_ = path.toStdString();
}

void TfMain::EVOadj() {
    sourcePath_ = eEVOfile->text().toStdString();
    xplTitle_ = {};  // the playlist read and the detection were another source's
    xplTracks_.clear();
    detected_.reset();
    discTitle_.reset();  // a file of the user's choice is read whole
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
    } else if (const std::string videoTs = dvd::FindVideoTs(path.toStdString());
               (ext == ".IFO" || ext == ".BUP" || QFileInfo(path).isDir()) && !videoTs.empty()) {
        // A DVD: its IFO goes where the playlist goes, and "Read XPL" lists its titles.
        eXPLfile->setText(ext == ".IFO" || ext == ".BUP"
                              ? path
                              : QString::fromStdString(videoTs) + "/VIDEO_TS.IFO");
        XPLadj();
        const std::string line = "A DVD-Video disc: \"Read XPL\" lists its titles.";
        log(line);
        slog(line, 0);
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
    const QString chosen = QFileDialog::getOpenFileName(
        this, QString(), XPLdir + XPLname, "XPL (VPLST000.XPL);;DVD-Video IFO (*.IFO *.ifo)");
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
