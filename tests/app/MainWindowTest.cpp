// The real window on the offscreen platform, driven as a user would.
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <csignal>
#include <functional>

#include "app/Main.h"
#include "app/StreamCheckBox.h"
#include "testkit/PsBuilder.h"

using strandis::app::TfMain;
using namespace strandis::test;

namespace {

// The window with its controls found by their object names, as a user's tools would find them.
class Window : public TfMain {
public:
    template <typename T>
    T* find(const QString& name) const {
        T* found = findChild<T*>(name);
        if (found == nullptr) qFatal("no control named %s", qPrintable(name));
        return found;
    }
    template <typename T, std::size_t N>
    std::array<T*, N> boxes(const char* prefix, int digits) const {
        std::array<T*, N> all{};
        for (std::size_t k = 0; k < N; ++k)
            all[k] = find<T>(QString("%1%2").arg(prefix).arg(k, digits, 10, QChar('0')));
        return all;
    }

    QLineEdit* eEVOfile = find<QLineEdit>("eEVOfile");
    QToolButton* bbEVO = find<QToolButton>("bbEVO");
    QPushButton* bCheck = find<QPushButton>("bCheck");
    QLineEdit* eXPLfile = find<QLineEdit>("eXPLfile");
    QToolButton* bbXPL = find<QToolButton>("bbXPL");
    QPushButton* bReadXPL = find<QPushButton>("bReadXPL");
    QTabWidget* PageControl = find<QTabWidget>("PageControl");
    QPushButton* bDemux = find<QPushButton>("bDemux");
    QPushButton* bRebuild = find<QPushButton>("bRebuild");
    QLabel* imLogo = find<QLabel>("imLogo");
    QPushButton* bCancel = find<QPushButton>("bCancel");
    QStatusBar* StatusBar = find<QStatusBar>("StatusBar");
    std::array<QLabel*, 2> StatusPanels{find<QLabel>("StatusPanel0"), find<QLabel>("StatusPanel1")};
    QPushButton* bClear = find<QPushButton>("bClear");
    QTextEdit* reMessage = find<QTextEdit>("reMessage");
    std::array<QCheckBox*, 8> cbVideo = boxes<QCheckBox, 8>("cbVideo", 1);
    std::array<QCheckBox*, 16> cbAudio = boxes<QCheckBox, 16>("cbAudio", 2);
    std::array<QCheckBox*, 16> cbSub = boxes<QCheckBox, 16>("cbSub", 2);
    QTreeWidget* tvXPL = find<QTreeWidget>("tvXPL");
    QComboBox* cbTitle = find<QComboBox>("cbTitle");
    QComboBox* cbAngle = find<QComboBox>("cbAngle");
    QSplitter* splXPL = find<QSplitter>("splXPL");
    QPlainTextEdit* mXPL = find<QPlainTextEdit>("mXPL");
    QLineEdit* eVideoExt = find<QLineEdit>("eVideoExt");
    QLineEdit* eAudioExt = find<QLineEdit>("eAudioExt");
    QLineEdit* eSubExt = find<QLineEdit>("eSubExt");
    QLineEdit* eWorkdir = find<QLineEdit>("eWorkdir");
    QToolButton* bbWorkdir = find<QToolButton>("bbWorkdir");
    QCheckBox* cbContinue = find<QCheckBox>("cbContinue");
    QCheckBox* cbFastCheck = find<QCheckBox>("cbFastCheck");
    QCheckBox* cbCountFr = find<QCheckBox>("cbCountFr");
    QCheckBox* cbDetails = find<QCheckBox>("cbDetails");
    QCheckBox* cbLpcmWav = find<QCheckBox>("cbLpcmWav");
    QCheckBox* cbSubPgs = find<QCheckBox>("cbSubPgs");
    QCheckBox* cbMkv = find<QCheckBox>("cbMkv");
    QCheckBox* cbKeepWork = find<QCheckBox>("cbKeepWork");
};

// Answers the next modal message box with `button`; its text goes to `text`.
void AnswerNextBox(QMessageBox::StandardButton button, QString* text = nullptr) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, button, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        if (text != nullptr) *text = box->text();
        timer->stop();
        timer->deleteLater();
        box->button(button)->click();
    });
    timer->start();
}

// Runs `action` the first time the window processes pending events during a run.
void DuringRun(const std::function<void()>& action) {
    QTimer::singleShot(0, action);
}

// A caption as shown, without its mnemonic marks.
QString Shown(QString text) {
    return text.remove(QRegularExpression("&(?!&)"));
}

QStringList LogLines(const Window& w) {
    return w.reMessage->toPlainText().split('\n');
}

