#include "app/Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
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

#include "app/JpegImage.h"
#include "common/RunError.h"
#include "engine/Markup.h"
#include "engine/RebuildRun.h"
#include "engine/XplRun.h"

namespace strandis::app {

namespace {

constexpr QSize kClientDesign{362, 325};  // above the 21-pixel status bar
constexpr QSize kPageDesign{338, 191};
constexpr int kStatusBarHeight = 21;
constexpr int kBoxTops[8] = {9, 31, 53, 75, 98, 120, 142, 165};

// `family` at 8 points where it is installed, else the desktop's font of that kind.
QFont EightPoint(const char* family, QFontDatabase::SystemFont fallback) {
    QFont font = QFontDatabase::families().contains(family) ? QFont(family)
                                                            : QFontDatabase::systemFont(fallback);
    font.setPointSize(8);
    return font;
}

QFont ControlFont() {
    return EightPoint("Tahoma", QFontDatabase::GeneralFont);
}
QFont MemoFont() {
    return EightPoint("Courier New", QFontDatabase::FixedFont);
}

// A small yellow folder for the browse buttons.
QIcon FolderIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(150, 110, 20));
    painter.setBrush(QColor(235, 190, 70));
    painter.drawRoundedRect(QRectF(1.5, 3.5, 6, 3), 1, 1);
    painter.setBrush(QColor(250, 210, 90));
    painter.drawRoundedRect(QRectF(1.5, 5.5, 13, 8), 1, 1);
    return QIcon(pixmap);
}

// A path box of the top rows: filled by drops and browse dialogs, never typed into.
QLineEdit* PathBox(QLineEdit* box, const char* name, const char* tip) {
    box->setObjectName(name);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    box->setToolTip(tip);
    return box;
}

QToolButton* BrowseButton(QToolButton* button, const char* name) {
    button->setObjectName(name);
    button->setIcon(FolderIcon());
    return button;
}

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
    setFont(ControlFont());
    buildControls();
    buildPages();
    setMinimumSize(kClientDesign.width(), kClientDesign.height() + kStatusBarHeight);
    resize(kClientDesign.width(), kClientDesign.height() + kStatusBarHeight);
    move(0, 0);
    Resetcbs();
}

TfMain::~TfMain() = default;

template <typename T>
T* TfMain::place(Container& container, T* widget, QRect design, unsigned anchors) {
    widget->setParent(container.widget);
    widget->setGeometry(design);
    container.children.push_back({widget, design, anchors});
    return widget;
}

void TfMain::applyAnchors(const Container& container) {
    const int dw = container.widget->width() - container.design.width();
    const int dh = container.widget->height() - container.design.height();
    for (const Placement& p : container.children) {
        QRect r = p.design;
        if (p.anchors & AnchorRight) {
            if (p.anchors & AnchorLeft) {
                r.setWidth(r.width() + dw);
            } else {
                r.moveLeft(r.left() + dw);
            }
        }
        if (p.anchors & AnchorBottom) {
            if (p.anchors & AnchorTop) {
                r.setHeight(r.height() + dh);
            } else {
                r.moveTop(r.top() + dh);
            }
        }
        if (p.widget == imLogo) r.moveLeft(imLogo->x());  // FormResize places the logo across
        p.widget->setGeometry(r);
    }
}

