#include "tchatpane.h"

#include "chattext.h"
#include "platform.h"
#include "tquietscrollbar.h"

#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include <utility>

TChatPane::TChatPane(QWidget *parent) : QPlainTextEdit(parent)
{
    setVerticalScrollBar(new TQuietScrollBar(Qt::Vertical, this));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // An empty first line leaves the document empty, so "is there a line yet" is kept
    // apart from the text; emptying the pane (clear()) starts over, and lines queued
    // before it was emptied are gone with the rest.
    connect(document(), &QTextDocument::contentsChange, this, [this](int, int removed, int) {
        if (removed > 0 && document()->isEmpty()) {
            m_hasLines = false;
            m_queued.clear();
        }
    });
}

void TChatPane::addline(const QString &text, const QColor &color, bool boldToColon)
{
    flushLines();
    write({{text, color, boldToColon}});
}

void TChatPane::queueLine(const QString &text, const QColor &color, bool boldToColon)
{
    m_queued.append({text, color, boldToColon});
    if (!m_flushQueued) {
        m_flushQueued = true;
        QMetaObject::invokeMethod(this, &TChatPane::flushLines, Qt::QueuedConnection);
    }
}

void TChatPane::flushLines()
{
    m_flushQueued = false;
    if (!m_queued.isEmpty())
        write(std::exchange(m_queued, {}));
}

void TChatPane::clear()
{
    m_queued.clear();
    m_hasLines = false;
    QPlainTextEdit::clear();
}

void TChatPane::write(const QList<Line> &lines)
{
    QScrollBar *bar = verticalScrollBar();
    const int keptScroll = bar->value();
    const bool followEnd = !m_scrollOff;

    // The writing cursor stays at the end between writes (what it inserts moves it
    // along): placing a new one there each time would measure the line it lands on.
    if (m_end.isNull() || m_end.document() != document())
        m_end = QTextCursor(document());
    // Only when something else wrote behind it.
    if (const int end = document()->characterCount() - 1; m_end.position() != end)
        m_end.setPosition(end);
    QTextCursor &cursor = m_end;
    // One edit block: the layout and the views hear of all the lines at once.
    cursor.beginEditBlock();
    for (const Line &line : lines) {
        QTextCharFormat format;
        format.setForeground(line.color);
        if (m_hasLines)
            cursor.insertBlock(QTextBlockFormat(), format);
        m_hasLines = true;
        const qsizetype colon = line.boldToColon ? line.text.indexOf(u':') : -1;
        if (colon >= 0) {
            QTextCharFormat bold = format;
            bold.setFontWeight(QFont::Bold);
            cursor.insertText(line.text.left(colon + 1), bold);
            cursor.insertText(line.text.mid(colon + 1), format);
        } else {
            cursor.insertText(line.text, format);
        }
    }
    cursor.endEditBlock();

    if (followEnd)
        bar->setValue(bar->maximum());
    else
        bar->setValue(keptScroll);
}

TChatPane::Hit TChatPane::hitAt(const QPoint &viewportPos) const
{
    const QTextCursor cursor = cursorForPosition(viewportPos);
    const QTextBlock block = cursor.block();
    if (!block.isValid())
        return {};
    // Past the end of a line's text there is no character under the mouse.
    const QRectF lineRect = blockBoundingGeometry(block).translated(contentOffset());
    if (viewportPos.y() > lineRect.bottom())
        return {};
    const int inBlock = cursor.position() - block.position();
    const QString text = block.text();
    // The cursor sits between characters; take the one the mouse is over.
    int index = inBlock;
    const QRect caret = cursorRect(cursor);
    if (viewportPos.x() < caret.left() && index > 0)
        --index;
    if (index >= text.size())
        return {};
    const chattext::Link link = chattext::findurlat(text, index);
    if (!link.isValid())
        return {};
    return {block.position() + link.start, link.url};
}

QString TChatPane::linkAt(const QPoint &viewportPos) const
{
    return hitAt(viewportPos).url;
}

bool TChatPane::openurlat(const QPoint &viewportPos)
{
    const Hit hit = hitAt(viewportPos);
    if (hit.url.isEmpty())
        return false;
    QTextCursor select(document());
    select.setPosition(hit.position);
    select.setPosition(hit.position + static_cast<int>(hit.url.size()), QTextCursor::KeepAnchor);
    setTextCursor(select);
    // Links come from other players: only web and mail links leave the program.
    if (chattext::isOpenableLink(hit.url))
        platform::Platform::instance().openUrl(QUrl(chattext::openableUrl(hit.url)));
    return true;
}

void TChatPane::mouseMoveEvent(QMouseEvent *event)
{
    viewport()->setCursor(isurlat(event->position().toPoint()) ? Qt::PointingHandCursor
                                                               : Qt::IBeamCursor);
    QPlainTextEdit::mouseMoveEvent(event);
}

void TChatPane::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && openurlat(event->position().toPoint())) {
        event->accept();
        return;
    }
    QPlainTextEdit::mousePressEvent(event);
}
