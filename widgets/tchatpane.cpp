#include "tchatpane.h"

#include "chattext.h"
#include "platform.h"

#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

TChatPane::TChatPane(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // An empty first line leaves the document empty, so "is there a line yet" is kept
    // apart from the text; emptying the pane (clear()) starts over.
    connect(document(), &QTextDocument::contentsChange, this, [this](int, int removed, int) {
        if (removed > 0 && document()->isEmpty())
            m_hasLines = false;
    });
}

void TChatPane::addline(const QString &text, const QColor &color, bool boldToColon)
{
    QScrollBar *bar = verticalScrollBar();
    const int keptScroll = bar->value();
    const bool followEnd = !m_scrollOff;

    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(color);
    if (m_hasLines)
        cursor.insertBlock(QTextBlockFormat(), format);
    m_hasLines = true;
    const qsizetype colon = boldToColon ? text.indexOf(u':') : -1;
    if (colon >= 0) {
        QTextCharFormat bold = format;
        bold.setFontWeight(QFont::Bold);
        cursor.insertText(text.left(colon + 1), bold);
        cursor.insertText(text.mid(colon + 1), format);
    } else {
        cursor.insertText(text, format);
    }

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