void TfMain::buildControls() {
    auto* central = new QWidget(this);
    central->setObjectName("client");
    setCentralWidget(central);
    Container client{central, kClientDesign, {}};

    eEVOfile =
        PathBox(place(client, new QLineEdit, {8, 8, 249, 21}, AnchorLeft | AnchorTop | AnchorRight),
                "eEVOfile", "Drop here the source EVO file");
    bbEVO = BrowseButton(place(client, new QToolButton, {263, 6, 25, 25}, AnchorTop | AnchorRight),
                         "bbEVO");
    bbEVO->setToolTip("Browse an EVO file");
    bCheck = place(client, new QPushButton("Read EVO"), {294, 7, 60, 25}, AnchorTop | AnchorRight);
    bCheck->setObjectName("bCheck");
    bCheck->setToolTip("Read the source EVO file to detect streams");
    bCheck->setDefault(true);
    bCheck->setEnabled(false);

    eXPLfile = PathBox(place(client, new QLineEdit("VPLST000.XPL"), {8, 40, 249, 21},
                             AnchorLeft | AnchorTop | AnchorRight),
                       "eXPLfile", "Drop here the VPLST000.XPL");
    bbXPL = BrowseButton(place(client, new QToolButton, {263, 38, 25, 25}, AnchorTop | AnchorRight),
                         "bbXPL");
    bbXPL->setToolTip("Browse the HD DVD disc's VPLST000.XPL");
    bReadXPL =
        place(client, new QPushButton("Read XPL"), {294, 38, 60, 25}, AnchorTop | AnchorRight);
    bReadXPL->setObjectName("bReadXPL");
    bReadXPL->setToolTip("Read the XPL file to detect stream infos");
    bReadXPL->setEnabled(false);

    PageControl = place(client, new QTabWidget, {8, 69, 346, 219},
                        AnchorLeft | AnchorTop | AnchorRight | AnchorBottom);
    PageControl->setObjectName("PageControl");
    PageControl->setStyleSheet(
        "QTabBar::tab { padding: 2px 6px; }");  // all six tabs in the designed width

    bDemux = place(client, new QPushButton("Demux"), {8, 294, 60, 25}, AnchorLeft | AnchorBottom);
    bDemux->setObjectName("bDemux");
    QFont bold = bDemux->font();
    bold.setBold(true);
    bDemux->setFont(bold);
    bDemux->setToolTip("Demux the source EVO to streams");
    bDemux->setEnabled(false);
    bRebuild =
        place(client, new QPushButton("Rebuild"), {74, 294, 60, 25}, AnchorLeft | AnchorBottom);
    bRebuild->setObjectName("bRebuild");
    bRebuild->setEnabled(false);

    imLogo = place(client, new QLabel, {153, 292, 125, 31}, AnchorBottom);
    imLogo->setObjectName("imLogo");
    QFile logo(":/strandis/logo.jpg");
    if (logo.open(QIODevice::ReadOnly))
        imLogo->setPixmap(QPixmap::fromImage(DecodeJpeg(logo.readAll())));
    imLogo->setToolTip("HD DVD logo :-)");

    bCancel =
        place(client, new QPushButton("Cancel"), {294, 294, 60, 25}, AnchorRight | AnchorBottom);
    bCancel->setObjectName("bCancel");
    bCancel->setToolTip("You can stop the actual process");
    bCancel->setEnabled(false);

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName("StatusBar");
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setFixedHeight(kStatusBarHeight);
    for (std::size_t k = 0; k < 2; ++k) {
        StatusPanels[k] = new QLabel(StatusBar);
        StatusPanels[k]->setObjectName(QString("StatusPanel%1").arg(k));
        StatusBar->addWidget(StatusPanels[k], k == 1 ? 1 : 0);
    }
    StatusPanels[0]->setText(" Ready");
    StatusPanels[0]->setFixedWidth(40);
    StatusPanels[1]->setText(" Select or drop an EVO file to demux");
    StatusBar->setToolTip(" Select or drop an EVO file to demux");
    setStatusBar(StatusBar);

    central->installEventFilter(this);
    containers_.push_back(std::move(client));

    connect(bCheck, &QPushButton::clicked, this, &TfMain::bCheckClick);
    connect(bCancel, &QPushButton::clicked, this, &TfMain::bCancelClick);
    connect(bDemux, &QPushButton::clicked, this, &TfMain::bDemuxClick);
    connect(bRebuild, &QPushButton::clicked, this, &TfMain::bRebuildClick);
    connect(bReadXPL, &QPushButton::clicked, this, &TfMain::bReadXPLClick);
    connect(bbEVO, &QToolButton::clicked, this, &TfMain::bbEVOClick);
    connect(bbXPL, &QToolButton::clicked, this, &TfMain::bbXPLClick);
    // Enter anywhere in the window presses "Read EVO".
    for (QKeySequence key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (bCheck->isEnabled()) bCheck->click();
        });
    }
}

