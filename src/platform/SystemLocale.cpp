#include "platform/SystemLocale.h"

#include <QLocale>
#include <QStringList>

namespace quorvit {

bool isJapaneseSystem()
{
    const QStringList languages = QLocale::system().uiLanguages();
    return !languages.isEmpty() && languages.first().startsWith(QLatin1String("ja"));
}

} // namespace quorvit
