// A chat pane that grows for hours: append 20,000 lines to the real pane (shown,
// offscreen, events processed after every line as when lines arrive from the network)
// and compare the cost per line of the first and the last thousand. Appending must not
// get slower as the pane grows.
#include "tchatpane.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int total = argc > 1 ? std::atoi(argv[1]) : 20000;
    TChatPane pane;
    pane.resize(640, 400);
    pane.show();
    QApplication::processEvents();

    const QColor colours[] = {Qt::black, Qt::darkBlue, Qt::darkGreen, Qt::darkRed};
    QElapsedTimer clock;
    qint64 firstNs = 0;
    qint64 lastNs = 0;
    for (int i = 0; i < total; ++i) {
        const QString line = QStringLiteral("player%1: line %2 of a long evening, see "
                                            "http://example.org/%2 for the rules")
                                 .arg(i % 97)
                                 .arg(i);
        clock.start();
        pane.addline(line, colours[i % 4]);
        QApplication::processEvents();
        const qint64 ns = clock.nsecsElapsed();
        if (i < 1000)
            firstNs += ns;
        else if (i >= total - 1000)
            lastNs += ns;
    }
    const double first = firstNs / 1000.0 / 1000.0;
    const double last = lastNs / 1000.0 / 1000.0;
    std::printf("lines: %d\nfirst 1000: %.1f us/line\nlast 1000: %.1f us/line\n"
                "ratio last/first: %.2f\n",
                total, first, last, last / first);
    return 0;
}