void TfMain::buildPages() {
    tsStatus = new QWidget;
    tsStatus->setObjectName("tsStatus");
    Container status{tsStatus, kPageDesign, {}};
    bClear = place(status, new QPushButton("Clear"), {299, 3, 36, 18}, AnchorTop | AnchorRight);
    bClear->setObjectName("bClear");
    reMessage = place(status, new QTextEdit, {0, 27, 336, 161},
                      AnchorLeft | AnchorTop | AnchorRight | AnchorBottom);
    reMessage->setObjectName("reMessage");
    reMessage->setReadOnly(true);
    reMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    reMessage->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    reMessage->setLineWrapMode(QTextEdit::WidgetWidth);
    tsStatus->installEventFilter(this);
    containers_.push_back(std::move(status));
    PageControl->addTab(tsStatus, "Status");
    connect(bClear, &QPushButton::clicked, this, &TfMain::bClearClick);

    const auto boxPage = [this](const char* name, const char* caption, const QString& tip) {
        auto* page = new QWidget;
        page->setObjectName(name);
        page->setToolTip(tip);
        PageControl->addTab(page, caption);
        return page;
    };
    const auto makeBox = [this](QWidget* page, const QString& name, int column, int row) {
        auto* boxWidget = new QCheckBox(page);
        boxWidget->setObjectName(name);
        boxWidget->setGeometry(column == 0 ? 9 : 165, kBoxTops[row], 140, 17);
        connect(boxWidget, &QCheckBox::toggled, this, &TfMain::cbVideoClick);
        return boxWidget;
    };
    tsVideo = boxPage("tsVideo", "Video", "Check the desired video stream");
    for (int k = 0; k < 8; ++k)
        cbVideo[k] = makeBox(tsVideo, QString("cbVideo%1").arg(k), 0, k);
    tsAudio = boxPage("tsAudio", "Audio", "Check the desired audio streams");
    for (int k = 0; k < 16; ++k)
        cbAudio[k] = makeBox(tsAudio, QString("cbAudio%1").arg(k, 2, 10, QChar('0')), k / 8, k % 8);
    tsSubpicture = boxPage("tsSubpicture", "Subpicture", "Check the desired subpicture streams");
    for (int k = 0; k < 16; ++k) {
        cbSub[k] =
            makeBox(tsSubpicture, QString("cbSub%1").arg(k, 2, 10, QChar('0')), k / 8, k % 8);
        if (k > 0) cbSub[k]->setToolTip("Check the desired subpicture streams");
    }

    tsXPL = new QWidget;
    tsXPL->setObjectName("tsXPL");
    auto* xplLayout = new QHBoxLayout(tsXPL);
    xplLayout->setContentsMargins(0, 0, 0, 0);
    splXPL = new QSplitter(Qt::Horizontal, tsXPL);
    splXPL->setObjectName("splXPL");
    splXPL->setChildrenCollapsible(false);
    tvXPL = new QTreeWidget(splXPL);
    tvXPL->setObjectName("tvXPL");
    tvXPL->setHeaderHidden(true);
    tvXPL->setIndentation(19);
    tvXPL->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tvXPL->setToolTip("Infos from your XPL file");
    tvXPL->setMinimumWidth(50);
    for (const char* node : {"Video", "Audio", "Subpicture", "Chapter"})
        tvXPL->addTopLevelItem(new QTreeWidgetItem({node}));
    mXPL = new QPlainTextEdit(splXPL);
    mXPL->setObjectName("mXPL");
    mXPL->setFont(MemoFont());
    mXPL->setLineWrapMode(QPlainTextEdit::NoWrap);
    mXPL->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mXPL->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mXPL->setToolTip("This is your XPL file (part of it)");
    mXPL->setMinimumWidth(50);
    splXPL->setSizes({96, kPageDesign.width() - 96});
    splXPL->setStretchFactor(1, 1);
    xplLayout->addWidget(splXPL);
    PageControl->addTab(tsXPL, "XPL");

    tsOption = new QWidget;
    tsOption->setObjectName("tsOption");
    PageControl->addTab(tsOption, "Options");
    gbFile = new QGroupBox(tsOption);
    gbFile->setObjectName("gbFile");
    gbFile->setGeometry(3, 0, 320, 78);
    const auto label = [this](const char* name, const char* text, QPoint at) {
        auto* l = new QLabel(text, gbFile);
        l->setObjectName(name);
        l->move(at);
        l->adjustSize();
        return l;
    };
    const auto edit = [this](const char* name, const char* text, QRect at) {
        auto* e = new QLineEdit(text, gbFile);
        e->setObjectName(name);
        e->setGeometry(at);
        return e;
    };
    lVideoExt = label("lVideoExt", "Extensions (video, audio, subtitle)", {13, 19});
    eVideoExt = edit("eVideoExt", "mpv", {182, 16, 38, 21});
    eAudioExt = edit("eAudioExt", "mpa", {226, 16, 38, 21});
    eSubExt = edit("eSubExt", "sup", {270, 16, 38, 21});
    for (QLineEdit* e : {eVideoExt, eAudioExt, eSubExt})
        e->setMaxLength(5);
    eSubExt->setToolTip("This is real .sup format, don't change!");
    lWorkdir = label("lWorkdir", "Output folder", {12, 48});
    eWorkdir = edit("eWorkdir", "", {84, 45, 193, 21});
    eWorkdir->setToolTip("Destination directory for the demuxed streams");
    bbWorkdir = BrowseButton(new QToolButton(gbFile), "bbWorkdir");
    bbWorkdir->setGeometry(283, 43, 25, 25);
    connect(bbWorkdir, &QToolButton::clicked, this, &TfMain::bbWorkdirClick);

    const auto option = [this](const char* name, const char* text, int top, const char* tip) {
        auto* c = new QCheckBox(text, tsOption);
        c->setObjectName(name);
        c->move(3, top);
        c->adjustSize();
        c->setChecked(true);
        c->setToolTip(tip);
        return c;
    };
    cbContinue =
        option("cbContinue", "Continue with second  EVO", 84,
               "Demux continues with FEATURE_2.EVO (if it exists) after finishing FEATURE_1.EVO");
    cbFastCheck = option("cbFastCheck", "Fast EVO checking", 107,
                         "Read EVO checks only the first ~300 MB of the file");
    cbCountFr = option("cbCountFr", "Count frames", 130,
                       "Works only if the process hasn't cancelled by Fast EVO checking");
    cbDetails = option("cbDetails", "Detailed info", 153, "Detailed information about streams");
}

