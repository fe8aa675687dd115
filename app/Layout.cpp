// The window's controls: one table says what each is, where it goes and how it starts; Qt
// layouts give every control the room its text needs in the font the desktop uses.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/JpegImage.h"
#include "app/Main.h"
#include "app/StreamCheckBox.h"
#include "matroska/Mkv.h"

namespace strandis::app {

namespace {

enum class Kind { PathField, Field, Browse, Button, Label, Option, Log };

// Where a control goes: the grid of the window's top rows, the row of buttons below the pages, the
// grid of the Status page, the rows of the Options page's group box, the Options page's list.
enum class Area { Top, Buttons, Status, Files, Options };

enum Flag : unsigned {
    On = 1,         // enabled (buttons) or ticked (options) at start
    Bold = 2,       // the main action
    Default = 4,    // pressed by Enter
    ShortText = 8,  // a field of a few characters
    Grows = 16,     // takes the room the window gains
    Pushes = 32,    // what follows it in its row keeps to the right
};

struct Control {
    const char* name;
    Kind kind;
    Area area;
    int row;
    int column;
    int columnSpan;
    const char* text;  // for the picture-only browse buttons: the name a screen reader reads
    const char* tip;
    unsigned flags;
};

// Every control that is not a stream box, in the order Tab visits them.
constexpr Control kControls[] = {
    {"eEVOfile", Kind::PathField, Area::Top, 0, 0, 1, "", "Drop here the source EVO file",
     On | Grows},
    {"bbEVO", Kind::Browse, Area::Top, 0, 1, 1, "Browse the source file", "Browse an EVO file", On},
    {"bCheck", Kind::Button, Area::Top, 0, 2, 1, "Read &EVO",
     "Read the source EVO file to detect streams", Default},
    {"eXPLfile", Kind::PathField, Area::Top, 1, 0, 1, "VPLST000.XPL", "Drop here the VPLST000.XPL",
     On | Grows},
    {"bbXPL", Kind::Browse, Area::Top, 1, 1, 1, "Browse the playlist",
     "Browse the HD DVD disc's VPLST000.XPL", On},
    {"bReadXPL", Kind::Button, Area::Top, 1, 2, 1, "Read &XPL",
     "Read the XPL file to detect stream infos", 0},
    {"bDemux", Kind::Button, Area::Buttons, 0, 0, 1, "&Demux", "Demux the source EVO to streams",
     Bold},
    {"bRebuild", Kind::Button, Area::Buttons, 0, 1, 1, "&Rebuild", "", 0},
    {"bCancel", Kind::Button, Area::Buttons, 0, 3, 1, "&Cancel", "You can stop the actual process",
     0},
    {"bClear", Kind::Button, Area::Status, 0, 1, 1, "C&lear", "", On},
    {"reMessage", Kind::Log, Area::Status, 1, 0, 2, "", "", On | Grows},
    {"lVideoExt", Kind::Label, Area::Files, 0, 0, 1, "Ex&tensions (video, audio, subtitle)", "",
     On | Pushes},
    {"eVideoExt", Kind::Field, Area::Files, 0, 1, 1, "auto",
     "auto (or empty): each file gets its codec's usual extension (.m2v, .vc1, .h264)",
     On | ShortText},
    {"eAudioExt", Kind::Field, Area::Files, 0, 2, 1, "auto",
     "auto (or empty): each file gets its codec's usual extension (.ac3, .eac3, .dts, .thd, "
     ".mlp, .mp2, .pcm; .wav with LPCM as WAV)",
     On | ShortText},
    {"eSubExt", Kind::Field, Area::Files, 0, 3, 1, "auto",
     "auto (or empty): .sup, the extension of \"SP\" records and of PGS alike", On | ShortText},
    {"lWorkdir", Kind::Label, Area::Files, 1, 0, 1, "O&utput folder", "", On},
    {"eWorkdir", Kind::Field, Area::Files, 1, 1, 1, "",
     "Destination directory for the demuxed streams", On | Grows},
    {"bbWorkdir", Kind::Browse, Area::Files, 1, 2, 1, "Browse the output folder", "", On},
    {"cbContinue", Kind::Option, Area::Options, 1, 0, 1, "Co&ntinue with second  EVO",
     "Demux continues with FEATURE_2.EVO (if it exists) after finishing FEATURE_1.EVO", On},
    {"cbFastCheck", Kind::Option, Area::Options, 2, 0, 1, "&Fast EVO checking",
     "Read EVO checks only the first ~300 MB of the file", On},
    {"cbCountFr", Kind::Option, Area::Options, 3, 0, 1, "Count fra&mes",
     "Works only if the process hasn't cancelled by Fast EVO checking", On},
    {"cbDetails", Kind::Option, Area::Options, 4, 0, 1, "Detailed &info",
     "Detailed information about streams", On},
    {"cbLpcmWav", Kind::Option, Area::Options, 5, 0, 1, "LPCM as &WAV",
     "Demux writes LPCM audio as WAV files, which players and muxers read", 0},
    {"cbSubPgs", Kind::Option, Area::Options, 6, 0, 1, "Subpictures as P&GS",
     "Demux writes DVD and HD DVD subpictures as PGS (.sup) files, which players and muxers "
     "read",
     0},
    {"cbMkv", Kind::Option, Area::Options, 7, 0, 1, "Demux into a Matroska fi&le (mkvmerge)",
     "Demux ends with one Matroska file of the ticked streams, named by the playlist read", 0},
    {"cbKeepWork", Kind::Option, Area::Options, 8, 0, 1, "&Keep the Matroska step's streams",
     "The streams demultiplexed for the Matroska file stay in a hidden folder beside it; "
     "otherwise they are removed, also when the step fails",
     0},
};

// The labels' buddies: the field a label's mnemonic moves to.
constexpr std::pair<const char*, const char*> kBuddies[] = {
    {"lVideoExt", "eVideoExt"},
    {"lWorkdir", "eWorkdir"},
};

struct BoxPage {
    const char* name;
    const char* caption;
    const char* tip;
    const char* boxPrefix;
    int boxes;
    int digits;
};

constexpr BoxPage kBoxPages[] = {
    {"tsVideo", "&Video", "Check the desired video stream", "cbVideo", 8, 1},
    {"tsAudio", "&Audio", "Check the desired audio streams", "cbAudio", 16, 2},
    {"tsSubpicture", "Su&bpicture", "Check the desired subpicture streams", "cbSub", 16, 2},
};

constexpr int kBoxRows = 8;
constexpr QSize kClientDesign{362, 325};  // above the status bar
constexpr int kStatusBarHeight = 21;
constexpr int kMargin = 8;
constexpr int kGap = 6;
constexpr int kButtonWidth = 60;
constexpr QSize kLogoSize{125, 31};

// `family` at 8 points where it is installed, else the desktop's font of that kind.
QFont EightPoint(const char* family, QFontDatabase::SystemFont fallback) {
    QFont font = QFontDatabase::families().contains(family) ? QFont(family)
                                                            : QFontDatabase::systemFont(fallback);
    font.setPointSize(8);
    return font;
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

// Tabs with narrower side room than most styles give, so that the six pages' tabs fit the
// designed width.
class CompactTabs : public QProxyStyle {
public:
    explicit CompactTabs(QStyle* base) : QProxyStyle(base) {}
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_TabBarTabHSpace) return 12;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// The width a button's text and frame need. Styles ask for more (80 pixels at least), which
// the designed window has no room for; the text is what must not be cut.
int ButtonNeeds(const QPushButton* button) {
    const QStyle* style = button->style();
    return button->fontMetrics().size(Qt::TextShowMnemonic, button->text()).width() +
           style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
           2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button) + 4;
}

// A push button as wide as the design wants, or wider when its text needs it.
void SizeButton(QPushButton* button) {
    button->setFixedWidth(std::max(kButtonWidth, ButtonNeeds(button)));
}

QWidget* MakeControl(const Control& c) {
    QWidget* widget = nullptr;
    switch (c.kind) {
        case Kind::PathField: {
            // Filled by drops and browse dialogs, or typed and pasted into: the paths derived
            // from it follow when the typing ends.
            auto* field = new QLineEdit(c.text);
            widget = field;
            break;
        }
        case Kind::Field: {
            auto* field = new QLineEdit(c.text);
            if (c.flags & ShortText) {
                field->setMaxLength(5);
                field->setFixedWidth(
                    std::max(38, field->fontMetrics().horizontalAdvance("mpeg") + 10));
            }
            widget = field;
            break;
        }
        case Kind::Browse: {
            auto* button = new QToolButton;
            button->setIcon(FolderIcon());
            button->setAccessibleName(c.text);
            widget = button;
            break;
        }
        case Kind::Button: {
            auto* button = new QPushButton(c.text);
            if (c.flags & Bold) {
                QFont bold = button->font();
                bold.setBold(true);
                button->setFont(bold);
            }
            button->setDefault((c.flags & Default) != 0);
            widget = button;
            break;
        }
        case Kind::Label:
            widget = new QLabel(c.text);
            break;
        case Kind::Option: {
            auto* option = new QCheckBox(c.text);
            option->setChecked((c.flags & On) != 0);
            widget = option;
            break;
        }
        case Kind::Log: {
            auto* log = new QTextEdit;
            log->setReadOnly(true);
            log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            log->setLineWrapMode(QTextEdit::WidgetWidth);
            widget = log;
            break;
        }
    }
    widget->setObjectName(c.name);
    if (*c.tip != '\0') widget->setToolTip(c.tip);
    if (c.kind != Kind::Option) widget->setEnabled((c.flags & On) != 0);
    return widget;
}

QFont ControlFont() {
    return EightPoint("Tahoma", QFontDatabase::GeneralFont);
}

QFont MemoFont() {
    return EightPoint("Courier New", QFontDatabase::FixedFont);
}

}  // namespace

// ---- The stream boxes ----

StreamCheckBox::StreamCheckBox(QWidget* parent) : QCheckBox(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void StreamCheckBox::setCaption(const QString& caption) {
    caption_ = caption;
    setAccessibleName(caption);
    fit();
}

void StreamCheckBox::setPlainTip(const QString& tip) {
    plainTip_ = tip;
    fit();
}

// As high as a check box with text, and narrow: a long caption is shortened, not made room for.
QSize StreamCheckBox::sizeHint() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    const QSize text = fontMetrics().size(Qt::TextSingleLine, kNoSubpicture);
    return style()->sizeFromContents(QStyle::CT_CheckBox, &option, text, this);
}

QSize StreamCheckBox::minimumSizeHint() const {
    return sizeHint();
}

void StreamCheckBox::resizeEvent(QResizeEvent* event) {
    QCheckBox::resizeEvent(event);
    fit();
}

void StreamCheckBox::changeEvent(QEvent* event) {
    QCheckBox::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) fit();
}

