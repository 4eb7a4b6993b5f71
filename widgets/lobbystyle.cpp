#include "lobbystyle.h"

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QStyleFactory>

namespace {

const char *kStyleSheet = R"(
QMainWindow, QDialog { background: #f3f5f9; }
QMenuBar { background: #ffffff; border-bottom: 1px solid #dbe1ea; padding: 2px 4px; }
QMenuBar::item { padding: 4px 10px; border-radius: 4px; background: transparent; }
QMenuBar::item:selected { background: #e8eefc; color: #1f4fb8; }
QMenu { background: #ffffff; border: 1px solid #d3dae5; padding: 4px; }
QMenu::item { padding: 5px 24px 5px 22px; border-radius: 4px; }
QMenu::item:selected { background: #e8eefc; color: #1f4fb8; }
QMenu::item:disabled { color: #9aa3b2; }
QMenu::separator { height: 1px; background: #e3e8ef; margin: 4px 6px; }
QToolTip { background: #25304a; color: #ffffff; border: none; padding: 4px 6px; }

TFlatPanel[kind="card"] { background: #ffffff; border: 1px solid #dbe1ea; border-radius: 8px; }
TFlatPanel[kind="header"] { background: #ffffff; border-bottom: 1px solid #dbe1ea; }
TFlatPanel[kind="floating"] { background: #ffffff; border: 1px solid #c5cedc; border-radius: 10px; }
TFlatPanel[kind="backdrop"] {
    background: qlineargradient(x1:0, y1:0, x2:1, y2:1, stop:0 #eef2fa, stop:1 #e4eaf5);
    border: 1px solid #dbe1ea; border-radius: 8px; }
TFlatPanel[kind="titlebar"] { background: #2b5fd9; border-top-left-radius: 9px;
    border-top-right-radius: 9px; }
TFlatPanel[kind="titlebar"] QLabel { color: #ffffff; font-weight: 600; }
TFlatPanel[kind="tabbar"] { background: transparent; }

TFlatButton { border: 1px solid #cfd7e3; border-radius: 6px; padding: 5px 12px;
    background: #ffffff; color: #1e2a3d; }
TFlatButton:hover { background: #f0f4fc; border-color: #9fb4e6; }
TFlatButton:pressed { background: #e1e9fb; }
TFlatButton:disabled { color: #a2abb9; background: #f6f7fa; border-color: #e2e6ec; }
TFlatButton[kind="accent"] { background: #2b5fd9; border-color: #2b5fd9; color: #ffffff;
    font-weight: 600; }
TFlatButton[kind="accent"]:hover { background: #244fb6; border-color: #244fb6; }
TFlatButton[kind="accent"]:disabled { background: #a9bdeb; border-color: #a9bdeb; }
TFlatButton[kind="tab"] { border: none; border-radius: 0; background: transparent;
    color: #5b6678; padding: 6px 8px; border-bottom: 2px solid transparent; font-weight: 600; }
TFlatButton[kind="tab"]:hover { color: #1f4fb8; background: transparent; }
TFlatButton[kind="tab"]:checked { color: #1f4fb8; border-bottom: 2px solid #2b5fd9; }
TFlatButton[kind="link"] { border: none; background: transparent; color: #2b5fd9; padding: 2px 4px; }
TFlatButton[kind="link"]:hover { text-decoration: underline; }
TFlatButton[kind="icon"] { border: none; background: transparent; padding: 2px; }
TFlatButton[kind="icon"]:hover { background: #e8eefc; }

QLineEdit, QComboBox { border: 1px solid #cfd7e3; border-radius: 6px; padding: 4px 6px;
    background: #ffffff; selection-background-color: #2b5fd9; }
QLineEdit:focus, QComboBox:focus { border-color: #2b5fd9; }
QComboBox { padding-right: 22px; }
QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: center right;
    width: 20px; border: none; background: transparent; }
QComboBox::down-arrow { image: url(:/widgets/arrow-down.xpm); width: 10px; height: 6px; }
QComboBox QAbstractItemView { border: 1px solid #d3dae5; background: #ffffff;
    selection-background-color: #e8eefc; selection-color: #1f4fb8; }
QListWidget, QTreeWidget, TFlatTree, QTextBrowser, QTextEdit, QPlainTextEdit {
    border: 1px solid #dbe1ea; border-radius: 6px; background: #ffffff;
    selection-background-color: #dce6fb; selection-color: #1e2a3d; }
QListWidget::item, QTreeWidget::item, TFlatTree::item { padding: 1px 2px; }
QGroupBox { border: 1px solid #dbe1ea; border-radius: 8px; margin-top: 14px; padding: 10px 8px 8px 8px;
    background: #ffffff; font-weight: 600; }
QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 4px; color: #1e2a3d; }
QSplitter::handle { background: transparent; }
QLabel[role="heading"] { font-weight: 700; color: #1e2a3d; }
QLabel[role="title"] { font-size: 15pt; font-weight: 700; color: #1e2a3d; }
QLabel[role="muted"] { color: #5b6678; }
QLabel[role="status"] { color: #1f4fb8; font-weight: 600; }
QCheckBox, QRadioButton { spacing: 6px; }
QStatusBar { background: #ffffff; border-top: 1px solid #dbe1ea; }
)";

} // namespace

static void initWidgetResources()
{
    Q_INIT_RESOURCE(widgets);
}

void LobbyStyle::apply(QApplication &app)
{
    initWidgetResources();
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette p;
    const QColor text(0x1e, 0x2a, 0x3d);
    p.setColor(QPalette::Window, windowColor());
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(0xf6, 0xf8, 0xfb));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, Qt::white);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, accent());
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, accent());
    p.setColor(QPalette::ToolTipBase, QColor(0x25, 0x30, 0x4a));
    p.setColor(QPalette::ToolTipText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(0x8a, 0x94, 0xa6));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0xa2, 0xab, 0xb9));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xa2, 0xab, 0xb9));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0xa2, 0xab, 0xb9));
    app.setPalette(p);
    QFont font = app.font();
    if (font.pointSizeF() < 10)
        font.setPointSizeF(10);
    app.setFont(font);
    app.setStyleSheet(QString::fromLatin1(kStyleSheet));
}
