#include "accessibility.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

namespace accessibility {

void nameControls(QWidget *window,
                  std::initializer_list<std::pair<const char *, const char *>> names)
{
    for (const auto &[objectName, accessibleName] : names) {
        for (QWidget *control : window->findChildren<QWidget *>(QLatin1String(objectName)))
            control->setAccessibleName(QString::fromUtf8(accessibleName));
    }
}

void closeOnEscape(QWidget *window)
{
    auto *shortcut = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
}

} // namespace accessibility