bool TfMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        for (const Container& container : containers_) {
            if (container.widget == watched) applyAnchors(container);
        }
    }
    return QMainWindow::eventFilter(watched, event);
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
    regular.setForeground(palette().color(QPalette::WindowText));
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
                format.setForeground(QColor(0, 0, 255));
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
    QLabel* label = StatusPanels[static_cast<std::size_t>(panel)];
    label->setText(" " + value);
    const int width = label->fontMetrics().horizontalAdvance(label->text() + "a");
    if (panel == 0) {
        label->setFixedWidth(width);
    } else {
        label->setMinimumWidth(std::min(width, 50));
        StatusBar->setToolTip(value);
    }
    StatusBar->repaint();
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
        default:
            return cbContinue->isChecked();
    }
}

QCheckBox* TfMain::box(BoxKind kind, int slot) const {
    switch (kind) {
        case BoxKind::Video:
            return slot >= 0 && slot < 8 ? cbVideo[static_cast<std::size_t>(slot)] : nullptr;
        case BoxKind::Audio:
            return slot >= 0 && slot < 16 ? cbAudio[static_cast<std::size_t>(slot)] : nullptr;
        default:
            return slot >= 0 && slot < 16 ? cbSub[static_cast<std::size_t>(slot)] : nullptr;
    }
}

bool TfMain::ticked(BoxKind kind, int slot) const {
    const QCheckBox* b = box(kind, slot);
    return b != nullptr && b->isChecked();
}

