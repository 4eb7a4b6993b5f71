#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Wire text and stored values are bytes. At the widget boundary they are read as UTF-8
// when they are valid UTF-8 and otherwise as Windows-1252, so text from older peers
// still reads; what we write is UTF-8.
QString decodeWireText(QByteArrayView bytes);
QByteArray encodeWireText(const QString &text);
