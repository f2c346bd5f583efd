#include "TreeCommands.h"

#include "TreeJson.h"

#include "formats/DefaultBrowser.h"
#include "platform/StringTable.h"
#include "sync/SyncController.h"

#include <QFileInfo>

namespace {
const QString kFormatsList = AdapterRegistry::adapterNames().join(QStringLiteral(", "));

/// What a comparison does to every tree it reads.
void applyReadPasses(const QVFolderPtr& tree)
{
    SyncController::convertHTMLEscapeCharactersInFolder(tree);
    SyncController::stripIllegalCharactersInFolder(tree);
}

const QString kDefaultBrowserOption = QStringLiteral("default-browser");

QCommandLineOption defaultBrowserOption()
{
    return QCommandLineOption(
        kDefaultBrowserOption,
        QStringLiteral("Act as if NAME (e.g. Safari, Camino, Quorvit) were the default browser; "
                       "the Safari and Camino writers lay their files out by it. None by default."),
        QStringLiteral("NAME"));
}

/// The browser names the writers know, as the adapters spell them.
QStringList knownBrowserNames()
{
    QStringList names{QStringLiteral("Quorvit")};
    for (const char* key : {"Safari", "Navigator", "Shiira", "Firefox", "Mozilla", "Netscape",
                            "Internet Explorer", "iCab", "OmniWeb", "Opera", "URL Manager Pro"})
        names.append(QVLocalized(QLatin1String(key)));
    return names;
}

/// Installs the --default-browser choice; false (with the reason) for a name no browser has.
bool applyDefaultBrowserOption(const QCommandLineParser& parser, QString* reason)
{
    if (!parser.isSet(kDefaultBrowserOption))
        return true;
    const QString given = parser.value(kDefaultBrowserOption);
    const QStringList known = knownBrowserNames();
    for (const QString& name : known) {
        if (name.compare(given, Qt::CaseInsensitive) == 0) {
            setDefaultBrowserNameProvider([name] { return name; });
            return true;
        }
    }
    *reason = QStringLiteral("--default-browser: no browser is called \"%1\"; known: %2")
                  .arg(given, known.join(QStringLiteral(", ")));
    return false;
}

/// Why the file cannot be written, before anything is tried; empty when it can be.
QString unwritableReason(const QString& path)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (file.isDir())
        return QStringLiteral("%1: is a folder; name the file to write").arg(path);
    if (!folder.isDir())
        return QStringLiteral("%1: its folder does not exist").arg(path);
    if (!folder.isWritable() || (file.exists() && !file.isWritable()))
        return QStringLiteral("%1: you may not write there").arg(path);
    return QString();
}
} // namespace

QCommandLineOption formatOption(const QString& name, const QString& description)
{
    return QCommandLineOption(name,
                              description + QStringLiteral(" One of: ") + kFormatsList + QLatin1Char('.'),
                              QStringLiteral("FORMAT"));
}

std::unique_ptr<QVBrowser> readBookmarkFile(const QString& path, const QString& format, QString* reason)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *reason = QStringLiteral("%1: no such file").arg(path);
        return nullptr;
    }
    if (!info.isFile() || !info.isReadable()) {
        *reason = QStringLiteral("%1: not a readable file").arg(path);
        return nullptr;
    }
    std::unique_ptr<QVBrowser> adapter;
    if (format.isEmpty()) {
        QString rejections;
        adapter = AdapterRegistry::adapterForPath(path, nullptr, &rejections);
        if (!adapter) {
            *reason =
                QStringLiteral("%1: not a bookmark file of any known format (%2)").arg(path, rejections);
            return nullptr;
        }
    } else {
        const AdapterClass* adapterClass = AdapterRegistry::adapterClassNamed(format);
        adapter = adapterClass ? adapterClass->initWithPath(path) : nullptr;
        if (!adapter) {
            *reason = QStringLiteral("%1: cannot be read as %2").arg(path, format);
            return nullptr;
        }
    }
    if (!adapter->readBookmarkFile() || !adapter->bookmarks()) {
        *reason = QStringLiteral("%1: reading it as %2 bookmark file failed")
                      .arg(path, Command::withArticle(adapter->browserName()));
        return nullptr;
    }
    return adapter;
}

