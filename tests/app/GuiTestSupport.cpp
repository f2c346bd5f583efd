#include "GuiTestSupport.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>

namespace testsupport {

QString saveScreenshot(QWidget& widget, const QString& name)
{
    QDir().mkpath(QStringLiteral(QUORVIT_SCREENSHOT_DIR));
    const QString path =
        QStringLiteral(QUORVIT_SCREENSHOT_DIR) + QLatin1Char('/') + name + QStringLiteral(".png");
    widget.grab().save(path);
    return path;
}

} // namespace testsupport