void StreamCheckBox::fit() {
    QStyleOptionButton option;
    initStyleOption(&option);
    const int textRoom =
        width() - style()->subElementRect(QStyle::SE_CheckBoxContents, &option, this).left() - 2;
    const QString shown = fontMetrics().elidedText(caption_, Qt::ElideMiddle, textRoom);
    // '&' in a file name is text, not a mnemonic.
    QString escaped = shown;
    escaped.replace('&', "&&");
    if (text() != escaped) QCheckBox::setText(escaped);
    setToolTip(shown == caption_ ? plainTip_ : caption_);
}

// ---- Building the window ----

template <typename T>
T* TfMain::control(const char* name) const {
    T* found = findChild<T*>(name);
    Q_ASSERT_X(found != nullptr, "TfMain::control", name);
    return found;
}

void TfMain::buildControls() {
    setFont(ControlFont());  // before the controls, which take it on
    auto* central = new QWidget(this);
    central->setObjectName("client");
    setCentralWidget(central);
    auto* client = new QGridLayout(central);
    client->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    client->setHorizontalSpacing(kGap);
    client->setVerticalSpacing(kGap + 2);
    client->setColumnStretch(0, 1);

    PageControl = new QTabWidget;
    PageControl->setObjectName("PageControl");
    PageControl->tabBar()->setUsesScrollButtons(false);
    auto* tabStyle = new CompactTabs(QStyleFactory::create(QApplication::style()->name()));
    tabStyle->setParent(PageControl);
    PageControl->tabBar()->setStyle(tabStyle);
    client->addWidget(PageControl, 2, 0, 1, 3);

    buttonRow_ = new QWidget;
    buttonRow_->setObjectName("buttonRow");
    auto* buttons = new QHBoxLayout(buttonRow_);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(kGap);
    client->addWidget(buttonRow_, 3, 0, 1, 3);
    imLogo = new QLabel(buttonRow_);  // placed by placeLogo, beside the layout
    imLogo->setObjectName("imLogo");
    QFile logo(":/strandis/logo.jpg");
    if (logo.open(QIODevice::ReadOnly))
        imLogo->setPixmap(QPixmap::fromImage(DecodeJpeg(logo.readAll())));
    imLogo->setFixedSize(kLogoSize);
    imLogo->setToolTip("HD DVD logo :-)");
    buttonRow_->setMinimumHeight(kLogoSize.height());
    buttonRow_->installEventFilter(this);

    buildPages();

    // The areas' layouts, filled from the table.
    auto* status = new QGridLayout(tsStatus);
    status->setContentsMargins(0, 3, 0, 0);
    status->setColumnStretch(0, 1);
    gbFile = new QGroupBox(tsOption);
    gbFile->setObjectName("gbFile");
    auto* files = new QVBoxLayout(gbFile);
    files->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    files->setSpacing(kGap);
    std::array<QHBoxLayout*, 2> fileRows{new QHBoxLayout, new QHBoxLayout};
    for (QHBoxLayout* row : fileRows) {
        row->setSpacing(kGap);
        files->addLayout(row);
    }
    auto* options = new QVBoxLayout(tsOption);
    options->setContentsMargins(3, 0, 3, 0);
    options->setSpacing(kGap);
    options->addWidget(gbFile);
    int buttonColumn = 0;
    for (const Control& c : kControls) {
        QWidget* widget = MakeControl(c);
        switch (c.area) {
            case Area::Top:
                client->addWidget(widget, c.row, c.column, 1, c.columnSpan);
                break;
            case Area::Buttons:
                // Demux and Rebuild at the left, the logo's room, Cancel at the right.
                for (; buttonColumn < c.column; ++buttonColumn)
                    buttons->addSpacing(kLogoSize.width() + 2 * kGap), buttons->addStretch(1);
                buttons->addWidget(widget);
                ++buttonColumn;
                break;
            case Area::Status:
                status->addWidget(widget, c.row, c.column, 1, c.columnSpan);
                break;
            case Area::Files:
                fileRows[static_cast<std::size_t>(c.row)]->addWidget(widget,
                                                                     c.flags & Grows ? 1 : 0);
                if (c.flags & Pushes) fileRows[static_cast<std::size_t>(c.row)]->addStretch(1);
                break;
            case Area::Options:
                options->addWidget(widget);
                break;
        }
        if (auto* button = qobject_cast<QPushButton*>(widget)) SizeButton(button);
        if (!(c.flags & Grows) && c.kind != Kind::Log)
            widget->setSizePolicy(QSizePolicy::Fixed, widget->sizePolicy().verticalPolicy());
    }
    options->addStretch(1);
    for (const auto& [label, buddy] : kBuddies)
        control<QLabel>(label)->setBuddy(control<QWidget>(buddy));

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName("StatusBar");
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setMinimumHeight(kStatusBarHeight);
    for (std::size_t k = 0; k < 2; ++k) {
        StatusPanels[k] = new QLabel(StatusBar);
        StatusPanels[k]->setObjectName(QString("StatusPanel%1").arg(k));
        StatusBar->addWidget(StatusPanels[k], k == 1 ? 1 : 0);
    }
    // The second panel takes what the first leaves; a text longer than that is cut at a
    // character's end and shown whole as the status bar's tool-tip.
    StatusPanels[1]->setMinimumWidth(1);
    StatusPanels[1]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // The progress of a run, its step named in the bar; shown while a run goes.
    ProgressBar = new QProgressBar(StatusBar);
    ProgressBar->setObjectName("ProgressBar");
    ProgressBar->setRange(0, 1000);
    ProgressBar->setMaximumHeight(kStatusBarHeight - 4);
    ProgressBar->setMinimumWidth(ProgressBar->fontMetrics().horizontalAdvance("Rebuilding 100 %") +
                                 24);
    ProgressBar->hide();
    StatusBar->addPermanentWidget(ProgressBar);
    setStatusBar(StatusBar);
    StatusBar->setToolTip(statusTexts_[1].mid(1));
    fitStatus();

    bindControls();
    // Tab goes through the top rows, the pages, then the buttons below.
    setTabOrder(bReadXPL, PageControl);
    setTabOrder(PageControl, bDemux);

    const QSize needed = minimumSizeHint();
    resize(std::max(kClientDesign.width(), needed.width()),
           std::max(kClientDesign.height() + kStatusBarHeight, needed.height()));

    connect(bCheck, &QPushButton::clicked, this, &TfMain::bCheckClick);
    connect(bCancel, &QPushButton::clicked, this, &TfMain::bCancelClick);
    connect(bDemux, &QPushButton::clicked, this, &TfMain::bDemuxClick);
    connect(bRebuild, &QPushButton::clicked, this, &TfMain::bRebuildClick);
    connect(bReadXPL, &QPushButton::clicked, this, &TfMain::bReadXPLClick);
    connect(bbEVO, &QToolButton::clicked, this, &TfMain::bbEVOClick);
    connect(bbXPL, &QToolButton::clicked, this, &TfMain::bbXPLClick);
    connect(bbWorkdir, &QToolButton::clicked, this, &TfMain::bbWorkdirClick);
    connect(bClear, &QPushButton::clicked, this, &TfMain::bClearClick);
    for (QLineEdit* field : {eEVOfile, eXPLfile})
        connect(field, &QLineEdit::editingFinished, this, [this, field] { pathTyped(field); });
    // Enter presses "Read EVO", except in the fields typed into on the Options page, where it
    // only ends the typing.
    for (QKeySequence key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, this, [this] {
            QWidget* focus = QApplication::focusWidget();
            if (focus != nullptr && focus->parentWidget() == gbFile) return;
            // In a path field Enter first takes the path typed; in the playlist's, only that.
            if (focus == eEVOfile || focus == eXPLfile) pathTyped(static_cast<QLineEdit*>(focus));
            if (focus == eXPLfile) return;
            if (bCheck->isEnabled()) bCheck->click();
        });
    }
}

