#include "Command.h"

int Command::run(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(summary());
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    parser.addOption(help);
    configure(parser);
    if (!parser.parse(QStringList{QStringLiteral("quorvit-cli ") + name()} + arguments))
        return fail(parser.errorText() + QStringLiteral(" (see --help)"), BadUsage);
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        text.replace(QStringLiteral("Usage: quorvit-cli ") + name(),
                     QStringLiteral("Usage: quorvit-cli ") + name());
        printOut(text.toUtf8());
        return Success;
    }
    return execute(parser);
}

int Command::fail(const QString& message, int code) const
{
    std::fprintf(stderr, "quorvit-cli %s: %s\n", qPrintable(name()), qPrintable(message));
    return code;
}

void printOut(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}
