#pragma once

#include <QMainWindow>
#include <QRect>
#include <QString>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include <optional>

#include "common/RunHost.h"
#include "disc/DvdTitles.h"
#include "engine/DemuxRun.h"
#include "engine/Detected.h"
#include "engine/Detection.h"
#include "engine/Engine.h"
#include "playlist/Xpl.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTextEdit;
class QToolButton;
class QTreeWidget;

namespace strandis::app {

class StreamCheckBox;

// The main window: every control, the message log and status bar, and the runs' front end.
class TfMain : public QMainWindow, public RunHost {
    Q_OBJECT

public:
    explicit TfMain(QWidget* parent = nullptr);
    ~TfMain() override;

    // The message log and the status bar.
    void log(std::string_view markedUpLine) override;
    void slog(std::string_view text, int panel) override;

    // RunHost over the controls.
    void processPendingEvents() override;
    void repaint() override;
    void scanActive(bool active) override;
    void progress(std::int64_t position, std::int64_t size) override;
    void beginStep(std::string_view step) override;
    void muxProgress(int percent) override;
    bool option(Option which) const override;
    SubFormat subFormat() const override;
    bool ticked(BoxKind kind, int slot) const override;
    std::string_view sourcePath() const override { return sourcePath_; }
    char decimalSeparator() const override;
    char timeSeparator() const override { return timeSeparator_; }
    std::string caption(BoxKind kind, int slot) const override;
    std::string outputFolder() const override;
    std::string extension(BoxKind kind) const override;

    // Handlers, named after their controls.
    void bCheckClick();
    void bDemuxClick();
    void bRebuildClick();
    void bReadXPLClick();
    void bCancelClick();
    bool stopConfirmed();
    void placeFrame();
    void bClearClick();
    void bbEVOClick();
    void bbXPLClick();
    void bbWorkdirClick();
    void cbVideoClick();
    void Resetcbs();
    void EVOadj();
    void XPLadj();
    // Files dropped on the window; only the first counts.
    void WMDropFiles(const QStringList& files);
    void FormActivate();
    void FormResize();
    void RegRead();
    void RegWrite();

    bool runGoing() const { return running_; }
    Engine& engine() { return engine_; }

    // The path texts of the chosen files ("/" separates folders).
    QString EVOdir;
    QString SourceName;
    QString XPLdir;
    QString XPLname;

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The controls, under the names the rest of the program uses; each has its name as object
    // name. Built from the table of controls in Layout.cpp.
    QLineEdit* eEVOfile;
    QToolButton* bbEVO;
    QPushButton* bCheck;
    QLineEdit* eXPLfile;
    QToolButton* bbXPL;
    QPushButton* bReadXPL;
    QTabWidget* PageControl;
    QPushButton* bDemux;
    QPushButton* bRebuild;
    QLabel* imLogo;
    QPushButton* bCancel;
    QStatusBar* StatusBar;
    std::array<QLabel*, 2> StatusPanels;
    QProgressBar* ProgressBar;

    QWidget* tsStatus;
    QPushButton* bClear;
    QTextEdit* reMessage;
    QWidget* tsVideo;
    QWidget* tsAudio;
    QWidget* tsSubpicture;
    std::array<StreamCheckBox*, 8> cbVideo;
    std::array<StreamCheckBox*, 16> cbAudio;
    std::array<StreamCheckBox*, 16> cbSub;
    QWidget* tsXPL;
    QTreeWidget* tvXPL;
    QComboBox* cbTitle;  // a DVD's titles, once "Read XPL" has read its IFO files
    QWidget* angleRow_;  // the angle chooser, shown for a title with angles
    QComboBox* cbAngle;
    QSplitter* splXPL;
    QPlainTextEdit* mXPL;
    QWidget* tsOption;
    QGroupBox* gbFile;
    QLabel* lVideoExt;
    QLineEdit* eVideoExt;
    QLineEdit* eAudioExt;
    QLineEdit* eSubExt;
    QLabel* lWorkdir;
    QLineEdit* eWorkdir;
    QToolButton* bbWorkdir;
    QCheckBox* cbContinue;
    QCheckBox* cbFastCheck;
    QCheckBox* cbCountFr;
    QCheckBox* cbDetails;
    QCheckBox* cbLpcmWav;
    QCheckBox* cbSubPgs;
    QCheckBox* cbMkv;
    QCheckBox* cbKeepWork;

    QWidget* buttonRow_;  // Demux, Rebuild and Cancel; the logo lies on it

    void buildControls();
    void buildPages();
    template <typename T>
    T* control(const char* name) const;
    void bindControls();
    void placeLogo();
    void fitStatus();
    void setSourceText(const QString& path);
    void beginRun();
    void endRun();
    // Runs a demultiplexing or rebuild run on what the last "Read EVO" of this source found;
    // both buttons come back enabled when it succeeds.
    void writingRun(const std::function<void(Engine&, const Detected&, const std::string&)>& run);
    void runFailed(const QString& message);
    void applyBoxes(const StreamBoxes& boxes);
    void labelBoxes(const std::vector<playlist::Track>& tracks);
    bool detect();
    void readDisc();
    void chooseTitle(int index);
    void chooseAngle(int index);
    bool playlistThere() const;
    void pathTyped(QLineEdit* field);
    StreamCheckBox* box(BoxKind kind, int slot) const;

    Engine engine_;
    playlist::AttributeLabels xplLabels_;
    playlist::TitleInfo xplTitle_;            // of the last "Read XPL" for this source
    std::optional<Detected> detected_;        // of the last "Read EVO" of this source
    std::vector<playlist::Track> xplTracks_;  // the boxes that last "Read XPL"'s title labels
    std::optional<dvd::Disc> disc_;           // of the last "Read XPL" of a DVD's IFO
    std::optional<SourceTitle> discTitle_;    // the DVD title chosen: what the runs read
    std::string sourcePath_;
    bool running_ = false;
    QWidget* focusBefore_ = nullptr;  // where the focus was when the run began
    bool activated_ = false;
    bool closePending_ = false;
    QRect storedFrame_;  // the stored frame geometry, until the window manager has framed us
    int framingTries_ = 0;
    QRect placed_;  // the inside geometry placeFrame set last
    std::array<QString, 2> statusTexts_{" Ready", " Select or drop an EVO file to demux"};
    bool firstLine_ = true;
    char timeSeparator_ = ':';
};

}  // namespace strandis::app
