// The settings that persist from one start to the next: a per-user settings file with one named
// value per setting, read once when the window first becomes active and written when it closes.
#include <QCheckBox>
#include <QDateTime>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTimer>
#include <QtEndian>
#include <cstring>
#include <functional>

#include "app/Main.h"

namespace strandis::app {

namespace {

QSettings Store() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, "Korvath Software", "Strandis");
}

// Local date and time as days since 30 December 1899, the fraction being the time of day.
double LocalDays(const QDateTime& now) {
    const qint64 days = QDate(1899, 12, 30).daysTo(now.date());
    return static_cast<double>(days) + now.time().msecsSinceStartOfDay() / 86'400'000.0;
}

}  // namespace

void TfMain::RegRead() {
    QSettings settings = Store();
    if (settings.allKeys().isEmpty()) return;  // first start: the designed defaults stay

    QString failure;
    const auto integer = [&](const char* name, const std::function<void(int)>& apply) {
        if (!failure.isEmpty() || !settings.contains(name)) return;
        const QVariant value = settings.value(name);
        bool ok = value.typeId() == QMetaType::QString || value.typeId() == QMetaType::Int;
        const int number = ok ? value.toString().toInt(&ok) : 0;
        if (!ok) {
            failure = QString("Invalid data type for '%1'").arg(name);
            return;
        }
        apply(number);
    };
    const auto text = [&](const char* name, const std::function<void(const QString&)>& apply) {
        if (!failure.isEmpty() || !settings.contains(name)) return;
        const QVariant value = settings.value(name);
        if (value.typeId() != QMetaType::QString) {
            failure = QString("Invalid data type for '%1'").arg(name);
            return;
        }
        apply(value.toString());
    };
    // The stored place and size are the frame's. The frame's own width is known only once the
    // window manager has framed the window, which may be after this: storedFrame_ is applied
    // again then (placeFrame).
    QRect stored = frameGeometry();
    integer("Width", [&](int v) { stored.setWidth(v); });
    integer("Height", [&](int v) { stored.setHeight(v); });
    integer("Top", [&](int v) { stored.moveTop(v); });
    integer("Left", [&](int v) { stored.moveLeft(v); });
    storedFrame_ = stored;
    framingTries_ = 0;
    placeFrame();
    integer("WindowState", [&](int v) {
        if (v == 2) setWindowState(windowState() | Qt::WindowMaximized);
        if (v == 1) setWindowState(windowState() | Qt::WindowMinimized);
    });
    integer("TreeWidth", [&](int v) {
        const QList<int> sizes = splXPL->sizes();
        const int total = sizes.value(0) + sizes.value(1);
        splXPL->setSizes({v, std::max(total - v, 0)});
    });
    text("AudioExt", [&](const QString& v) { eAudioExt->setText(v); });
    text("VideoExt", [&](const QString& v) { eVideoExt->setText(v); });
    text("SubExt", [&](const QString& v) { eSubExt->setText(v); });
    text("Workdir", [&](const QString& v) { eWorkdir->setText(v); });
    text("EVOdir", [&](const QString& v) { EVOdir = v; });
    text("XPLdir", [&](const QString& v) { XPLdir = v; });
    integer("Continue", [&](int v) { cbContinue->setChecked(v != 0); });
    integer("FastCheck", [&](int v) { cbFastCheck->setChecked(v != 0); });
    integer("CountFrames", [&](int v) { cbCountFr->setChecked(v != 0); });
    integer("Details", [&](int v) { cbDetails->setChecked(v != 0); });
    integer("LpcmWav", [&](int v) { cbLpcmWav->setChecked(v != 0); });
    integer("SubPgs", [&](int v) { cbSubPgs->setChecked(v != 0); });
    integer("Matroska", [&](int v) { cbMkv->setChecked(v != 0); });
    integer("KeepWork", [&](int v) { cbKeepWork->setChecked(v != 0); });

    if (!failure.isEmpty()) {
        // Start-up goes on with the rest at their defaults.
        QTimer::singleShot(
            0, this, [this, failure] { QMessageBox::critical(this, windowTitle(), failure); });
    }
}

