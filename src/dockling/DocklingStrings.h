#pragma once

#include <QString>

/// The companions' own string table: menu texts, the old-file alert and the two dockling paths
/// ("QVDocklingPath" names the same file as the main program's "DocklingPath"). A missing key
/// answers itself.
QString QVDocklingLocalized(const QString& key);
