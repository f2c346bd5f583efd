#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <cstdio>

/// One verb of quorvit-cli. Exit codes: 0 success, 1 failure, 2 bad usage.
class Command
{
public:
    enum ExitCode { Success = 0, Failure = 1, BadUsage = 2 };

    virtual ~Command() = default;
    virtual QString name() const = 0;
    virtual QString summary() const = 0;
    /// Runs with the arguments after the verb.
    int run(const QStringList& arguments);

    /// "a" or "an" before the word, as it is spoken ("an Opera", "a Safari").
    static QString withArticle(const QString& word);
    /// The text on one line of a tab-separated listing: tab, line breaks and backslash escaped.
    static QByteArray listingField(const QString& text);

protected:
    /// Declares options and positional arguments on the parser.
    virtual void configure(QCommandLineParser& parser) = 0;
    /// Does the work once the arguments parsed; returns an exit code.
    virtual int execute(const QCommandLineParser& parser) = 0;
    /// Options that take several values, each a separate argument after the option
    /// ("--sources A B"). Every other option takes at most one value.
    virtual QStringList multiValueOptions() const { return {}; }

    /// Prints "quorvit-cli <verb>: message" on one line of standard error and answers the code.
    int fail(const QString& message, int code = Failure) const;
};

/// Writes bytes to standard output.
void printOut(const QByteArray& bytes);