void TfMain::buildPages() {
    tsStatus = new QWidget;
    tsStatus->setObjectName("tsStatus");
    PageControl->addTab(tsStatus, "&Status");

    for (const BoxPage& p : kBoxPages) {
        auto* page = new QWidget;
        page->setObjectName(p.name);
        page->setToolTip(p.tip);
        auto* grid = new QGridLayout(page);
        grid->setContentsMargins(9, 6, 9, 6);
        grid->setHorizontalSpacing(16);
        grid->setColumnStretch(0, 1);
        grid->setColumnStretch(1, 1);
        for (int k = 0; k < p.boxes; ++k) {
            auto* box = new StreamCheckBox;
            box->setObjectName(QString("%1%2").arg(p.boxPrefix).arg(k, p.digits, 10, QChar('0')));
            grid->addWidget(box, k % kBoxRows, k / kBoxRows);
            connect(box, &QCheckBox::toggled, this, &TfMain::cbVideoClick);
        }
        grid->setRowStretch(kBoxRows, 1);
        PageControl->addTab(page, p.caption);
    }

    tsXPL = new QWidget;
    tsXPL->setObjectName("tsXPL");
    auto* xplLayout = new QVBoxLayout(tsXPL);
    xplLayout->setContentsMargins(0, 0, 0, 0);
    // A DVD's title chooser, shown once "Read XPL" has read the disc's IFO files.
    auto* titleRow = new QWidget(tsXPL);
    auto* titleLayout = new QHBoxLayout(titleRow);
    titleLayout->setContentsMargins(4, 4, 4, 0);
    auto* titleLabel = new QLabel("&Title:", titleRow);
    cbTitle = new QComboBox(titleRow);
    cbTitle->setObjectName("cbTitle");
    cbTitle->setToolTip("The DVD title that Read EVO, Demux and Rebuild read");
    titleLabel->setBuddy(cbTitle);
    titleLayout->addWidget(titleLabel);
    titleLayout->addWidget(cbTitle, 1);
    angleRow_ = new QWidget(titleRow);
    auto* angleLayout = new QHBoxLayout(angleRow_);
    angleLayout->setContentsMargins(0, 0, 0, 0);
    auto* angleLabel = new QLabel("A&ngle:", angleRow_);
    cbAngle = new QComboBox(angleRow_);
    cbAngle->setObjectName("cbAngle");
    cbAngle->setToolTip("The camera angle of a multi-angle title that the runs read");
    angleLabel->setBuddy(cbAngle);
    angleLayout->addWidget(angleLabel);
    angleLayout->addWidget(cbAngle);
    angleRow_->setVisible(false);
    titleLayout->addWidget(angleRow_);
    titleRow->setVisible(false);
    xplLayout->addWidget(titleRow);
    connect(cbTitle, &QComboBox::activated, this, &TfMain::chooseTitle);
    connect(cbAngle, &QComboBox::activated, this, &TfMain::chooseAngle);
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
    mXPL->setReadOnly(true);
    mXPL->setTabChangesFocus(true);
    mXPL->setLineWrapMode(QPlainTextEdit::NoWrap);
    mXPL->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mXPL->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mXPL->setToolTip("This is your XPL file (part of it)");
    mXPL->setMinimumWidth(50);
    splXPL->setSizes({96, 242});
    splXPL->setStretchFactor(1, 1);
    xplLayout->addWidget(splXPL);
    PageControl->addTab(tsXPL, "X&PL");

    tsOption = new QWidget;
    tsOption->setObjectName("tsOption");
    PageControl->addTab(tsOption, "&Options");
}

