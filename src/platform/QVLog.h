#pragma once

#include <QString>
#include <QStringList>

#include <functional>

/// Writes one plain line to the system log (ident "Quorvit") and to standard error.
void QVLog(const QString& line);

namespace quorvit {

/// Captures log lines for tests; while one exists, lines go to it instead of standard error.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    /// Returns true if some captured line contains the text.
    bool contains(const QString& text) const;
    void clear();

private:
    friend void ::QVLog(const QString& line);

    LogCapture* m_previous;
    // Each capture keeps its own lines, so a nested one neither steals nor clears the outer one's.
    QStringList m_lines;
};

/// Stops copying log lines to standard error (the system log still gets them).
void setLogToStandardError(bool enabled);

} // namespace quorvit
