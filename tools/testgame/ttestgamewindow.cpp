#include "ttestgamewindow.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

TTestGameWindow::TTestGameWindow(const QString &title, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("testgame"));
    setWindowTitle(title);
    m_status = new QLabel(QStringLiteral("Waiting for the other player..."), this);
    m_status->setObjectName(QStringLiteral("label_status"));
    m_status->setTextFormat(Qt::PlainText);
    m_lines = new QPlainTextEdit(this);
    m_lines->setObjectName(QStringLiteral("memo_lines"));
    m_lines->setReadOnly(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_lines, 1);
    resize(420, 260);
}

void TTestGameWindow::addLine(const QString &line)
{
    m_lines->appendPlainText(line);
}

void TTestGameWindow::showFinished(int code)
{
    m_status->setText(code == 0 ? QStringLiteral("Game over. Close this window to leave the game.")
                                : QStringLiteral("The game failed. Close this window."));
}

void TTestGameWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    emit closed();
}
