#include "Command.h"

#include "platform/AlertPresenter.h"
#include "platform/QVLog.h"

#include <QRegularExpression>
#include <QSet>

namespace {
/// Collapses line breaks and runs of blanks, so a message is one line.
QString oneLine(const QString& text)
{
    return text.simplified();
}

/// Shows the program's alerts as one line each on standard error and takes the default button.
class CommandLineAlertPresenter : public quorvit::AlertPresenter
{
public:
    explicit CommandLineAlertPresenter(const QString& verb) : m_verb(verb) {}

    int present(const quorvit::AlertRequest& request) override
    {
        QString line = oneLine(request.title);
        const QString message = oneLine(request.message);
        if (!message.isEmpty())
            line += (line.isEmpty() || line.endsWith(QLatin1Char('.')) ? QStringLiteral(" ")
                                                                       : QStringLiteral(": ")) +
                    message;
        std::fprintf(stderr, "quorvit-cli %s: %s\n", qPrintable(m_verb), qPrintable(line));
        return DefaultButton;
    }

private:
    QString m_verb;
};

/// Spreads "--option A B" into "--option A --option B" for the options that take several values;
/// "--" ends the options.
QStringList spreadMultiValues(const QStringList& arguments, const QStringList& multiValue)
{
    QStringList result;
    QString current;
    bool optionsEnded = false;
    for (const QString& argument : arguments) {
        if (optionsEnded) {
            result.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            current.clear();
            result.append(argument);
            continue;
        }
        if (argument.startsWith(QLatin1Char('-'))) {
            current.clear();
            const QString option = argument.mid(2).section(QLatin1Char('='), 0, 0);
            if (argument.startsWith(QLatin1String("--")) && multiValue.contains(option)) {
                current = option;
                // "--sources" is followed by its first value; "--sources=A" already holds it.
                result.append(argument);
                continue;
            }
            result.append(argument);
            continue;
        }
        if (!current.isEmpty() && !result.isEmpty() && result.last() != QLatin1String("--") + current)
            result.append(QLatin1String("--") + current);
        result.append(argument);
    }
    return result;
}
} // namespace

int Command::run(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(summary());
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Also print the program's internal log lines."));
    parser.addOption(help);
    parser.addOption(verbose);
    configure(parser);
    const QStringList multiValue = multiValueOptions();
    if (!parser.parse(QStringList{QStringLiteral("quorvit-cli ") + name()} +
                      spreadMultiValues(arguments, multiValue)))
        return fail(parser.errorText() + QStringLiteral(" (see --help)"), BadUsage);
    if (parser.isSet(help)) {
        // The parser names the program by its path; show how it is called instead.
        QString text = parser.helpText();
        const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'));
        const QString firstLine = text.left(lineEnd);
        const qsizetype options = firstLine.indexOf(QLatin1String(" [options]"));
        text = QStringLiteral("Usage: quorvit-cli ") + name() +
               (options >= 0 ? firstLine.mid(options) : QString()) + text.mid(lineEnd);
        printOut(text.toUtf8());
        return Success;
    }
    // An option given twice that keeps one value would silently drop the other.
    QSet<QString> seen;
    for (const QString& option : parser.optionNames()) {
        if (seen.contains(option) && !multiValue.contains(option) && !parser.values(option).isEmpty())
            return fail(QStringLiteral("--%1 was given more than once").arg(option), BadUsage);
        seen.insert(option);
    }
    quorvit::setLogToStandardError(parser.isSet(verbose));
    CommandLineAlertPresenter presenter(name());
    quorvit::ScopedAlertPresenter scope(&presenter);
    return execute(parser);
}

QString Command::withArticle(const QString& word)
{
    static const QRegularExpression vowel(QStringLiteral("^[AEIOUaeiou]"));
    return (vowel.match(word).hasMatch() ? QStringLiteral("an ") : QStringLiteral("a ")) + word;
}

QByteArray Command::listingField(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    escaped.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    escaped.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return escaped.toUtf8();
}

int Command::fail(const QString& message, int code) const
{
    std::fprintf(stderr, "quorvit-cli %s: %s\n", qPrintable(name()), qPrintable(oneLine(message)));
    return code;
}

void printOut(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}
