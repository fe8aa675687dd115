#pragma once

#include <QCheckBox>
#include <QString>

namespace strandis::app {

// A stream's check box. Its caption names the file the stream is written to, so the whole
// caption is kept: a caption wider than the box is shown shortened in the middle, with the
// whole caption as tool-tip and as the name a screen reader reads.
class StreamCheckBox : public QCheckBox {
    Q_OBJECT

public:
    explicit StreamCheckBox(QWidget* parent = nullptr);

    void setCaption(const QString& caption);
    const QString& caption() const { return caption_; }
    // The tool-tip shown while the whole caption fits.
    void setPlainTip(const QString& tip);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void fit();

    QString caption_;
    QString plainTip_;
};

}  // namespace strandis::app