// A program stream: MPEG-2 video, Dolby Digital 0x80, DTS 0x89, subpicture 0x20, then padding
// packs up to `fill` bytes so that a run lasts long enough to be interrupted.
Bytes FourStreams(std::size_t fill = 0) {
    PsBuilder ps;
    ps.pack()
        .systemHeader(2, 1)
        .video(0xE0, {0x00, 0x00, 0x01, 0x00}, 0x1000)
        .audio(0x80, Counting(100), 0x1100)
        .audio(0x89, Counting(100), 0x1200)
        .subpicture(0x20, Counting(30), 0x1300)
        .padTo();
    while (ps.size() < fill)
        ps.pack().padding(2048 - 14 - 6);
    return ps.bytes();
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir settingsDir_;
    QTemporaryDir files_;

    QString file(const QString& name, const Bytes& data) {
        const QString path = files_.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        SaveFile(path.toStdString(), data);
        return path;
    }

    static void startUp(Window& w) {
        w.show();
        QTRY_VERIFY(w.isVisible());
        QCoreApplication::processEvents();  // FormActivate
    }

    static QString settingsFile() {
        return QSettings(QSettings::IniFormat, QSettings::UserScope, "Korvath Software", "Strandis")
            .fileName();
    }

private slots:
    void initTestCase() {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir_.path());
    }
    void init() { QFile::remove(settingsFile()); }

    void firstStartShowsTheDesignedWindow() {
        Window w;
        startUp(w);
        QCOMPARE(w.windowTitle(), QString("Strandis " STRANDIS_VERSION));
        QCOMPARE(w.PageControl->count(), 6);
        const QStringList tabs{"Status", "Video", "Audio", "Subpicture", "XPL", "Options"};
        for (int k = 0; k < 6; ++k)
            QCOMPARE(Shown(w.PageControl->tabText(k)), tabs[k]);
        QCOMPARE(w.PageControl->currentIndex(), 0);
        for (QCheckBox* option : {w.cbContinue, w.cbFastCheck, w.cbCountFr, w.cbDetails})
            QVERIFY(option->isChecked());
        QCOMPARE(Shown(w.cbContinue->text()), QString("Continue with second  EVO"));
        QCOMPARE(w.eVideoExt->text(), QString("auto"));
        QCOMPARE(w.eAudioExt->text(), QString("auto"));
        QCOMPARE(w.eSubExt->text(), QString("auto"));
        QCOMPARE(w.eWorkdir->text(), QString());
        QCOMPARE(w.eXPLfile->text(), QString("VPLST000.XPL"));
        for (QWidget* off : std::initializer_list<QWidget*>{w.bCheck, w.bReadXPL, w.bDemux,
                                                            w.bRebuild, w.bCancel}) {
            QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));
        }
        QVERIFY(w.bbEVO->isEnabled() && w.bbXPL->isEnabled() && w.bbWorkdir->isEnabled());
        QCOMPARE(w.cbVideo[7]->text(), QString("No video stream"));
        QCOMPARE(w.cbAudio[15]->text(), QString("No audio stream"));
        QCOMPARE(w.cbSub[0]->text(), QString("No subpicture"));
        QVERIFY(!w.cbSub[3]->isEnabled());
        QCOMPARE(w.StatusPanels[0]->text(), QString(" Ready"));
        QCOMPARE(w.StatusPanels[1]->text(), QString(" Select or drop an EVO file to demux"));
        QCOMPARE(
            w.eSubExt->toolTip(),
            QString("auto (or empty): .sup, the extension of \"SP\" records and of PGS alike"));
        QCOMPARE(w.eEVOfile->toolTip(), QString("Drop here the source EVO file"));
        QVERIFY(!w.imLogo->pixmap().isNull());
        QCOMPARE(w.imLogo->pixmap().size(), QSize(125, 31));
    }

    void detectionRunFillsTheBoxesAndRestoresTheButtons() {
        Window w;
        startUp(w);
        const QString source = file("disc/HVDVD_TS/FEATURE_1.EVO", FourStreams(9 << 20));
        // "Read XPL" waits for a playlist that is there.
        w.WMDropFiles({source});
        QVERIFY(w.bCheck->isEnabled());
        QVERIFY(!w.bReadXPL->isEnabled());
        file("disc/ADV_OBJ/VPLST000.XPL", Bytes{'<', 'a', '/', '>'});
        w.WMDropFiles({source});
        QVERIFY(w.bReadXPL->isEnabled());
        w.PageControl->setCurrentIndex(5);

        QMap<QString, bool> during;
        DuringRun([&] {
            for (QWidget* c :
                 std::initializer_list<QWidget*>{w.bCheck, w.bReadXPL, w.bDemux, w.bRebuild,
                                                 w.bbEVO, w.bbXPL, w.bbWorkdir, w.bCancel}) {
                during[c->objectName()] = c->isEnabled();
            }
            w.WMDropFiles({files_.filePath("other.EVO")});  // ignored while a run goes
        });
        w.bCheck->click();

        QCOMPARE(during.value("bCancel"), true);
        for (const char* name :
             {"bCheck", "bReadXPL", "bDemux", "bRebuild", "bbEVO", "bbXPL", "bbWorkdir"}) {
            QVERIFY2(!during.value(name, true), name);
        }
        QCOMPARE(w.eEVOfile->text(), source);
        QCOMPARE(w.PageControl->currentIndex(), 0);
        QVERIFY(w.cbVideo[0]->isEnabled() && w.cbVideo[0]->isChecked());
        QCOMPARE(w.cbVideo[0]->text(), QString("MPEG-2.stream.0"));
        QCOMPARE(w.cbAudio[0]->text(), QString("DD.stream.00"));
        QCOMPARE(w.cbAudio[1]->text(), QString("DTSHD.stream.01"));
        QCOMPARE(w.cbSub[0]->text(), QString("Subpicture.00"));
        QVERIFY(!w.cbAudio[2]->isEnabled());
        QVERIFY(w.bCheck->isEnabled() && w.bDemux->isEnabled() && w.bRebuild->isEnabled());
        QVERIFY(!w.bCancel->isEnabled());
        QVERIFY(LogLines(w).contains("It contains 1 video stream and 2 audio streams."));
        QVERIFY(LogLines(w).contains("Done."));
        QCOMPARE(w.StatusPanels[0]->text(), QString(" Ready"));

        // Unticking every box disables Demux and Rebuild; one tick brings them back.
        for (QCheckBox* b : {w.cbVideo[0], w.cbAudio[0], w.cbAudio[1], w.cbSub[0]})
            b->setChecked(false);
        QVERIFY(!w.bDemux->isEnabled() && !w.bRebuild->isEnabled());
        w.cbAudio[1]->setChecked(true);
        QVERIFY(w.bDemux->isEnabled() && w.bRebuild->isEnabled());

        // A .VOB source: Demux yes, Rebuild no.
        w.WMDropFiles({file("VTS_01_1.VOB", FourStreams())});
        w.bCheck->click();
        QVERIFY(w.bDemux->isEnabled());
        QVERIFY(!w.bRebuild->isEnabled());
    }

    void enterStartsReadEvoButNotFromTheOptionFields() {
        Window w;
        startUp(w);
        w.WMDropFiles({file("FEATURE_1.EVO", FourStreams())});
        w.activateWindow();
        // Typing a folder and pressing Enter only ends the typing.
        w.PageControl->setCurrentIndex(5);
        w.eWorkdir->setFocus();
        QTest::keyClicks(w.eWorkdir, "/tmp");
        QTest::keyClick(w.eWorkdir, Qt::Key_Return);
        QCoreApplication::processEvents();
        QVERIFY(!LogLines(w).contains("Done."));
        QCOMPARE(w.eWorkdir->text(), QString("/tmp"));
        // From the source's path field (read-only, but it takes focus) Enter reads the source.
        w.eEVOfile->setFocus();
        QVERIFY(w.eEVOfile->hasFocus());
        QTest::keyClick(w.eEVOfile, Qt::Key_Return);
        QTRY_VERIFY(LogLines(w).contains("Done."));
        QVERIFY(w.cbAudio[0]->isChecked());
    }

    void cancelStopsAScanWithoutAskingButAsksDuringDemux() {
        Window w;
        startUp(w);
        w.WMDropFiles({file("FEATURE_1.EVO", FourStreams(13 << 20))});
        DuringRun([&] { w.bCancel->click(); });
        w.bCheck->click();
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(w.engine().StopFlag != 0);
        QVERIFY(!LogLines(w).join('\n').contains("frames"));
        QVERIFY(w.cbVideo[0]->isChecked());  // what was found before the stop

        // A demux-mode scan asks; No lets it go on to the end, Yes stops it.
        strandis::Engine& engine = w.engine();
        for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
            QString question;
            engine.SourceStream.open(w.eEVOfile->text().toStdString());
            DuringRun([&] {
                AnswerNextBox(answer, &question);
                w.bCancel->click();
            });
            engine.demux(static_cast<strandis::ChunkSink*>(nullptr));
            QCOMPARE(question, QString("Are you sure to stop demuxing?"));
            if (answer == QMessageBox::No) {
                QCOMPARE(engine.StopFlag, std::uint8_t{0});
                QCOMPARE(engine.SourceStream.position(), engine.SourceStream.size());
            } else {
                QCOMPARE(engine.StopFlag, std::uint8_t{1});
                QVERIFY(engine.SourceStream.position() < engine.SourceStream.size());
            }
            engine.SourceStream.close();
        }
        QVERIFY(!w.bCancel->isEnabled());
    }

    void demuxAndRebuildRunWithTheirButtonsAndCancelsQuestion() {
        Window w;
        startUp(w);
        const QString source = file("FEATURE_1.EVO", FourStreams(13 << 20));
        w.WMDropFiles({source});
        w.bCheck->click();
        w.eWorkdir->setText(files_.filePath("out"));
        QDir().mkpath(files_.filePath("out"));
        w.cbSub[0]->setChecked(false);

        // Demux, with Cancel answered No: the run goes to the end.
        QMap<QString, bool> during;
        QString question;
        DuringRun([&] {
            for (QWidget* c : std::initializer_list<QWidget*>{w.bCheck, w.bDemux, w.bRebuild,
                                                              w.bbEVO, w.bCancel}) {
                during[c->objectName()] = c->isEnabled();
            }
            AnswerNextBox(QMessageBox::No, &question);
            w.bCancel->click();
        });
        w.bDemux->click();
        QCOMPARE(question, QString("Are you sure to stop demuxing?"));
        QCOMPARE(during.value("bCancel"), true);
        QVERIFY(!during.value("bDemux") && !during.value("bRebuild") && !during.value("bCheck") &&
                !during.value("bbEVO"));
        QVERIFY(
            LogLines(w).contains("Creating " + files_.filePath("out/FEATURE_1.DD.stream.00.ac3")));
        QVERIFY(!QFile::exists(files_.filePath("out/FEATURE_1.Subpicture.00.sup")));
        QCOMPARE(QFileInfo(files_.filePath("out/FEATURE_1.DD.stream.00.ac3")).size(), qint64(100));
        QVERIFY(w.bDemux->isEnabled() && w.bRebuild->isEnabled() && w.bCheck->isEnabled());
        QVERIFY(!w.bCancel->isEnabled());

        // Rebuild, with Cancel answered Yes: it stops, and what was written stays.
        DuringRun([&] {
            AnswerNextBox(QMessageBox::Yes);
            w.bCancel->click();
        });
        w.bRebuild->click();
        QVERIFY(w.engine().StopFlag != 0);
        const QFileInfo rebuilt(files_.filePath("out/FEATURE_1.rebuilt.EVO"));
        QVERIFY(rebuilt.exists());
        QCOMPARE(rebuilt.size(), qint64(4 << 20));
        QCOMPARE(LogLines(w).mid(LogLines(w).size() - 2), QStringList({"Done.", ""}));
        QVERIFY(w.bDemux->isEnabled() && w.bRebuild->isEnabled());
    }

    void readXplFillsTheMemoTheTreeAndTheBoxes() {
        Window w;
        startUp(w);
        const std::string playlist =
            "<?xml version=\"1.0\"?>\n"
            "<Playlist displayName=\"Disc\">\n"
            "  <VideoAttributeItem index=\"1\" codec=\"VC-1\"/>\n"
            "  <AudioAttributeItem index=\"1\" codec=\"DD+\" channels=\"6\"/>\n"
            "  <SubpictureAttributeItem index=\"1\" codec=\"2bitRLE\"/>\n"
            "  <Title id=\"A\" displayName=\"Film\" titleDuration=\"01:00:00:00\">\n"
            "    <PrimaryAudioVideoClip src=\"file:///dvddisc/HVDVD_TS/FEATURE_1.MAP\">\n"
            "      <Video track=\"1\" mediaAttr=\"1\"/>\n"
            "      <Audio track=\"1\" streamNumber=\"2\" mediaAttr=\"1\" "
            "description=\"English\"/>\n"
            "      <Subtitle track=\"1\" streamNumber=\"1\" mediaAttr=\"1\" "
            "description=\"Deutsch\"/>\n"
            "    </PrimaryAudioVideoClip>\n"
            "    <Chapter titleTimeBegin=\"00:00:00:00\" displayName=\"Chapter 1\"/>\n"
            "  </Title>\n"
            "</Playlist>\n";
        file("disc/ADV_OBJ/VPLST000.XPL", Bytes(playlist.begin(), playlist.end()));
        w.WMDropFiles({file("disc/HVDVD_TS/FEATURE_1.EVO", FourStreams())});
        QCOMPARE(w.eXPLfile->text(), files_.filePath("disc/ADV_OBJ/VPLST000.XPL"));
        w.bReadXPL->click();

        QCOMPARE(w.PageControl->currentIndex(), 4);
        QVERIFY(!w.mXPL->isHidden());
        const QStringList memo = w.mXPL->toPlainText().split('\n');
        QCOMPARE(memo.first(),
                 QString("  <Title id=\"A\" displayName=\"Film\" titleDuration=\"01:00:00:00\">"));
        QCOMPARE(memo.last(), QString("  </Title>"));
        QCOMPARE(w.tvXPL->topLevelItemCount(), 5);
        const QStringList tops{"Info", "Video", "Audio", "Subtitle", "Chapter"};
        for (int k = 0; k < 5; ++k)
            QCOMPARE(w.tvXPL->topLevelItem(k)->text(0), tops[k]);
        QCOMPARE(w.tvXPL->topLevelItem(0)->child(0)->text(0), QString("Title: Disc"));
        QCOMPARE(w.tvXPL->topLevelItem(4)->child(0)->text(0), QString("00:00:00:00: Chapter 1"));
        QVERIFY(!w.tvXPL->topLevelItem(2)->isExpanded());

        QVERIFY(w.cbVideo[0]->isEnabled() && w.cbVideo[0]->isChecked());
        QCOMPARE(w.cbVideo[0]->text(), QString("VC-1.stream.0"));
        QCOMPARE(w.cbAudio[1]->text(), QString("DD+.6ch.stream.01.English"));
        QCOMPARE(w.cbAudio[1]->toolTip(), QString("DD+.6ch.stream.01.English"));
        QVERIFY(w.cbAudio[1]->isChecked() && !w.cbAudio[0]->isEnabled());
        QCOMPARE(w.cbSub[0]->text(), QString("2bitRLE.stream.00.Deutsch"));
        QVERIFY(w.bDemux->isEnabled() && w.bRebuild->isEnabled() && w.bReadXPL->isEnabled());
        QVERIFY(LogLines(w).contains("DD+.6ch.stream.01.English found!"));
        QCOMPARE(LogLines(w).mid(LogLines(w).size() - 2), QStringList({"Done.", ""}));

        // A bad index: the message is shown and logged, and the window recovers.
        const std::string bad =
            "<Playlist><AudioAttributeItem index=\"x2\" codec=\"DD\"/></Playlist>";
        file("disc/ADV_OBJ/VPLST000.XPL", Bytes(bad.begin(), bad.end()));
        QString message;
        AnswerNextBox(QMessageBox::Ok, &message);
        w.bReadXPL->click();
        QCOMPARE(message, QString("'x2' is not a valid integer value"));
        QVERIFY(LogLines(w).contains(message));
        QVERIFY(!w.mXPL->isHidden());
        QVERIFY(w.bReadXPL->isEnabled() && w.bCheck->isEnabled());
        QVERIFY(w.cbAudio[1]->isEnabled());  // a reading that fails changes no box

        // A playlist that is not there cannot be read: "Read XPL" waits for it, and the boxes
        // stay as they were.
        w.WMDropFiles({files_.filePath("nowhere/ADV_OBJ/VPLST000.XPL")});
        QVERIFY(!w.bReadXPL->isEnabled());
        QVERIFY(w.cbAudio[1]->isEnabled());
    }

    void aRunThatFailsSaysWhyAndLeavesTheWindowUsable() {
        Window w;
        startUp(w);
        w.WMDropFiles({files_.filePath("gone/FEATURE_1.EVO")});
        QString message;
        AnswerNextBox(QMessageBox::Ok, &message);
        w.bCheck->click();
        QVERIFY(message.startsWith("Cannot open file \"" + files_.filePath("gone/FEATURE_1.EVO") +
                                   "\""));
        QVERIFY(LogLines(w).contains(message));
        QVERIFY(w.bCheck->isEnabled() && w.bbEVO->isEnabled());
        QVERIFY(!w.bCancel->isEnabled() && !w.bDemux->isEnabled());
        QCOMPARE(w.StatusPanels[0]->text(), QString(" Ready"));  // not " Reading ..."
        QCOMPARE(w.StatusPanels[1]->text(), QString(" "));
    }

    void aDemuxIntoAMissingFolderFailsCleanly() {
        Window w;
        startUp(w);
        const QString source = file("FEATURE_1.EVO", FourStreams());
        const QByteArray before = [&] {
            QFile f(source);
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        w.WMDropFiles({source});
        w.bCheck->click();
        w.eWorkdir->setText(files_.filePath("missing/folder"));
        QString message;
        AnswerNextBox(QMessageBox::Ok, &message);
        w.bDemux->click();
        QVERIFY(message.startsWith("Cannot create file \"" + files_.filePath("missing/folder/")));
        QVERIFY(LogLines(w).contains(message));
        QVERIFY(w.bDemux->isEnabled() && w.bCheck->isEnabled() && !w.bCancel->isEnabled());
        QVERIFY(!QDir(files_.filePath("missing")).exists());
        QFile f(source);
        f.open(QIODevice::ReadOnly);
        QCOMPARE(f.readAll(), before);
    }

    void lpcmAsWavIsAnOptionThatStaysOffUntilTicked() {
        Window w;
        startUp(w);
        QVERIFY(!w.cbLpcmWav->isChecked());
        PsBuilder ps;
        ps.pack()
            .video(0xE0, {0x00, 0x00, 0x01, 0x00}, 0x1000)
            .audio(0xA0, Counting(96), 0x1000);  // 24-bit stereo: eight groups
        w.WMDropFiles({file("FEATURE_1.EVO", ps.bytes())});
        w.bCheck->click();
        w.bDemux->click();
        QCOMPARE(QFileInfo(files_.filePath("FEATURE_1.LPCM.stream.00.pcm")).size(), 96);
        w.cbLpcmWav->setChecked(true);
        QFile::remove(files_.filePath("FEATURE_1.MPEG-2.stream.0.m2v"));
        w.bDemux->click();
        QCOMPARE(QFileInfo(files_.filePath("FEATURE_1.LPCM.stream.00.wav")).size(), 104 + 96);
        QVERIFY(!w.cbSubPgs->isChecked());
        QCOMPARE(w.subFormat(), strandis::SubFormat::Sup);
        w.cbSubPgs->setChecked(true);
        QCOMPARE(w.subFormat(), strandis::SubFormat::Pgs);
        w.close();
        Window again;
        startUp(again);
        QVERIFY(again.cbLpcmWav->isChecked());
        QVERIFY(again.cbSubPgs->isChecked());
    }

    // With "Demux into a Matroska file" Demux ends with one .mkv made by mkvmerge; when mkvmerge
    // cannot take the streams, the message says why, no .mkv is left and the streams stay.
    void demuxIntoAMatroskaFile() {
        Window w;
        startUp(w);
        if (!w.cbMkv->isEnabled()) QSKIP("mkvmerge is not installed");
        const QString source = files_.filePath("mkv/mix.VOB");
        QDir().mkpath(files_.filePath("mkv"));
        QVERIFY(QFile::copy(FIXTURES_DIR "/mix.VOB", source));
        w.WMDropFiles({source});
        w.bCheck->click();
        w.cbMkv->setChecked(true);
        w.bDemux->click();
        QVERIFY2(QFileInfo::exists(files_.filePath("mkv/mix.mkv")),
                 qPrintable(LogLines(w).join('\n')));
        QVERIFY(LogLines(w).contains("Written " + files_.filePath("mkv/mix.mkv")));
        QStringList left =
            QDir(files_.filePath("mkv"))
                .entryList(QDir::Hidden | QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
        left.sort();
        QCOMPARE(left, QStringList({"mix.VOB", "mix.mkv"}));

        w.WMDropFiles({file("bad/FEATURE_1.EVO", FourStreams())});
        w.bCheck->click();
        QString message;
        AnswerNextBox(QMessageBox::Ok, &message);
        w.bDemux->click();
        QVERIFY2(message.startsWith("mkvmerge failed"), qPrintable(message));
        QVERIFY(!QFileInfo::exists(files_.filePath("bad/FEATURE_1.mkv")));
        const auto working = [this] {
            return QDir(files_.filePath("bad"))
                .entryList({".strandis-*"}, QDir::Hidden | QDir::Dirs);
        };
        QVERIFY(working().isEmpty());  // the streams go with the failed step
        QVERIFY(w.bDemux->isEnabled() && w.bCheck->isEnabled());
        // Asked to, the step keeps them and says where.
        w.cbKeepWork->setChecked(true);
        AnswerNextBox(QMessageBox::Ok, &message);
        w.bDemux->click();
        QCOMPARE(working().size(), 1);
        QVERIFY(LogLines(w).contains("The demultiplexed streams stay in " +
                                     files_.filePath("bad/" + working()[0])));
    }

    // Cancel stops mkvmerge too (a stand-in that would take minutes), after asking as during a
    // demux; nothing is left under the Matroska file's name. An existing .mkv is replaced only
    // when the user says so.
    void cancelStopsTheMuxAndAnExistingMkvIsAskedAbout() {
        const QString bin = files_.filePath("standin");
        QDir().mkpath(bin);
        const QString pidFile = files_.filePath("standin/pid");
        file("standin/mkvmerge", [&] {
            const std::string script =
                "#!/bin/sh\nwhile [ \"$1\" != -o ]; do shift; done\n: > \"$2\"\necho $$ > '" +
                pidFile.toStdString() +
                "'\nwhile true; do echo '#GUI#progress 5%'; sleep 1; done\n";
            return Bytes(script.begin(), script.end());
        }());
        QFile::setPermissions(bin + "/mkvmerge",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", (bin + ":" + path).toUtf8());
        {
            Window w;
            startUp(w);
            QVERIFY(w.cbMkv->isEnabled());
            const QString source = file("cancelmux/FEATURE_1.EVO", FourStreams());
            w.WMDropFiles({source});
            w.bCheck->click();
            w.cbMkv->setChecked(true);
            QString question, message;
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                if (!w.StatusPanels[1]->text().contains("Muxing") || !w.bCancel->isEnabled())
                    return;
                poll.stop();
                AnswerNextBox(QMessageBox::Yes, &question);
                w.bCancel->click();
                AnswerNextBox(QMessageBox::Ok, &message);  // the run's end, stopped
            });
            poll.start(50);
            QElapsedTimer clock;
            clock.start();
            w.bDemux->click();
            QVERIFY(clock.elapsed() < 10000);
            QCOMPARE(question, QString("Are you sure to stop demuxing?"));
            QCOMPARE(message, QString("Stopped before the end: no Matroska file was made."));
            QFile pidText(pidFile);
            QVERIFY(pidText.open(QIODevice::ReadOnly));
            const pid_t pid = pidText.readAll().trimmed().toInt();
            QVERIFY(pid > 0 && ::kill(pid, 0) != 0);
            QStringList left =
                QDir(files_.filePath("cancelmux"))
                    .entryList(QDir::Hidden | QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
            QCOMPARE(left, QStringList({"FEATURE_1.EVO"}));

            // An existing .mkv: "No" keeps it and makes nothing.
            file("cancelmux/FEATURE_1.mkv", Bytes{7});
            AnswerNextBox(QMessageBox::No, &question);
            w.bDemux->click();
            QCOMPARE(question,
                     "\"" + files_.filePath("cancelmux/FEATURE_1.mkv") + "\" exists. Replace it?");
            QCOMPARE(QFileInfo(files_.filePath("cancelmux/FEATURE_1.mkv")).size(), qint64{1});
        }
        qputenv("PATH", path);
    }

    void aCancelledDemuxSaysWhichOutputsAreIncomplete() {
        Window w;
        startUp(w);
        w.WMDropFiles({file("FEATURE_1.EVO", FourStreams(13 << 20))});
        w.cbFastCheck->setChecked(true);
        w.bCheck->click();
        w.bClear->click();
        DuringRun([&] {
            AnswerNextBox(QMessageBox::Yes);
            w.bCancel->click();
        });
        w.bDemux->click();
        const QStringList lines = LogLines(w);
        const qsizetype done = lines.lastIndexOf("Done.");
        QVERIFY(done > 0);
        QVERIFY2(
            lines[done - 1].startsWith("Stopped before the end; these outputs are incomplete: " +
                                       files_.filePath("FEATURE_1")),
            qPrintable(lines[done - 1]));
        QVERIFY(lines[done - 1].contains("DD.stream.00"));
        QCOMPARE(w.StatusPanels[0]->text(), QString(" Ready"));
    }

    void aReadOnlyDiscFolderPointsToTheOptionsPage() {
        if (geteuid() == 0) QSKIP("root writes into read-only folders");
        Window w;
        startUp(w);
        const QString source = file("disc/FEATURE_1.EVO", FourStreams());
        w.WMDropFiles({source});
        w.bCheck->click();
        QFile::setPermissions(files_.filePath("disc"), QFile::ReadOwner | QFile::ExeOwner);
        QString message;
        AnswerNextBox(QMessageBox::Ok, &message);
        w.bDemux->click();
        QFile::setPermissions(files_.filePath("disc"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(message.contains("\"" + files_.filePath("disc/") +
                                  "\": an output folder can be chosen on the Options page."),
                 qPrintable(message));
        QVERIFY(w.bDemux->isEnabled());
    }

    void closingDuringARunStopsItThenCloses() {
        auto* w = new Window;
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        startUp(*w);
        w->WMDropFiles({file("FEATURE_1.EVO", FourStreams(13 << 20))});
        DuringRun([&] { w->close(); });
        w->bCheck->click();
        QVERIFY(w->engine().StopFlag != 0);
        QTRY_VERIFY(!w->isVisible());
        QVERIFY(QFile::exists(settingsFile()));
        delete w;
    }

    void closingDuringADemuxAsksAndNoLetsItFinish() {
        auto* w = new Window;
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        startUp(*w);
        w->WMDropFiles({file("FEATURE_1.EVO", FourStreams(13 << 20))});
        w->bCheck->click();
        w->eWorkdir->setText(files_.path());
        QString question;
        DuringRun([&] {
            AnswerNextBox(QMessageBox::No, &question);
            w->close();
        });
        w->bDemux->click();
        QCOMPARE(question, QString("Are you sure to stop demuxing?"));
        QCOMPARE(w->engine().StopFlag, std::uint8_t{0});
        QVERIFY(w->isVisible());
        QVERIFY(LogLines(*w).contains("Done."));
        QCOMPARE(QFileInfo(files_.filePath("FEATURE_1.DD.stream.00.ac3")).size(), qint64{100});
        delete w;
    }

    void aNewSourceWaitsForItsOwnReadEvo() {
        Window w;
        startUp(w);
        w.WMDropFiles({file("FEATURE_1.EVO", FourStreams())});
        w.bCheck->click();
        QVERIFY(w.cbAudio[0]->isChecked() && w.bDemux->isEnabled());
        w.WMDropFiles({file("OTHER_1.EVO", FourStreams())});
        for (const QCheckBox* b : w.cbAudio)
            QVERIFY(!b->isChecked() && !b->isEnabled());
        QVERIFY(!w.cbVideo[0]->isChecked());
        QVERIFY(!w.bDemux->isEnabled() && !w.bRebuild->isEnabled());
        // The same source dropped again keeps what its "Read EVO" found.
        w.bCheck->click();
        w.WMDropFiles({w.eEVOfile->text()});
        QVERIFY(w.cbAudio[0]->isChecked() && w.bDemux->isEnabled());
    }

    void readXplAfterAFeaturePairFindsTheTitle() {
        Window w;
        startUp(w);
        const QString first = file("HVDVD_TS/FEATURE_1.EVO", FourStreams());
        file("HVDVD_TS/FEATURE_2.EVO", FourStreams());
        const std::string playlist = R"(<Playlist displayName="Disc">
<AudioAttributeItem index="1" codec="DD" channels="6"/>
<Title displayName="Other"><Clip src="TRAILER.MAP"/></Title>
<Title displayName="Film"><Clip src="FEATURE_1.MAP"/>
<Audio streamNumber="1" mediaAttr="1" description="English"/></Title></Playlist>)";
        file("ADV_OBJ/VPLST000.XPL", Bytes(playlist.begin(), playlist.end()));
        w.WMDropFiles({first});
        w.bCheck->click();
        w.bReadXPL->click();
        QCOMPARE(w.cbAudio[0]->text(), QString("DD.6ch.stream.00.English"));
        QVERIFY(w.cbAudio[0]->isChecked());
        QVERIFY(!LogLines(w).join('\n').contains("No title plays"));
    }

    // Read EVO, Read XPL (for its labels), a commentary unticked, Rebuild: the unticked
    // stream's packs are left out (12 packs of video 0xE0, Dolby Digital 0x80 and 0x81).
    void aRebuildAfterReadXplLeavesTheUntickedStreamOut() {
        Window w;
        startUp(w);
        PsBuilder ps;
        for (int k = 0; k < 4; ++k) {
            ps.pack().video(0xE0, Counting(1000, k), 0x1000u * (k + 1)).padTo(2048);
            ps.pack().audio(0x80, Counting(1000, k), 0x1000u * (k + 1)).padTo(2048);
            ps.pack().audio(0x81, Counting(1000, k), 0x1000u * (k + 1)).padTo(2048);
        }
        const std::string playlist = R"(<Playlist displayName="Disc">
<VideoAttributeItem index="1" codec="MPEG-2"/><AudioAttributeItem index="1" codec="DD" channels="6"/>
<Title displayName="Film"><Clip src="FEATURE_1.MAP"/><Video track="1" mediaAttr="1"/>
<Audio streamNumber="1" mediaAttr="1" description="Film"/>
<Audio streamNumber="2" mediaAttr="1" description="Commentary"/></Title></Playlist>)";
        file("rebuild/ADV_OBJ/VPLST000.XPL", Bytes(playlist.begin(), playlist.end()));
        w.WMDropFiles({file("rebuild/HVDVD_TS/FEATURE_1.EVO", ps.bytes())});
        w.bCheck->click();
        w.bReadXPL->click();
        QCOMPARE(w.cbAudio[1]->text(), QString("DD.6ch.stream.01.Commentary"));
        w.cbAudio[1]->setChecked(false);
        w.bRebuild->click();
        QCOMPARE(QFileInfo(files_.filePath("rebuild/HVDVD_TS/FEATURE_1.rebuilt.EVO")).size(),
                 qint64{16384});
    }

    // A playlist none of whose titles plays the source shows its first title, and leaves the
    // boxes as the detection made them.
    void aTitleOfAnotherFileLabelsNoBox() {
        Window w;
        startUp(w);
        const std::string playlist = R"(<Playlist displayName="Disc">
<AudioAttributeItem index="1" codec="DD" channels="6"/>
<Title displayName="Trailer"><Clip src="TRAILER.MAP"/>
<Audio streamNumber="1" mediaAttr="1" description="English"/></Title></Playlist>)";
        file("trailer/ADV_OBJ/VPLST000.XPL", Bytes(playlist.begin(), playlist.end()));
        w.WMDropFiles({file("trailer/HVDVD_TS/FEATURE_1.EVO", FourStreams())});
        w.bCheck->click();
        w.cbAudio[1]->setChecked(false);
        w.bReadXPL->click();
        QCOMPARE(w.tvXPL->topLevelItem(0)->child(1)->text(0), QString("Name: Trailer"));
        QCOMPARE(w.cbAudio[0]->text(), QString("DD.stream.00"));
        QVERIFY(w.cbAudio[0]->isChecked() && !w.cbAudio[1]->isChecked());
        QCOMPARE(w.cbAudio[1]->text(), QString("DTSHD.stream.01"));
        QVERIFY(LogLines(w).contains("Its tracks label no box: they are another title's."));
    }

    // Demux needs what "Read EVO" finds: after only "Read XPL" it reads the source first, and
    // writes what "Read EVO", "Read XPL", "Demux" would (LPCM as WAV, subpictures as PGS).
    // A DVD disc dropped: "Read XPL" lists its titles, the chooser starts on the main feature,
    // and a title chosen is what Demux reads: its own pictures only.
    void aDvdTitleIsChosenAndDemuxedAlone() {
        const QString disc = files_.filePath("dvd");
        if (std::system(("'" SOURCE_DIR "/tests/interop/make_disc.sh' '" + disc.toStdString() +
                         "' >/dev/null 2>&1")
                            .c_str()) != 0)
            QSKIP("dvdauthor, spumux or ffmpeg is not installed");
        Window w;
        startUp(w);
        w.WMDropFiles({disc});
        QCOMPARE(w.eXPLfile->text(), disc + "/VIDEO_TS/VIDEO_TS.IFO");
        w.bReadXPL->click();
        QCOMPARE(w.cbTitle->count(), 4);
        QCOMPARE(w.cbTitle->currentIndex(), 0);
        QVERIFY(w.cbTitle->currentText().endsWith("main feature"));
        QCOMPARE(w.tvXPL->topLevelItemCount(), 4);

        QVERIFY(w.cbAngle->parentWidget()->isHidden());  // title 1 has one angle
        w.cbTitle->setCurrentIndex(1);
        emit w.cbTitle->activated(1);  // as a choice of the user's
        QCOMPARE(w.eEVOfile->text(), disc + "/VIDEO_TS/VTS_01_1.VOB");
        QVERIFY(w.cbSub[1]->isEnabled());
        QCOMPARE(w.cbSub[1]->text(), QString("Subpicture.stream.01.de.forced"));
        QDir().mkpath(files_.filePath("dvdout"));
        w.eWorkdir->setText(files_.filePath("dvdout"));
        w.bDemux->click();
        const QDir out(files_.filePath("dvdout"));
        const QStringList videos = out.entryList({"dvd_title02.MPEG-2.stream.0.*"}, QDir::Files);
        QCOMPARE(videos.size(), 1);
        const QString video = out.filePath(videos.first());
        // Title 2 lies between titles 1 and 3 in VTS_01_1.VOB: 90 pictures are its own.
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0",
                                "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", video});
        QVERIFY(probe.waitForFinished());
        QCOMPARE(QString(probe.readAllStandardOutput()).trimmed(), QString("90,"));
    }

    // A title with two angles: the angle chooser shows, and each angle chosen is what Demux
    // reads.
    void anAngleChosenIsDemuxedAlone() {
        const QString disc = files_.filePath("angles");
        const std::string made =
            "'" SOURCE_DIR "/tests/interop/make_disc.sh' '" + disc.toStdString() +
            "' >/dev/null 2>&1 && '" SOURCE_DIR "/tests/interop/make_angles.sh' '" +
            disc.toStdString() + "'";
        if (std::system(made.c_str()) != 0) QSKIP("dvdauthor, spumux or ffmpeg is not installed");
        Window w;
        startUp(w);
        w.WMDropFiles({disc});
        w.bReadXPL->click();
        QVERIFY(!w.cbAngle->parentWidget()->isHidden());
        QCOMPARE(w.cbAngle->count(), 2);
        qint64 sizes[2] = {};
        for (const int angle : {0, 1}) {
            w.cbAngle->setCurrentIndex(angle);
            emit w.cbAngle->activated(angle);
            const QString out = files_.filePath("angleout" + QString::number(angle));
            QDir().mkpath(out);
            w.eWorkdir->setText(out);
            w.bDemux->click();
            const QStringList videos = QDir(out).entryList({"*MPEG-2*"}, QDir::Files);
            QCOMPARE(videos.size(), 1);
            sizes[angle] = QFileInfo(QDir(out).filePath(videos.first())).size();
        }
        // The two cells' pictures, each alone: different and both there.
        QVERIFY(sizes[0] > 0 && sizes[1] > 0 && sizes[0] != sizes[1]);
        QVERIFY(LogLines(w).join('\n').contains("angle 2 chosen"));
    }

    void demuxAfterOnlyReadXplReadsTheSourceFirst() {
        const std::string playlist = R"(<Playlist><VideoAttributeItem index="1" codec="MPEG-2"/>
<AudioAttributeItem index="1" codec="LPCM" channels="2"/><SubpictureAttributeItem index="1" codec="2bitRLE"/>
<Title displayName="Mix"><Clip src="mix.MAP"/><Video track="1" mediaAttr="1"/>
<Audio streamNumber="2" mediaAttr="1" description="Music"/>
<Subtitle streamNumber="1" mediaAttr="1" description="Signs"/></Title></Playlist>)";
        QMap<QString, QByteArray> written[2];
        for (const bool readEvoFirst : {true, false}) {
            Window w;
            startUp(w);
            const QString disc = readEvoFirst ? "first" : "second";
            file(disc + "/ADV_OBJ/VPLST000.XPL", Bytes(playlist.begin(), playlist.end()));
            const QString source = files_.filePath(disc + "/HVDVD_TS/mix.VOB");
            QDir().mkpath(files_.filePath(disc + "/HVDVD_TS"));
            QFile::copy(FIXTURES_DIR "/mix.VOB", source);
            QDir().mkpath(files_.filePath(disc + "/out"));
            w.eWorkdir->setText(files_.filePath(disc + "/out"));
            w.cbLpcmWav->setChecked(true);
            w.cbSubPgs->setChecked(true);
            w.WMDropFiles({source});
            if (readEvoFirst) w.bCheck->click();
            w.bReadXPL->click();
            w.bDemux->click();
            QCOMPARE(LogLines(w).contains("The source has not been read yet: \"Read EVO\" first."),
                     !readEvoFirst);
            const QDir out(files_.filePath(disc + "/out"));
            for (const QString& name : out.entryList(QDir::Files)) {
                QFile f(out.filePath(name));
                QVERIFY(f.open(QIODevice::ReadOnly));
                written[readEvoFirst ? 0 : 1].insert(name, f.readAll());
            }
        }
        QCOMPARE(written[1].keys(), written[0].keys());
        QVERIFY(written[0].keys().contains("mix.LPCM.2ch.stream.01.Music.wav"));
        QVERIFY(written[1] == written[0]);
    }

    // A file that holds no program stream says so in the window too.
    void aFileWithoutAProgramStreamSaysSo() {
        Window w;
        startUp(w);
        const QString noise = file("noise/FEATURE_1.EVO", Bytes(5000, 0x55));
        w.WMDropFiles({noise});
        w.bCheck->click();
        QVERIFY(LogLines(w).contains("No program stream was recognised in \"" + noise + "\"."));
    }

    // A path typed into the source field is the source once the typing ends; the playlist's
    // follows from it.
    void typedPathsAreTaken() {
        Window w;
        startUp(w);
        const QString source = file("typed/HVDVD_TS/FEATURE_1.EVO", FourStreams());
        file("typed/ADV_OBJ/VPLST000.XPL", Bytes{'<', 'a', '/', '>'});
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.eEVOfile->setFocus();
        w.eEVOfile->clear();
        QTest::keyClicks(w.eEVOfile, source);
        w.eWorkdir->setFocus();  // the typing ends
        QCOMPARE(QString::fromStdString(std::string(w.sourcePath())), source);
        QCOMPARE(w.eXPLfile->text(), files_.filePath("typed/ADV_OBJ/VPLST000.XPL"));
        QVERIFY(w.bCheck->isEnabled() && w.bReadXPL->isEnabled());
        // Enter in the source field takes the path and reads it.
        w.eEVOfile->setFocus();
        QTest::keyClick(w.eEVOfile, Qt::Key_Return);
        QVERIFY(w.cbAudio[0]->isEnabled());
        QVERIFY(w.focusWidget() == w.eEVOfile);  // the focus stays where the user left it
    }

    void dropsAndTheDiscFolders() {
        Window w;
        startUp(w);
        w.WMDropFiles({"/disc/HVDVD_TS/FEATURE_1.EVO", "/other/x.XPL"});
        QCOMPARE(w.eEVOfile->text(), QString("/disc/HVDVD_TS/FEATURE_1.EVO"));
        QCOMPARE(w.SourceName, QString("FEATURE_1.EVO"));
        QCOMPARE(w.EVOdir, QString("/disc/HVDVD_TS/"));
        QCOMPARE(w.eXPLfile->text(), QString("/disc/ADV_OBJ/VPLST000.XPL"));
        QVERIFY(w.bCheck->isEnabled());
        QVERIFY(!w.bReadXPL->isEnabled());  // no playlist there to read

        w.WMDropFiles({"/movies/clip.vob"});
        QCOMPARE(w.eEVOfile->text(), QString("/movies/clip.vob"));
        QCOMPARE(w.eXPLfile->text(), QString("VPLST000.XPL"));
        QVERIFY(!w.bReadXPL->isEnabled());  // the earlier playlist name stays, but is not there

        // Every program stream the engine reads is taken; anything else is refused, and why.
        for (const QString stream : {"/audio/ATS_01_1.AOB", "/x/clip.mpg", "/x/clip.MPEG"}) {
            w.WMDropFiles({stream});
            QCOMPARE(w.eEVOfile->text(), stream);
        }
        w.WMDropFiles({"/x/readme.txt"});
        QCOMPARE(w.eEVOfile->text(), QString("/x/clip.MPEG"));
        QVERIFY(
            LogLines(w).contains("\"readme.txt\" is not taken: a source is a program stream "
                                 "(.EVO, .VOB, .AOB, .MPG, .MPEG), a playlist a .XPL file."));

        w.WMDropFiles({"/disc/hvdvd_ts/FEATURE_1.EVO"});  // compared with case
        QCOMPARE(w.eXPLfile->text(), QString("VPLST000.XPL"));

        w.WMDropFiles({"/disc2/ADV_OBJ/VPLST000.xpl"});
        QCOMPARE(w.eXPLfile->text(), QString("/disc2/ADV_OBJ/VPLST000.xpl"));
        QCOMPARE(w.XPLname, QString("VPLST000.xpl"));
        QCOMPARE(w.EVOdir, QString("/disc2/HVDVD_TS/"));
        QCOMPARE(w.eEVOfile->text(), QString("/disc/hvdvd_ts/FEATURE_1.EVO"));
    }

    void theLogoStaysCentredOnWideWindows() {
        Window w;
        startUp(w);
        // The rule reads the outer width, frame included.
        const int frame = w.frameGeometry().width() - w.width();
        w.resize(600 - frame, 400);
        const auto logoLeft = [&w] { return w.imLogo->mapTo(w.centralWidget(), QPoint()).x(); };
        QCOMPARE(w.frameGeometry().width(), 600);
        QCOMPARE(logoLeft(), 237);
        w.resize(432 - frame, 400);
        QCOMPARE(logoLeft(), 153);
        w.resize(433 - frame, 400);
        QCOMPARE(logoLeft(), 153);  // 433 div 2 - 63
        w.resize(700, 500);
        const QRect cancel(w.bCancel->mapTo(w.centralWidget(), QPoint()), w.bCancel->size());
        QCOMPARE(cancel.right(), w.centralWidget()->width() - 9);
        QVERIFY(cancel.bottom() >= w.centralWidget()->height() - 9 - 31);
        QVERIFY(!cancel.intersects(
            QRect(w.imLogo->mapTo(w.centralWidget(), QPoint()), w.imLogo->size())));
    }

    void markUpFormatsExactlyTheTaggedCharacters() {
        Window w;
        startUp(w);
        w.log("Opening file [b]Movie [1].EVO[/b]");
        w.log("   Sampling frequency = [bl]48[/bl] kHz");
        w.log(
            "[s1]ten[/s1][s2]twelve[/s2][c:#ff0000]blue[/c:#ff0000][i]it[/i][u]un[/u][n]plain[/n]");
        w.log("");
        w.log("");
        const QStringList lines = LogLines(w);
        QCOMPARE(lines, QStringList({"Opening file Movie [1].EVO", "   Sampling frequency = 48 kHz",
                                     "tentwelveblueitunplain", "", ""}));

        const auto formatAt = [&](int block, int column) {
            QTextCursor c(w.reMessage->document()->findBlockByNumber(block));
            c.setPosition(c.block().position() + column + 1);
            return c.charFormat();
        };
        QCOMPARE(formatAt(0, 11).fontWeight(), int(QFont::Normal));
        QCOMPARE(formatAt(0, 13).fontWeight(), int(QFont::Bold));
        QCOMPARE(formatAt(0, 25).fontWeight(), int(QFont::Bold));
        QCOMPARE(formatAt(1, 24).foreground().color(), QColor(0, 0, 255));
        QCOMPARE(formatAt(1, 24).fontWeight(), int(QFont::Bold));
        QCOMPARE(formatAt(1, 27).fontWeight(), int(QFont::Normal));
        QVERIFY(formatAt(1, 27).foreground().color() != QColor(0, 0, 255));
        QCOMPARE(formatAt(2, 0).fontPointSize(), 10.0);
        QCOMPARE(formatAt(2, 3).fontPointSize(), 12.0);
        QCOMPARE(formatAt(2, 9).foreground().color(), QColor(0, 0, 255));  // "c:" is blue-green-red
        QVERIFY(formatAt(2, 13).fontItalic());
        QVERIFY(formatAt(2, 15).fontUnderline());
        QCOMPARE(formatAt(2, 17).fontPointSize(), 8.0);
        QVERIFY(!formatAt(2, 17).fontUnderline());

        w.slog("Ready", 0);
        QCOMPARE(w.StatusPanels[0]->text(), QString(" Ready"));
        w.slog("", 1);
        QCOMPARE(w.StatusPanels[1]->text(), QString(" "));
        QCOMPARE(w.StatusBar->toolTip(), QString());
        w.slog("4/9 Mbytes, Remaining time: 0:00:01", 1);
        QCOMPARE(w.StatusBar->toolTip(), QString("4/9 Mbytes, Remaining time: 0:00:01"));

        w.bClear->click();
        QCOMPARE(w.reMessage->toPlainText(), QString());
        w.log("again");
        QCOMPARE(LogLines(w), QStringList({"again"}));

        // On a dark theme the value blue is a light blue that reads there.
        QPalette dark = w.reMessage->palette();
        dark.setColor(QPalette::Base, QColor(30, 30, 30));
        dark.setColor(QPalette::Text, QColor(230, 230, 230));
        w.reMessage->setPalette(dark);
        w.log("   Sampling frequency = [bl]48[/bl] kHz");
        const QColor value = formatAt(1, 24).foreground().color();
        QVERIFY(value.blue() > 200 && value.lightness() > 128);
        QCOMPARE(formatAt(1, 27).foreground().color(), QColor(230, 230, 230));
    }

    // Every text of every page fits its control at the default size, in the fonts this machine
    // has; ctest runs this again at scale factors 1.5 and 2 and in another style.
    void nothingIsClippedAtTheDefaultSize() {
        Window w;
        startUp(w);
        for (int page = 0; page < w.PageControl->count(); ++page) {
            w.PageControl->setCurrentIndex(page);
            QCoreApplication::processEvents();
            const QRect tab = w.PageControl->tabBar()->tabRect(page);
            QVERIFY2(tab.width() >= w.PageControl->fontMetrics().horizontalAdvance(
                                        Shown(w.PageControl->tabText(page))),
                     qPrintable(w.PageControl->tabText(page)));
            for (QWidget* widget : w.findChildren<QWidget*>()) {
                if (!widget->isVisible() || widget->isWindow()) continue;
                const QString name = widget->objectName();
                // Inside its parent: a layout that runs out of room pushes controls out.
                if (!name.isEmpty() && !name.startsWith("qt_"))
                    QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()),
                             qPrintable(name));
                const QFontMetrics metrics = widget->fontMetrics();
                if (auto* label = qobject_cast<QLabel*>(widget);
                    label && !label->text().isEmpty()) {
                    QVERIFY2(label->width() >= metrics.horizontalAdvance(Shown(label->text())),
                             qPrintable(name));
                    QVERIFY2(label->height() >= metrics.height(), qPrintable(name));
                }
                if (auto* check = qobject_cast<QCheckBox*>(widget)) {
                    QStyleOptionButton option;
                    option.initFrom(check);
                    const QRect text =
                        check->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, check);
                    QVERIFY2(text.width() >= metrics.horizontalAdvance(Shown(check->text())),
                             qPrintable(name));
                    QVERIFY2(check->height() >= metrics.height(), qPrintable(name));
                }
                if (auto* button = qobject_cast<QPushButton*>(widget)) {
                    QVERIFY2(
                        button->width() >= metrics.horizontalAdvance(Shown(button->text())) + 8,
                        qPrintable(name));
                    QVERIFY2(button->height() >= metrics.height() + 4, qPrintable(name));
                }
            }
        }
        // The status bar is as high as its text.
        QVERIFY(w.StatusPanels[1]->height() >= w.StatusPanels[1]->fontMetrics().height());
    }

    // Every Alt key is unique on each page: the page's controls, those shown on every page and
    // the page tabs.
    void everyMnemonicIsUniqueOnItsPage() {
        Window w;
        startUp(w);
        const QRegularExpression mnemonic("&([^&])");
        for (int page = 0; page < w.PageControl->count(); ++page) {
            w.PageControl->setCurrentIndex(page);
            QCoreApplication::processEvents();
            QStringList texts;
            for (int tab = 0; tab < w.PageControl->count(); ++tab)
                texts << w.PageControl->tabText(tab);
            for (QWidget* widget : w.findChildren<QWidget*>()) {
                if (!widget->isVisible()) continue;
                if (auto* button = qobject_cast<QAbstractButton*>(widget)) texts << button->text();
                if (auto* label = qobject_cast<QLabel*>(widget); label && label->buddy())
                    texts << label->text();
            }
            QMap<QChar, QString> seen;
            for (const QString& text : texts) {
                const auto match = mnemonic.match(text);
                if (!match.hasMatch()) continue;
                const QChar key = match.captured(1).at(0).toLower();
                QVERIFY2(!seen.contains(key),
                         qPrintable(QString("Alt+%1: \"%2\" and \"%3\" on page %4")
                                        .arg(key)
                                        .arg(seen.value(key), text)
                                        .arg(page)));
                seen.insert(key, text);
            }
            QVERIFY(seen.size() >= 8);
        }
    }

    void longCaptionsAreShortenedInTheMiddle() {
        Window w;
        startUp(w);
        auto* box = qobject_cast<strandis::app::StreamCheckBox*>(w.cbAudio[2]);
        QVERIFY(box != nullptr);
        const QString caption = "DTS.2ch.stream.02.Italiano - commento del regista & produttore";
        box->setCaption(caption);
        w.PageControl->setCurrentIndex(2);
        QCoreApplication::processEvents();
        QVERIFY(box->text().contains(QChar(0x2026)));
        QVERIFY(box->text().startsWith("DTS.2ch"));
        QVERIFY(box->text().endsWith("produttore"));
        QCOMPARE(box->toolTip(), caption);
        QCOMPARE(box->accessibleName(), caption);
        // The output file is named after the whole caption.
        QCOMPARE(QString::fromStdString(w.caption(strandis::BoxKind::Audio, 2)), caption);
        // The boxes grow with the window, and a caption that fits is shown whole, with the
        // page's tool-tip back.
        w.resize(1400, w.height());
        QCoreApplication::processEvents();
        QCOMPARE(Shown(box->text()), caption);
        QCOMPARE(box->toolTip(), QString());
        QCOMPARE(w.cbSub[3]->toolTip(), QString("Check the desired subpicture streams"));

        // The progress panel has the room its text needs beside a long activity.
        w.resize(400, w.height());
        QCoreApplication::processEvents();
        const QString progress = "Remaining time: 0:12:34, 1234/20480 Mbytes";
        w.slog("Demuxing A_VERY_LONG_FEATURE_NAME_FROM_A_DISC_AUTHORING_TOOL_1.EVO", 0);
        w.slog(progress.toStdString(), 1);
        const QLabel* panel = w.StatusPanels[1];
        QVERIFY(panel->width() >= panel->fontMetrics().horizontalAdvance(" " + progress));
        QCOMPARE(panel->text(), " " + progress);
        QVERIFY(w.StatusPanels[0]->text().contains(QChar(0x2026)));
    }

    void keyboardAndScreenReaders() {
        Window w;
        startUp(w);
        const QList<std::pair<QAbstractButton*, QString>> mnemonics{
            {w.bCheck, "Read &EVO"},
            {w.bReadXPL, "Read &XPL"},
            {w.bDemux, "&Demux"},
            {w.bRebuild, "&Rebuild"},
            {w.bCancel, "&Cancel"},
            {w.bClear, "C&lear"},
            {w.cbFastCheck, "&Fast EVO checking"}};
        QSet<QChar> keys;
        for (const auto& [button, text] : mnemonics) {
            QCOMPARE(button->text(), text);
            keys.insert(text[text.indexOf('&') + 1].toLower());
        }
        QCOMPARE(keys.size(), mnemonics.size());
        for (const char* label : {"lVideoExt", "lWorkdir"})
            QVERIFY(w.find<QLabel>(label)->buddy() != nullptr);
        for (QToolButton* browse : {w.bbEVO, w.bbXPL, w.bbWorkdir})
            QVERIFY(!browse->accessibleName().isEmpty());
        // The path fields can be reached, read and typed into.
        for (QLineEdit* path : {w.eEVOfile, w.eXPLfile}) {
            QVERIFY(!path->isReadOnly());
            QVERIFY(path->focusPolicy() & Qt::TabFocus);
        }
        QVERIFY(w.mXPL->isReadOnly());
        QVERIFY(w.mXPL->tabChangesFocus());
        // Alt+D presses Demux once a stream is ticked.
        w.WMDropFiles({file("FEATURE_1.EVO", FourStreams())});
        w.bCheck->click();
        QVERIFY(w.bDemux->isEnabled());
        QTest::keyClick(&w, Qt::Key_D, Qt::AltModifier);
        QTRY_VERIFY(LogLines(w).count("Done.") == 2);
    }

    void tenStartsLeaveTheWindowWhereItWas() {
        {
            Window w;
            startUp(w);
            w.move(120, 90);
            w.resize(640, 480);
            w.close();
        }
        QSettings first(settingsFile(), QSettings::IniFormat);
        const QRect stored(first.value("Left").toInt(), first.value("Top").toInt(),
                           first.value("Width").toInt(), first.value("Height").toInt());
        // At a large scale factor the screen is smaller than the window: it is kept on it.
        if (!QGuiApplication::primaryScreen()->availableGeometry().contains(stored))
            QSKIP("the window is larger than the screen at this scale factor");
        for (int start = 0; start < 10; ++start) {
            Window w;
            startUp(w);
            QCOMPARE(w.frameGeometry(), stored);
            w.close();
        }
        QSettings last(settingsFile(), QSettings::IniFormat);
        QCOMPARE(QRect(last.value("Left").toInt(), last.value("Top").toInt(),
                       last.value("Width").toInt(), last.value("Height").toInt()),
                 stored);

        // A place off every screen comes back on the primary screen.
        last.setValue("Left", 50000);
        last.setValue("Top", -40000);
        last.sync();
        Window w;
        startUp(w);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(screen.contains(w.frameGeometry().topLeft()));
        // On a screen smaller than the window: the screen's size, or as small as its texts allow.
        const QSize bounded = stored.size().boundedTo(screen.size());
        const QSize size = w.frameGeometry().size();
        QCOMPARE(size.boundedTo(bounded), bounded);
        QVERIFY(size.width() <= std::max(bounded.width(), w.minimumSizeHint().width() + 8));
        QVERIFY(size.height() <= std::max(bounded.height(), w.minimumSizeHint().height() + 8));
    }

    // A window closed maximized comes back maximized; one stored larger than the screen (at
    // another scale factor) comes back whole on the screen.
    void theWindowComesBackAsItWasLeft() {
        {
            Window w;
            startUp(w);
            w.showMaximized();
            QTRY_VERIFY(w.isMaximized());
            w.close();
        }
        {
            Window w;
            startUp(w);
            QTest::qWait(2500);  // past every try to place the frame
            QVERIFY(w.isMaximized());
            w.showNormal();
            w.close();
        }
        QSettings stored(settingsFile(), QSettings::IniFormat);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        stored.setValue("WindowState", 0);
        stored.setValue("Left", screen.left() + 10);
        stored.setValue("Top", screen.top() + 10);
        stored.setValue("Width", 2 * screen.width());
        stored.setValue("Height", 2 * screen.height());
        stored.sync();
        Window w;
        startUp(w);
        if (w.minimumSizeHint().width() < screen.width() &&
            w.minimumSizeHint().height() < screen.height()) {
            QTRY_VERIFY(screen.contains(w.frameGeometry()));
        } else {  // a screen smaller than the window can be: its top left corner on it
            QTRY_VERIFY(screen.contains(w.frameGeometry().topLeft()));
        }
    }

    void settingsRoundTrip() {
        QByteArray install;
        {
            Window w;
            startUp(w);
            w.cbFastCheck->setChecked(false);
            w.eVideoExt->setText("");
            w.eWorkdir->setText("/out");
            w.move(40, 30);
            w.resize(500, 420);
            const QRect outer = w.frameGeometry();
            w.close();
            QSettings s(settingsFile(), QSettings::IniFormat);
            QCOMPARE(s.value("FastCheck").toInt(), 0);
            QCOMPARE(s.value("Details").toInt(), 1);
            QCOMPARE(s.value("Width").toInt(), outer.width());
            QCOMPARE(s.value("Top").toInt(), outer.top());
            QCOMPARE(s.value("VideoExt").toString(), QString());
            install = s.value("Install").toByteArray();
            QCOMPARE(install.size(), 8);
            double days = 0;
            std::memcpy(&days, install.constData(), 8);
            QVERIFY(days > 46000 && days < 60000);  // between 2025 and 2064
        }
        {
            Window w;
            startUp(w);
            QVERIFY(!w.cbFastCheck->isChecked());
            QVERIFY(w.cbDetails->isChecked());
            QCOMPARE(w.eVideoExt->text(), QString());
            QCOMPARE(w.eWorkdir->text(), QString("/out"));
            if (QGuiApplication::primaryScreen()->availableGeometry().width() > 520)
                QCOMPARE(w.width(), 500);  // as left, when the screen holds it
            w.showMaximized();
            w.close();
            QSettings s(settingsFile(), QSettings::IniFormat);
            QCOMPARE(s.value("WindowState").toInt(), 2);
            QCOMPARE(s.value("Width").toInt(),
                     500 + w.frameGeometry().width() - w.width());  // the earlier exit's
            QCOMPARE(s.value("Install").toByteArray(), install);
        }
        {
            QSettings s(settingsFile(), QSettings::IniFormat);
            s.setValue("WindowState", 0);
            s.setValue("FastCheck", 5);
            s.setValue("Workdir", QVariant(QStringList{"a", "b"}));  // not a text
            s.setValue("Details", 0);
        }
        {
            Window w;
            QString message;
            AnswerNextBox(QMessageBox::Ok, &message);
            startUp(w);
            QTRY_COMPARE(message, QString("Invalid data type for 'Workdir'"));
            QVERIFY(w.eVideoExt->text().isEmpty());   // read before the failure
            QCOMPARE(w.eWorkdir->text(), QString());  // the failure and the rest: defaults
            QVERIFY(w.cbFastCheck->isChecked());
            QVERIFY(w.cbDetails->isChecked());
        }
        {
            QSettings s(settingsFile(), QSettings::IniFormat);
            s.remove("Workdir");
        }
        Window w;
        startUp(w);
        QVERIFY(w.cbFastCheck->isChecked());  // 5 reads as ticked
        QVERIFY(!w.cbDetails->isChecked());
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
