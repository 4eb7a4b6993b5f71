#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;

// The test game's window for people watching a demo: what the game sent and received.
// Closing it ends the game, as closing a real game's window does.
class TTestGameWindow : public QWidget
{
    Q_OBJECT
public:
    TTestGameWindow(const QString &title, QWidget *parent = nullptr);

    void addLine(const QString &line);
    void showFinished(int code);

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QLabel *m_status;
    QPlainTextEdit *m_lines;
};
