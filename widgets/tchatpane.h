#pragma once

#include <QColor>
#include <QPlainTextEdit>
#include <QTextCursor>

// A read-only chat pane that grows for hours: lines are appended at the end with a
// colour, the part up to and including the first ":" in bold. Appending never
// re-renders what is already there. Links in the text show the hand cursor and open
// on a left click through the platform seam (web and mail links only).
class TChatPane : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit TChatPane(QWidget *parent = nullptr);

    // One line; with boldToColon the text up to and including its first ":" is bold.
    void addline(const QString &text, const QColor &color, bool boldToColon = true);
    // The same line, written once control returns to the event loop together with every
    // other line queued until then (and before any line added at once meanwhile): a
    // burst of notices then costs one change of the document and one scroll.
    void queueLine(const QString &text, const QColor &color, bool boldToColon = true);
    // Writes the queued lines now.
    void flushLines();
    // Empties the pane, lines still queued included (hides QPlainTextEdit::clear).
    void clear();

    // While set, appending keeps the view where the reader left it.
    bool scrollOff() const { return m_scrollOff; }
    void setScrollOff(bool on) { m_scrollOff = on; }

    // The link at a point of the viewport, as isurlat and openurlat see it.
    QString linkAt(const QPoint &viewportPos) const;
    bool isurlat(const QPoint &viewportPos) const { return !linkAt(viewportPos).isEmpty(); }
    // Selects the link at the point and hands it to the desktop; false when there is none.
    bool openurlat(const QPoint &viewportPos);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    struct Hit
    {
        int position = -1; // document position of the link's first character
        QString url;
    };
    struct Line
    {
        QString text;
        QColor color;
        bool boldToColon = true;
    };
    Hit hitAt(const QPoint &viewportPos) const;
    void write(const QList<Line> &lines);
    bool m_scrollOff = false;
    bool m_hasLines = false;
    QList<Line> m_queued;
    // Where lines are written: the end of the document.
    QTextCursor m_end;
    bool m_flushQueued = false;
};
