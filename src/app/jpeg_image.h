#pragma once

#include <QByteArray>
#include <QImage>

// Decodes a JPEG image with libjpeg. A null image when the data is not a JPEG
// that libjpeg can read.
QImage DecodeJpeg(const QByteArray& data);
