#include "app/Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "app/StreamCheckBox.h"
#include "common/Markup.h"
#include "common/RunError.h"
#include "disc/PathRules.h"
#include "engine/RebuildRun.h"
#include "engine/XplRun.h"
#include "matroska/MatroskaRun.h"

namespace strandis::app {

namespace {

QString FileExtensionUpper(const QString& path) {
    const QString name = path.mid(path.lastIndexOf('/') + 1);
    const int dot = name.lastIndexOf('.');
    return dot < 0 ? QString() : name.mid(dot).toUpper();
}

// The separator of the locale's long time format, ':' when it has none.
char LocaleTimeSeparator() {
    const QString format = QLocale().timeFormat(QLocale::LongFormat);
    const int hour = static_cast<int>(format.indexOf(QRegularExpression("[hH]")));
    for (int k = hour + 1; hour >= 0 && k < format.size(); ++k) {
        const QChar c = format[k];
        if (c != 'h' && c != 'H')
            return c.isLetter() || c.unicode() > 127 ? ':' : static_cast<char>(c.unicode());
    }
    return ':';
}

}  // namespace

TfMain::TfMain(QWidget* parent) : QMainWindow(parent), engine_(*this) {
    setObjectName("fMain");
    setWindowTitle(QStringLiteral("Strandis ") + QStringLiteral(STRANDIS_VERSION));
    buildControls();
    move(0, 0);
    Resetcbs();
}

TfMain::~TfMain() {
    // The fields lose the focus while the window goes: nothing of this class may answer then.
    for (QLineEdit* field : {eEVOfile, eXPLfile})
        field->disconnect(this);
}

// ---- The message log and the status bar ----

void TfMain::log(std::string_view markedUpLine) {
    const MarkupLine line = ParseMarkup(markedUpLine);
    QTextCursor cursor(reMessage->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat regular;
    regular.setFontFamilies({reMessage->font().family()});
    regular.setFontPointSize(8);
    regular.setFontWeight(QFont::Normal);
    regular.setFontItalic(false);
    regular.setFontUnderline(false);
    regular.setForeground(reMessage->palette().color(QPalette::Text));
    // Pure blue does not read on a dark background; a light blue does.
    const bool dark = reMessage->palette().color(QPalette::Base).lightness() < 128;
    const QColor valueBlue = dark ? QColor(0x6C, 0xA8, 0xFF) : QColor(0, 0, 255);
    if (!firstLine_) cursor.insertBlock();
    firstLine_ = false;

    const QString plain = QString::fromStdString(line.plain);
    // Segment positions count bytes of the plain line; the pane counts characters.
    const auto chars = [&line](std::size_t bytes) {
        return QString::fromUtf8(line.plain.data(), static_cast<qsizetype>(bytes)).size();
    };
    qsizetype done = 0;
    for (const MarkupSegment& segment : line.segments) {
        const qsizetype start = chars(segment.start);
        const qsizetype end = chars(segment.start + segment.length);
        cursor.insertText(plain.mid(done, start - done), regular);
        QTextCharFormat format = regular;
        switch (segment.style) {
            case TagStyle::Bold:
                format.setFontWeight(QFont::Bold);
                break;
            case TagStyle::Italic:
                format.setFontItalic(true);
                break;
            case TagStyle::Underline:
                format.setFontUnderline(true);
                break;
            case TagStyle::Size10:
                format.setFontPointSize(10);
                break;
            case TagStyle::Size12:
                format.setFontPointSize(12);
                break;
            case TagStyle::Colour:
                format.setForeground(QColor(static_cast<int>(segment.colour & 0xFF),
                                            static_cast<int>((segment.colour >> 8) & 0xFF),
                                            static_cast<int>((segment.colour >> 16) & 0xFF)));
                break;
            case TagStyle::BoldBlue:
                format.setForeground(valueBlue);
                format.setFontWeight(QFont::Bold);
                break;
            case TagStyle::Regular:
                break;
        }
        cursor.insertText(plain.mid(start, end - start), format);
        done = end;
    }
    cursor.insertText(plain.mid(done), regular);
    reMessage->setTextCursor(cursor);
    reMessage->ensureCursorVisible();
}

void TfMain::slog(std::string_view text, int panel) {
    if (panel < 0 || panel > 1) return;
    const QString value = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    statusTexts_[static_cast<std::size_t>(panel)] = " " + value;
    if (panel == 1) StatusBar->setToolTip(value);
    fitStatus();
    StatusBar->repaint();
}

// The progress panel gets the room its text needs; the activity panel has the rest, its text
// shortened in the middle when it must be.
void TfMain::fitStatus() {
    const QFontMetrics metrics = StatusPanels[0]->fontMetrics();
    const auto needs = [&metrics](const QString& text) {
        return metrics.horizontalAdvance(text + "a");
    };
    const int room = StatusBar->contentsRect().width() - 16;
    const int progress = std::min(needs(statusTexts_[1]), std::max(room - 40, 0));
    const int activity = std::max(std::min(needs(statusTexts_[0]), room - progress), 8);
    StatusPanels[0]->setFixedWidth(activity);
    StatusPanels[0]->setText(metrics.elidedText(statusTexts_[0], Qt::ElideMiddle, activity));
    StatusPanels[0]->setToolTip(StatusPanels[0]->text() == statusTexts_[0] ? QString()
                                                                           : statusTexts_[0]);
    StatusPanels[1]->setMinimumWidth(progress);
    StatusPanels[1]->setText(statusTexts_[1]);
}

void TfMain::bClearClick() {
    reMessage->clear();
    firstLine_ = true;
}

// ---- The runs' front end ----

void TfMain::processPendingEvents() {
    QCoreApplication::processEvents();
}

void TfMain::repaint() {
    QMainWindow::repaint();
}

void TfMain::beginStep(std::string_view step) {
    const QString name = step == "detect"    ? "Reading"
                         : step == "demux"   ? "Demuxing"
                         : step == "rebuild" ? "Rebuilding"
                                             : "Muxing";
    ProgressBar->setFormat(name + " %p %");
    ProgressBar->setValue(0);
    ProgressBar->show();
}

void TfMain::progress(std::int64_t position, std::int64_t size) {
    if (size > 0) ProgressBar->setValue(static_cast<int>(position * 1000 / size));
}

void TfMain::muxProgress(int percent) {
    ProgressBar->setValue(percent * 10);
}

void TfMain::scanActive(bool active) {
    bCancel->setEnabled(active);
}

bool TfMain::option(Option which) const {
    switch (which) {
        case Option::FastCheck:
            return cbFastCheck->isChecked();
        case Option::CountFrames:
            return cbCountFr->isChecked();
        case Option::Details:
            return cbDetails->isChecked();
        case Option::LpcmWav:
            return cbLpcmWav->isChecked();
        default:
            return cbContinue->isChecked();
    }
}

SubFormat TfMain::subFormat() const {
    return cbSubPgs->isChecked() ? SubFormat::Pgs : SubFormat::Sup;
}

StreamCheckBox* TfMain::box(BoxKind kind, int slot) const {
    switch (kind) {
        case BoxKind::Video:
            return slot >= 0 && slot < static_cast<int>(cbVideo.size())
                       ? cbVideo[static_cast<std::size_t>(slot)]
                       : nullptr;
        case BoxKind::Audio:
            return HasBox(kind, slot) ? cbAudio[static_cast<std::size_t>(slot)] : nullptr;
        default:
            return HasBox(kind, slot) ? cbSub[static_cast<std::size_t>(slot)] : nullptr;
    }
}

bool TfMain::ticked(BoxKind kind, int slot) const {
    const QCheckBox* b = box(kind, slot);
    return b != nullptr && b->isChecked();
}

std::string TfMain::caption(BoxKind kind, int slot) const {
    const StreamCheckBox* b = box(kind, slot);
    return b != nullptr ? b->caption().toStdString() : std::string();
}

std::string TfMain::outputFolder() const {
    return eWorkdir->text().toStdString();
}

std::string TfMain::extension(BoxKind kind) const {
    const QLineEdit* field = kind == BoxKind::Video   ? eVideoExt
                             : kind == BoxKind::Audio ? eAudioExt
                                                      : eSubExt;
    return field->text().toStdString();
}

// Numbers in the log are written alike everywhere, whatever the locale.
char TfMain::decimalSeparator() const {
    return '.';
}

// Only one run at a time: while one goes, nothing else can start a run or change the source.
void TfMain::beginRun() {
    running_ = true;
    focusBefore_ = QApplication::focusWidget();
    for (QWidget* control : std::initializer_list<QWidget*>{bCheck, bReadXPL, bDemux, bRebuild,
                                                            bbEVO, bbXPL, bbWorkdir}) {
        control->setEnabled(false);
    }
}

void TfMain::endRun() {
    running_ = false;
    ProgressBar->hide();
    bCancel->setEnabled(false);
    bbEVO->setEnabled(true);
    bbXPL->setEnabled(true);
    bbWorkdir->setEnabled(true);
    bCheck->setEnabled(!eEVOfile->text().isEmpty());
    bReadXPL->setEnabled(playlistThere());
    cbVideoClick();
    // The focus goes back where it was: the buttons disabled meanwhile passed it on.
    if (focusBefore_ != nullptr && focusBefore_->isEnabled()) focusBefore_->setFocus();
    focusBefore_ = nullptr;
    if (closePending_) QTimer::singleShot(0, this, &QWidget::close);
}

bool TfMain::playlistThere() const {
    return !XPLname.isEmpty() && QFileInfo(eXPLfile->text()).isFile();
}

// "Read EVO", for a run that needs its facts; false when it failed (the message is shown).
bool TfMain::detect() {
    detected_.reset();
    try {
        detected_ = RunDetection(engine_, sourcePath_, discTitle_ ? &*discTitle_ : nullptr);
        applyBoxes(detected_->boxes);
    } catch (const std::exception& error) {  // RunError, or no memory or thread left
        runFailed(QString::fromStdString(error.what()));
        return false;
    }
    if (!detected_->boxes.any()) {
        const QString message =
            "No program stream was recognised in \"" + QString::fromStdString(sourcePath_) + "\".";
        log(message.toStdString());
        slog(message.toStdString(), 0);
    }
    return true;
}

void TfMain::runFailed(const QString& message) {
    log(message.toStdString());
    // Not "Opening" or the last progress line: nothing is going on any more.
    slog("Ready", 0);
    slog("", 1);
    QMessageBox::critical(this, windowTitle(), message);
}

void TfMain::applyBoxes(const StreamBoxes& boxes) {
    const auto apply = [](StreamCheckBox* widget, const StreamBox& state) {
        widget->setEnabled(state.enabled);
        widget->setCaption(QString::fromStdString(state.caption));
        widget->setChecked(state.ticked);
    };
    for (const BoxKind kind : {BoxKind::Video, BoxKind::Audio, BoxKind::Sub}) {
        for (int slot = 0; slot < BoxCount(kind); ++slot)
            apply(box(kind, slot), boxes.at(kind, slot));
    }
}

void TfMain::bCheckClick() {
    if (running_ || eEVOfile->text().isEmpty()) return;
    beginRun();
    Resetcbs();
    PageControl->setCurrentIndex(0);
    detect();
    endRun();
}

void TfMain::writingRun(
    const std::function<void(Engine&, const Detected&, const std::string&)>& run) {
    if (running_) return;
    beginRun();
    PageControl->setCurrentIndex(0);
    bool done = false;
    // A run needs what "Read EVO" finds: without it (the playlist was read first), the source is
    // read now, and the playlist's tracks label the boxes again as they did.
    if (!detected_) {
        log("The source has not been read yet: \"Read EVO\" first.");
        if (!detect() || !detected_->boxes.any()) {
            endRun();
            return;
        }
        if (!xplTracks_.empty()) labelBoxes(xplTracks_);
    }
    try {
        run(engine_, *detected_, sourcePath_);
        done = true;
    } catch (const std::exception& error) {  // RunError, or no memory or thread left
        runFailed(QString::fromStdString(error.what()));
    }
    endRun();
    if (done) {
        bDemux->setEnabled(true);
        bRebuild->setEnabled(true);
    }
}

void TfMain::bDemuxClick() {
    if (cbMkv->isEnabled() && cbMkv->isChecked()) {
        // The ticked streams into one Matroska file, named and ordered by the playlist read.
        MatroskaRequest request;
        request.title = xplTitle_;
        request.keepWork = cbKeepWork->isChecked();
        writingRun([this, &request](Engine& engine, const Detected& detected,
                                    const std::string& source) {
            // A Matroska file of that name is replaced only when the user says so.
            const QString output =
                QString::fromStdString(MatroskaOutputPath(*this, detected, source, request));
            if (QFileInfo::exists(output)) {
                if (QMessageBox::question(
                        this, windowTitle(), "\"" + output + "\" exists. Replace it?",
                        QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
                    log("\"" + output.toStdString() + "\" is kept; no Matroska file was made.");
                    return;
                }
                request.replace = true;
            }
            RunMatroska(engine, detected, source, request);
        });
        return;
    }
    writingRun([](Engine& engine, const Detected& detected, const std::string& source) {
        RunDemux(engine, detected, source);
    });
}

void TfMain::bRebuildClick() {
    writingRun([](Engine& engine, const Detected& detected, const std::string& source) {
        RunRebuild(engine, detected, source);
    });
}

// The boxes as the playlist's title has them: its tracks ticked and captioned, no others.
void TfMain::labelBoxes(const std::vector<playlist::Track>& tracks) {
    Resetcbs();
    for (const playlist::Track& track : tracks) {
        const QString label = QString::fromStdString(track.label);
        StreamCheckBox* target = nullptr;
        if (track.kind == playlist::TrackKind::Video) {
            target = track.slot == 0 ? cbVideo[0] : nullptr;  // other video tracks change no box
        } else {
            target = box(track.kind == playlist::TrackKind::Audio ? BoxKind::Audio : BoxKind::Sub,
                         track.slot);
            if (target != nullptr) target->setPlainTip(label);
        }
        if (target == nullptr) continue;
        target->setEnabled(true);
        target->setChecked(true);
        target->setCaption(label);
    }
}

void TfMain::bReadXPLClick() {
    if (running_ || !playlistThere()) return;
    const QString suffix = QFileInfo(eXPLfile->text()).suffix().toUpper();
    if (suffix == "IFO" || suffix == "BUP") {
        readDisc();
        return;
    }
    beginRun();
    PageControl->setCurrentIndex(4);
    mXPL->clear();
    const QList<int> split = splXPL->sizes();  // hiding the memo would give the tree its room
    mXPL->setVisible(false);                   // no repaint per line while it fills
    try {
        const XplOutcome outcome =
            RunXpl(engine_, eXPLfile->text().toStdString(), SourceBase(sourcePath_), xplLabels_);
        // Another title's names and languages must not reach this source's outputs.
        xplTitle_ = outcome.playsSource ? outcome.title : playlist::TitleInfo{};
        xplTracks_.clear();
        QStringList lines;
        for (const std::string& line : outcome.lines)
            lines << QString::fromStdString(line);
        mXPL->setPlainText(lines.join('\n'));
        if (outcome.titleFound) {
            const playlist::TitleTree& tree = outcome.tree;
            tvXPL->clear();
            const auto node = [this](const char* name, const std::vector<std::string>& children) {
                auto* top = new QTreeWidgetItem(tvXPL, {name});
                for (const std::string& child : children)
                    new QTreeWidgetItem(top, {QString::fromStdString(child)});
            };
            node("Info", tree.info);
            node("Video", tree.video);
            node("Audio", tree.audio);
            node("Subtitle", tree.subtitle);
            node("Chapter", tree.chapter);
            // A title that stands in for the source (none plays it) labels no box.
            xplTracks_ = outcome.playsSource ? tree.tracks : std::vector<playlist::Track>{};
            if (outcome.playsSource) labelBoxes(xplTracks_);
        }
    } catch (const std::exception& error) {  // RunError, or no memory or thread left
        runFailed(QString::fromStdString(error.what()));
    }
    mXPL->setVisible(true);
    splXPL->setSizes(split);
    endRun();
}

// A pass that writes asks before it stops: its outputs would be left incomplete.
bool TfMain::stopConfirmed() {
    return engine_.DemuxActive == 0 ||
           QMessageBox::question(this, windowTitle(), "Are you sure to stop demuxing?",
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void TfMain::bCancelClick() {
    if (stopConfirmed()) engine_.StopFlag = 1;
}

// ---- The stream boxes ----

void TfMain::Resetcbs() {
    for (StreamCheckBox* b : cbVideo) {
        const QSignalBlocker quiet(b);
        b->setEnabled(false), b->setCaption(kNoVideoStream), b->setChecked(false);
    }
    for (StreamCheckBox* b : cbAudio) {
        const QSignalBlocker quiet(b);
        b->setEnabled(false), b->setCaption(kNoAudioStream), b->setChecked(false);
    }
    for (StreamCheckBox* b : cbSub) {
        const QSignalBlocker quiet(b);
        b->setEnabled(false), b->setCaption(kNoSubpicture), b->setChecked(false);
    }
    cbVideoClick();
}

void TfMain::cbVideoClick() {
    if (running_) return;  // the run sets the buttons when it ends
    bool any = false;
    for (const QCheckBox* b : cbVideo)
        any = any || b->isChecked();
    for (const QCheckBox* b : cbAudio)
        any = any || b->isChecked();
    for (const QCheckBox* b : cbSub)
        any = any || b->isChecked();
    bDemux->setEnabled(any);
    if (FileExtensionUpper(eEVOfile->text()) == ".EVO") bRebuild->setEnabled(any);
}

// ---- Window events ----

void TfMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    setAcceptDrops(true);  // FormShow
    if (!activated_) QTimer::singleShot(0, this, &TfMain::FormActivate);
}

bool TfMain::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && !activated_) FormActivate();
    return QMainWindow::event(event);
}

void TfMain::FormActivate() {
    if (activated_) return;
    activated_ = true;
    RegRead();
    Resetcbs();
    timeSeparator_ = LocaleTimeSeparator();
}

void TfMain::closeEvent(QCloseEvent* event) {
    if (running_) {
        // Stop the run as Cancel would (a demux or rebuild asks first, and "No" lets it go on),
        // let it close its files, then close.
        event->ignore();
        if (!stopConfirmed()) return;
        engine_.StopFlag = 1;
        closePending_ = true;
        event->ignore();
        return;
    }
    RegWrite();
    event->accept();
}

void TfMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

}  // namespace strandis::app
