// quorvit-gen: writes a generated bookmark file of any size in any format the program writes.
#include "BookmarkGenerator.h"

#include "platform/QVLog.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvit-gen"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a generated bookmark file for measuring."));
    parser.addHelpOption();
    const QString formats = BookmarkGenerator::formatNames().join(QStringLiteral(", "));
    parser.addOptions({
        {QStringLiteral("format"), QStringLiteral("One of: %1.").arg(formats), QStringLiteral("FMT")},
        {QStringLiteral("bookmarks"), QStringLiteral("How many bookmarks (default 1000)."),
         QStringLiteral("N")},
        {QStringLiteral("folders"), QStringLiteral("How many folders (default: one per 50 bookmarks)."),
         QStringLiteral("M")},
        {QStringLiteral("seed"),
         QStringLiteral("Files of different seeds share about half their bookmarks (default 1)."),
         QStringLiteral("S")},
        {{QStringLiteral("o"), QStringLiteral("output")},
         QStringLiteral("The file to write."),
         QStringLiteral("FILE")},
    });
    parser.process(app);

    auto number = [&](const QString& option, qint64 fallback, qint64 maximum, bool* ok) {
        if (!parser.isSet(option))
            return fallback;
        const qint64 value = parser.value(option).toLongLong(ok);
        *ok = *ok && value >= 0 && value <= maximum;
        return value;
    };
    BookmarkGenerator::Shape shape;
    bool bookmarksOk = true, foldersOk = true, seedOk = true;
    shape.bookmarks = int(number(QStringLiteral("bookmarks"), 1000, 50000000, &bookmarksOk));
    shape.folders =
        int(number(QStringLiteral("folders"), qMax(1, shape.bookmarks / 50), 5000000, &foldersOk));
    shape.seed = quint32(number(QStringLiteral("seed"), 1, 4000000, &seedOk));
    const bool ok = bookmarksOk && foldersOk && seedOk;
    const QString format = parser.value(QStringLiteral("format"));
    const QString output = parser.value(QStringLiteral("output"));
    if (!ok || format.isEmpty() || output.isEmpty() || !parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr,
                     "quorvit-gen: needs --format FMT and -o FILE; numbers are whole and not negative "
                     "(see --help)\n");
        return 2;
    }

    quorvit::setLogToStandardError(false);
    QString reason;
    if (!BookmarkGenerator::writeTree(BookmarkGenerator::generateTree(shape), format, output, &reason)) {
        std::fprintf(stderr, "quorvit-gen: %s\n", qPrintable(reason));
        return 1;
    }
    return 0;
}
