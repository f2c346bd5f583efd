#include "SyncCommands.h"

#include "SyncSession.h"
#include "TreeJson.h"

#include "model/BookmarkEnumerator.h"
#include "model/QVBookmark.h"

#include <QThread>

#include <memory>

namespace {
void addCompareOptions(QCommandLineParser& parser)
{
    parser.addOption(
        {QStringLiteral("base"),
         QStringLiteral(
             "The base bookmark file (default: the base browser chosen with 'browsers --default')."),
         QStringLiteral("PATH")});
    parser.addOption({QStringLiteral("sources"),
                      QStringLiteral("The files to compare, one or more (default: the active browsers)."),
                      QStringLiteral("PATH...")});
    parser.addOption({QStringLiteral("compare-by"),
                      QStringLiteral("Match bookmarks by name (default) or by address."),
                      QStringLiteral("name|address")});
    parser.addOption({QStringLiteral("filter-duplicates"),
                      QStringLiteral("Remove the first of each set of duplicate bookmarks from the base.")});
    parser.addOption(
        {QStringLiteral("json"), QStringLiteral("Print {\"base\": TREE, \"missing\": TREE} as JSON.")});
}

/// Appends the folder's contents, one item a line, into one buffer (a buffer per folder, copied into
/// its parent's, made large trees slow to print).
void appendOutline(const QVFolder& folder, QByteArray& out, int depth = 0)
{
    for (const QVItemPtr& item : folder.folderContents()) {
        out.append(depth * 2 + 2, ' ');
        if (item->isFolder()) {
            out += '[';
            out += item->name().toUtf8();
            out += "]\n";
            appendOutline(static_cast<const QVFolder&>(*item), out, depth + 1);
        } else if (item->isDivider()) {
            out += "------------\n";
        } else {
            out += item->name().toUtf8();
            out += "  <";
            out += item->urlAddress().toUtf8();
            out += ">\n";
        }
    }
}

int bookmarkCount(const QVFolderPtr& folder)
{
    int count = 0;
    for (const QVItemPtr& item : BookmarkEnumerator(folder).allObjects())
        count += item->isBookmark();
    return count;
}

void printReport(const SyncSession& session, bool json)
{
    const QVFolderPtr base = session.engine().defaultBookmarks();
    const QVFolderPtr missing = session.engine().missingBookmarks();
    // The base is written out on a thread of its own while the missing bookmarks are written here: the
    // two texts only meet when they are joined.
    QByteArray baseText;
    const std::unique_ptr<QThread> helper(QThread::create([&] {
        if (json) {
            baseText = TreeJson::toJson(*base);
            return;
        }
        baseText = "Base: " + session.baseHandle()->browserName().toUtf8() + " (" +
                   QByteArray::number(bookmarkCount(base)) + " bookmarks)\n";
        appendOutline(*base, baseText);
    }));
    helper->start();
    QByteArray missingText;
    if (json) {
        missingText = TreeJson::toJson(*missing);
    } else {
        missingText = "\nMissing from the base: " + QByteArray::number(missing->itemCount()) + " bookmarks\n";
        appendOutline(*missing, missingText);
    }
    helper->wait();
    // Printed piece by piece: joining two texts of megabytes would copy both once more.
    if (json) {
        printOut("{\"base\": ");
        printOut(baseText);
        printOut(",\n\"missing\": ");
        printOut(missingText);
        printOut("}\n");
        return;
    }
    printOut(baseText);
    printOut(missingText);
}
} // namespace

QString CompareCommand::summary() const
{
    return QStringLiteral(
        "Compares browsers' bookmarks against the base and prints the merged base and what it lacks.");
}

void CompareCommand::configure(QCommandLineParser& parser)
{
    addCompareOptions(parser);
}

int CompareCommand::execute(const QCommandLineParser& parser)
{
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\" (see --help)")
                        .arg(parser.positionalArguments().first()),
                    BadUsage);
    SyncSession session;
    QString reason;
    const int usage = session.configure(parser, &reason);
    if (usage != Success)
        return fail(reason, usage);
    if (!session.compare(&reason))
        return fail(reason);
    printReport(session, parser.isSet(QStringLiteral("json")));
    return Success;
}

QString SyncCommand::summary() const
{
    return QStringLiteral(
        "Compares, then writes the merged bookmarks to every destination browser (with backups).");
}

void SyncCommand::configure(QCommandLineParser& parser)
{
    addCompareOptions(parser);
    parser.addOption(
        {QStringLiteral("write"), QStringLiteral("Write the destinations (without it nothing is written).")});
    parser.addOption({QStringLiteral("to"),
                      QStringLiteral("The destination files, one or more (default: the active browsers)."),
                      QStringLiteral("PATH...")});
    parser.addOption(
        {QStringLiteral("no-backup"), QStringLiteral("Do not back up the files before replacing them.")});
    parser.addOption({QStringLiteral("force"),
                      QStringLiteral("Write even while a destination's browser is running, or when the write "
                                     "would remove more than half of a destination's bookmarks.")});
    parser.addOption({QStringLiteral("dockling"),
                      QStringLiteral("Also write the dockling file that Quorvit Menu and Quorvit Dockling "
                                     "show, and tell them to reload it.")});
    parser.addOption({QStringLiteral("missing-into"),
                      QStringLiteral("Add the missing bookmarks to the base in a new folder of this name."),
                      QStringLiteral("NAME")});
}

int SyncCommand::execute(const QCommandLineParser& parser)
{
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\" (see --help)")
                        .arg(parser.positionalArguments().first()),
                    BadUsage);
    const bool write = parser.isSet(QStringLiteral("write"));
    for (const char* option : {"to", "no-backup", "force", "dockling"}) {
        if (!write && parser.isSet(QLatin1String(option)))
            return fail(QStringLiteral("--%1 only applies with --write").arg(QLatin1String(option)),
                        BadUsage);
    }
    if (write && parser.isSet(QStringLiteral("json")))
        return fail(QStringLiteral("--json prints a comparison; it cannot be combined with --write"),
                    BadUsage);
    SyncSession session;
    QString reason;
    const int usage = session.configure(parser, &reason);
    if (usage != Success)
        return fail(reason, usage);
    if (parser.isSet(QStringLiteral("missing-into")) &&
        parser.value(QStringLiteral("missing-into")).isEmpty())
        return fail(QStringLiteral("--missing-into needs a folder name"), BadUsage);
    if (!session.compare(&reason))
        return fail(reason);
    const QVFolderPtr tree = session.engine().defaultBookmarks();
    if (parser.isSet(QStringLiteral("missing-into")))
        session.moveMissingInto(parser.value(QStringLiteral("missing-into")));
    printReport(session, parser.isSet(QStringLiteral("json")));
    if (!write) {
        printOut("\nNothing written (add --write to write the destinations).\n");
        return Success;
    }
    QStringList written;
    QStringList failed;
    session.setWritesDockling(parser.isSet(QStringLiteral("dockling")));
    if (!session.write(tree, parser.values(QStringLiteral("to")), !parser.isSet(QStringLiteral("no-backup")),
                       parser.isSet(QStringLiteral("force")), &written, &failed, &reason))
        return fail(reason);
    printOut("\n" + session.writeReport().toUtf8());
    if (!failed.isEmpty())
        return fail(QStringLiteral("could not write: %1").arg(failed.join(QStringLiteral(", "))));
    return Success;
}
