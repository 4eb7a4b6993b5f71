#pragma once

#include <QDialog>

class QLabel;

// The about box; its label_version holds the program's version, which the update checks
// read as the running version.
class TAbout : public QDialog
{
    Q_OBJECT

public:
    explicit TAbout(QWidget *parent = nullptr);

private:
    QLabel *label_version = nullptr;
};
