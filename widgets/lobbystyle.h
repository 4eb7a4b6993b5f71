#pragma once

#include <QColor>

class QApplication;

// The one look of the program: Qt's Fusion style, a light palette with a single accent
// colour, and a style sheet for the flat buttons and panels of the lobby's windows.
class LobbyStyle
{
public:
    static QColor accent() { return QColor(0x2b, 0x5f, 0xd9); }
    static QColor windowColor() { return QColor(0xf3, 0xf5, 0xf9); }
    static QColor borderColor() { return QColor(0xdb, 0xe1, 0xea); }
    static QColor mutedText() { return QColor(0x5b, 0x66, 0x78); }

    static void apply(QApplication &app);
};