QString DumpCommand::summary() const
{
    return QStringLiteral("Reads a bookmark file and prints its tree as JSON.");
}

void DumpCommand::configure(QCommandLineParser& parser)
{
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The bookmark file to read."));
    parser.addOption(formatOption(QStringLiteral("as"), QStringLiteral("Read the file in this format.")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("decoded"),
        QStringLiteral(
            "Decode HTML character references and replace control characters, as a comparison does.")));
    parser.addOption(defaultBrowserOption());
}

int DumpCommand::execute(const QCommandLineParser& parser)
{
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return fail(QStringLiteral("expects exactly one FILE (see --help)"), BadUsage);
    const QString format = parser.value(QStringLiteral("as"));
    if (!format.isEmpty() && !AdapterRegistry::adapterClassNamed(format))
        return fail(QStringLiteral("unknown format \"%1\"; known: %2").arg(format, kFormatsList), BadUsage);
    QString reason;
    if (!applyDefaultBrowserOption(parser, &reason))
        return fail(reason, BadUsage);

    const auto adapter = readBookmarkFile(files.first(), format, &reason);
    if (!adapter)
        return fail(reason);
    if (parser.isSet(QStringLiteral("decoded")))
        applyReadPasses(adapter->bookmarks());
    printOut(TreeJson::toJson(*adapter->bookmarks()) + '\n');
    return Success;
}

QString ConvertCommand::summary() const
{
    return QStringLiteral("Reads a bookmark file and writes it in another browser's format.");
}

void ConvertCommand::configure(QCommandLineParser& parser)
{
    parser.addPositionalArgument(QStringLiteral("IN"), QStringLiteral("The bookmark file to read."));
    parser.addPositionalArgument(QStringLiteral("OUT"),
                                 QStringLiteral("The file to write (replaced atomically)."));
    parser.addOption(formatOption(QStringLiteral("to"), QStringLiteral("Write in this format (required).")));
    parser.addOption(formatOption(QStringLiteral("as"), QStringLiteral("Read IN in this format.")));
    parser.addOption(QCommandLineOption(
        QStringLiteral("raw"),
        QStringLiteral("Pass the tree from reader to writer untouched (no character passes).")));
    parser.addOption(defaultBrowserOption());
}

int ConvertCommand::execute(const QCommandLineParser& parser)
{
    const QStringList files = parser.positionalArguments();
    if (files.size() != 2)
        return fail(QStringLiteral("expects IN and OUT (see --help)"), BadUsage);
    const QString target = parser.value(QStringLiteral("to"));
    if (target.isEmpty())
        return fail(QStringLiteral("--to FORMAT is required; known: %1").arg(kFormatsList), BadUsage);
    const AdapterClass* writer = AdapterRegistry::adapterClassNamed(target);
    if (!writer)
        return fail(QStringLiteral("unknown format \"%1\"; known: %2").arg(target, kFormatsList), BadUsage);
    const QString format = parser.value(QStringLiteral("as"));
    if (!format.isEmpty() && !AdapterRegistry::adapterClassNamed(format))
        return fail(QStringLiteral("unknown format \"%1\"; known: %2").arg(format, kFormatsList), BadUsage);
    QString reason;
    if (!applyDefaultBrowserOption(parser, &reason))
        return fail(reason, BadUsage);

    const auto adapter = readBookmarkFile(files.at(0), format, &reason);
    if (!adapter)
        return fail(reason);
    // Said before writing: the writer itself could only guess at why it failed.
    const QString unwritable = unwritableReason(files.at(1));
    if (!unwritable.isEmpty())
        return fail(unwritable);
    const QVFolderPtr tree = adapter->bookmarks();
    if (!parser.isSet(QStringLiteral("raw"))) {
        // What a migration does: clean what was read, then escape for the writer.
        applyReadPasses(tree);
        SyncController::convertHighASCIICharactersToHTMLInFolder(tree);
    }
    if (!writer->writeBookmarks(tree, files.at(1)))
        return fail(QStringLiteral("%1: writing it as %2 failed").arg(files.at(1), writer->id));
    return Success;
}
