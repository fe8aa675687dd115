#pragma once

#include <QByteArray>
#include <QImage>

namespace strandis::app {

// Decodes a baseline or progressive JPEG with libjpeg; a null image when the data is not one.
QImage DecodeJpeg(const QByteArray& data);

}  // namespace strandis::app