std::string TfMain::caption(BoxKind kind, int slot) const {
    const QCheckBox* b = box(kind, slot);
    return b != nullptr ? b->text().toStdString() : std::string();
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

char TfMain::decimalSeparator() const {
    const QString point = QLocale().decimalPoint();
    return point.size() == 1 && point[0].unicode() < 128 ? static_cast<char>(point[0].unicode())
                                                         : '.';
}

// Only one run at a time: while one goes, nothing else can start a run or change the source.
void TfMain::beginRun() {
    running_ = true;
    for (QWidget* control : std::initializer_list<QWidget*>{bCheck, bReadXPL, bDemux, bRebuild,
                                                            bbEVO, bbXPL, bbWorkdir}) {
        control->setEnabled(false);
    }
}

void TfMain::endRun() {
    running_ = false;
    bCancel->setEnabled(false);
    bbEVO->setEnabled(true);
    bbXPL->setEnabled(true);
    bbWorkdir->setEnabled(true);
    bCheck->setEnabled(!eEVOfile->text().isEmpty());
    bReadXPL->setEnabled(!XPLname.isEmpty());
    cbVideoClick();
    if (closePending_) QTimer::singleShot(0, this, &QWidget::close);
}

void TfMain::runFailed(const QString& message) {
    log(message.toStdString());
    // Not "Opening" or the last progress line: nothing is going on any more.
    slog("Ready", 0);
    slog("", 1);
    QMessageBox::critical(this, windowTitle(), message);
}

void TfMain::applyBoxes(const StreamBoxes& boxes) {
    const auto apply = [](QCheckBox* widget, const StreamBox& state) {
        widget->setEnabled(state.enabled);
        widget->setText(QString::fromStdString(state.caption));
        widget->setChecked(state.ticked);
    };
    for (std::size_t k = 0; k < 2; ++k)
        apply(cbVideo[k], boxes.video[k]);
    for (std::size_t k = 0; k < 16; ++k) {
        apply(cbAudio[k], boxes.audio[k]);
        apply(cbSub[k], boxes.sub[k]);
    }
}

void TfMain::bCheckClick() {
    if (running_ || eEVOfile->text().isEmpty()) return;
    beginRun();
    Resetcbs();
    PageControl->setCurrentIndex(0);
    try {
        const DetectionResult result = RunDetection(engine_, sourcePath_);
        applyBoxes(result.boxes);
    } catch (const std::exception& error) {  // RunError, or no memory or thread left
        runFailed(QString::fromStdString(error.what()));
    }
    endRun();
}

void TfMain::writingRun(RunOutcome (*run)(Engine&, const std::string&)) {
    if (running_) return;
    beginRun();
    PageControl->setCurrentIndex(0);
    bool done = false;
    try {
        run(engine_, sourcePath_);
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
    writingRun(&RunDemux);
}

void TfMain::bRebuildClick() {
    writingRun(&RunRebuild);
}

void TfMain::bReadXPLClick() {
    if (running_ || XPLname.isEmpty()) return;
    beginRun();
    Resetcbs();
    PageControl->setCurrentIndex(4);
    mXPL->clear();
    mXPL->setVisible(false);  // no repaint per line while it fills
    try {
        const XplOutcome outcome = RunXpl(engine_, eXPLfile->text().toStdString(), xplLabels_);
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
            for (const playlist::Track& track : tree.tracks) {
                const QString label = QString::fromStdString(track.label);
                QCheckBox* target = nullptr;
                if (track.kind == playlist::TrackKind::Video) {
                    target =
                        track.slot == 0 ? cbVideo[0] : nullptr;  // other video tracks change no box
                } else {
                    target = box(
                        track.kind == playlist::TrackKind::Audio ? BoxKind::Audio : BoxKind::Sub,
                        track.slot);
                    if (target != nullptr) target->setToolTip(label);
                }
                if (target == nullptr) continue;
                target->setEnabled(true);
                target->setChecked(true);
                target->setText(label);
            }
        }
    } catch (const std::exception& error) {  // RunError, or no memory or thread left
        runFailed(QString::fromStdString(error.what()));
    }
    mXPL->setVisible(true);
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
    for (QCheckBox* b : cbVideo) {
        const QSignalBlocker quiet(b);
        b->setEnabled(false), b->setText("No video stream"), b->setChecked(false);
    }
    for (QCheckBox* b : cbAudio) {
        const QSignalBlocker quiet(b);
        b->setEnabled(false), b->setText("No audio stream"), b->setChecked(false);
    }
    for (QCheckBox* b : cbSub) {
        const QSignalBlocker quiet(b);
        b->setEnabled(false), b->setText("No subpicture"), b->setChecked(false);
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

void TfMain::FormResize() {
    const int width = frameGeometry().width();
    imLogo->move(width > 432 ? width / 2 - 63 : 153, imLogo->y());
}

}  // namespace strandis::app
