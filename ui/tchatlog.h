#pragma once

#include <QColor>
#include <QWidget>

#include <functional>

class QLabel;
class TFlatButton;
class TChatPane;

// The log of the private messages written and read since the program started. It exists
// once for the whole run and is only shown and hidden; nothing of it is written to disk.
class Tchatlog : public QWidget
{
    Q_OBJECT
public:
    explicit Tchatlog(QWidget *parent = nullptr);

    // Whether the log takes lines (the "Private Message Log" option). Unassigned: on.
    std::function<bool()> LogEnabled;

    // Appends one line (a text with line breaks appends several) in the colour, regular
    // style, when the log is enabled and the text is not empty.
    void addlinetolog(const QString &text, const QColor &color);
    void button_closeClick();

private:
    QLabel *label_caption = nullptr;
    TChatPane *log = nullptr;
    TFlatButton *button_close = nullptr;
};