void TfMain::bindControls() {
    eEVOfile = control<QLineEdit>("eEVOfile");
    bbEVO = control<QToolButton>("bbEVO");
    bCheck = control<QPushButton>("bCheck");
    eXPLfile = control<QLineEdit>("eXPLfile");
    bbXPL = control<QToolButton>("bbXPL");
    bReadXPL = control<QPushButton>("bReadXPL");
    bDemux = control<QPushButton>("bDemux");
    bRebuild = control<QPushButton>("bRebuild");
    bCancel = control<QPushButton>("bCancel");
    bClear = control<QPushButton>("bClear");
    reMessage = control<QTextEdit>("reMessage");
    tsVideo = control<QWidget>("tsVideo");
    tsAudio = control<QWidget>("tsAudio");
    tsSubpicture = control<QWidget>("tsSubpicture");
    for (std::size_t k = 0; k < cbVideo.size(); ++k)
        cbVideo[k] = control<StreamCheckBox>(qPrintable(QString("cbVideo%1").arg(k)));
    for (std::size_t k = 0; k < cbAudio.size(); ++k) {
        const QString number = QString("%1").arg(k, 2, 10, QChar('0'));
        cbAudio[k] = control<StreamCheckBox>(qPrintable("cbAudio" + number));
        cbSub[k] = control<StreamCheckBox>(qPrintable("cbSub" + number));
    }
    lVideoExt = control<QLabel>("lVideoExt");
    eVideoExt = control<QLineEdit>("eVideoExt");
    eAudioExt = control<QLineEdit>("eAudioExt");
    eSubExt = control<QLineEdit>("eSubExt");
    lWorkdir = control<QLabel>("lWorkdir");
    eWorkdir = control<QLineEdit>("eWorkdir");
    bbWorkdir = control<QToolButton>("bbWorkdir");
    cbContinue = control<QCheckBox>("cbContinue");
    cbFastCheck = control<QCheckBox>("cbFastCheck");
    cbCountFr = control<QCheckBox>("cbCountFr");
    cbDetails = control<QCheckBox>("cbDetails");
    cbLpcmWav = control<QCheckBox>("cbLpcmWav");
    cbSubPgs = control<QCheckBox>("cbSubPgs");
    cbMkv = control<QCheckBox>("cbMkv");
    cbKeepWork = control<QCheckBox>("cbKeepWork");
    if (!FindMkvmerge()) {
        cbMkv->setEnabled(false);
        cbMkv->setToolTip("mkvmerge is not installed (Debian package mkvtoolnix)");
    }
    // A page's tool-tip shows on its boxes too, except on the first subpicture box.
    for (std::size_t k = 1; k < cbSub.size(); ++k)
        cbSub[k]->setPlainTip("Check the desired subpicture streams");
}

bool TfMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == buttonRow_ && event->type() == QEvent::Resize) placeLogo();
    return QMainWindow::eventFilter(watched, event);
}

void TfMain::FormResize() {
    placeLogo();
    fitStatus();
}

// The logo's left edge is at 153 in the client, or centred on the outer width of a window
// wider than 432; never over the buttons beside it.
void TfMain::placeLogo() {
    const int width = frameGeometry().width();
    const int wanted = width > 432 ? width / 2 - 63 : 153;
    const int left = buttonRow_->x();
    // The buttons keep their widths; the row may not be laid out anew yet.
    const int lowest = bDemux->width() + kGap + bRebuild->width() + kGap;
    const int highest = buttonRow_->width() - bCancel->width() - kGap - kLogoSize.width();
    const int x = std::max(lowest, std::min(wanted - left, highest));
    imLogo->move(x, (buttonRow_->height() - kLogoSize.height()) / 2);
}

}  // namespace strandis::app