void TfMain::placeFrame() {
    if (storedFrame_.isNull()) return;
    // A maximized window is where the window manager puts it: placing it would undo that.
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
        storedFrame_ = QRect();
        return;
    }
    // Moved or resized by someone else meanwhile, still without a frame: left where it is.
    if (framingTries_ > 0 && geometry() != placed_ && frameGeometry() == geometry()) {
        storedFrame_ = QRect();
        return;
    }
    const QRect frame = frameGeometry();
    const QMargins margins(geometry().left() - frame.left(), geometry().top() - frame.top(),
                           frame.right() - geometry().right(),
                           frame.bottom() - geometry().bottom());
    QRect wanted = storedFrame_;
    // A title bar off every screen (a screen unplugged since) comes back on the primary one.
    const QRect titleBar(wanted.left(), wanted.top(), wanted.width(), 24);
    bool visible = false;
    for (const QScreen* screen : QGuiApplication::screens())
        visible = visible || screen->availableGeometry().intersects(titleBar);
    if (!visible && QGuiApplication::primaryScreen() != nullptr) {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        wanted.setSize(wanted.size().boundedTo(area.size()));
        wanted.moveTopLeft(area.topLeft());
    }
    // Whole on the screen it opens on: a size stored at a smaller scale factor can be larger
    // than the screen at this one, and would put the buttons out of reach.
    const QScreen* screen = QGuiApplication::screenAt(titleBar.center());
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        const QRect area = screen->availableGeometry();
        wanted.setSize(wanted.size().boundedTo(area.size()));
        if (wanted.right() > area.right()) wanted.moveRight(area.right());
        if (wanted.bottom() > area.bottom()) wanted.moveBottom(area.bottom());
        if (wanted.left() < area.left()) wanted.moveLeft(area.left());
        if (wanted.top() < area.top()) wanted.moveTop(area.top());
    }
    placed_ = wanted.marginsRemoved(margins);
    setGeometry(placed_);
    // Framed: the place is final. Not yet: tried again for a while, since the window manager
    // says how wide its frame is only some time after the window is shown.
    if (!margins.isNull() || ++framingTries_ > 40) {
        storedFrame_ = QRect();
        return;
    }
    QTimer::singleShot(50, this, &TfMain::placeFrame);
}

void TfMain::RegWrite() {
    QSettings settings = Store();
    if (!settings.isWritable()) return;
    const Qt::WindowStates state = windowState();
    const int stateValue = state & Qt::WindowMaximized ? 2 : state & Qt::WindowMinimized ? 1 : 0;
    settings.setValue("WindowState", stateValue);
    if (stateValue != 2) {
        const QRect bounds = frameGeometry();
        settings.setValue("Top", bounds.top());
        settings.setValue("Left", bounds.left());
        settings.setValue("Width", bounds.width());
        settings.setValue("Height", bounds.height());
    }
    settings.setValue("TreeWidth", splXPL->sizes().value(0));
    settings.setValue("AudioExt", eAudioExt->text());
    settings.setValue("VideoExt", eVideoExt->text());
    settings.setValue("SubExt", eSubExt->text());
    settings.setValue("Workdir", eWorkdir->text());
    settings.setValue("EVOdir", EVOdir);
    settings.setValue("XPLdir", XPLdir);
    settings.setValue("Continue", cbContinue->isChecked() ? 1 : 0);
    settings.setValue("FastCheck", cbFastCheck->isChecked() ? 1 : 0);
    settings.setValue("CountFrames", cbCountFr->isChecked() ? 1 : 0);
    settings.setValue("Details", cbDetails->isChecked() ? 1 : 0);
    settings.setValue("LpcmWav", cbLpcmWav->isChecked() ? 1 : 0);
    settings.setValue("SubPgs", cbSubPgs->isChecked() ? 1 : 0);
    settings.setValue("Matroska", cbMkv->isChecked() ? 1 : 0);
    settings.setValue("KeepWork", cbKeepWork->isChecked() ? 1 : 0);
    if (!settings.contains("Install")) {
        const double days = LocalDays(QDateTime::currentDateTime());
        quint64 bits = 0;
        std::memcpy(&bits, &days, sizeof bits);
        QByteArray raw(8, '\0');
        qToLittleEndian(bits, raw.data());
        settings.setValue("Install", raw);
    }
    settings.sync();
}

}  // namespace strandis::app
