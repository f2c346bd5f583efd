#pragma once

#include <QString>

class QWidget;

namespace testsupport {

/// Saves what the user would see of the widget as <build>/screenshots/<name>.png; answers the path.
QString saveScreenshot(QWidget& widget, const QString& name);

} // namespace testsupport
