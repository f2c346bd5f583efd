#include "BackupCommands.h"
#include "BrowsersCommand.h"
#include "CheckLinksCommand.h"
#include "Command.h"
#include "RemoteCommand.h"
#include "ShareCommand.h"
#include "SyncCommands.h"
#include "TreeCommands.h"
#include "UpdateCommand.h"

#include "platform/HeapTuning.h"

#include <QCoreApplication>

#include <memory>
#include <vector>

namespace {
std::vector<std::unique_ptr<Command>> commands()
{
    std::vector<std::unique_ptr<Command>> list;
    list.push_back(std::make_unique<DumpCommand>());
    list.push_back(std::make_unique<ConvertCommand>());
    list.push_back(std::make_unique<BrowsersCommand>());
    list.push_back(std::make_unique<BackupsCommand>());
    list.push_back(std::make_unique<RestoreCommand>());
    list.push_back(std::make_unique<MigrateCommand>());
    list.push_back(std::make_unique<CompareCommand>());
    list.push_back(std::make_unique<SyncCommand>());
    list.push_back(std::make_unique<RemoteCommand>());
    list.push_back(std::make_unique<ShareCommand>());
    list.push_back(std::make_unique<CheckLinksCommand>());
    list.push_back(std::make_unique<UpdateCommand>());
    return list;
}

void printUsage(FILE* stream)
{
    QByteArray text = "Usage: quorvit-cli COMMAND [OPTIONS]\n\n"
                      "Reads, converts and synchronises the bookmark files of web browsers.\n\n"
                      "Commands:\n";
    for (const auto& command : commands())
        text += "  " + QByteArray(command->name().toUtf8() + ' ').leftJustified(13) +
                command->summary().toUtf8() + '\n';
    text += "\nRun 'quorvit-cli COMMAND --help' for the options of one command.\n"
            "Exit status: 0 success, 1 failure, 2 bad usage.\n";
    std::fwrite(text.constData(), 1, size_t(text.size()), stream);
}
} // namespace

int main(int argc, char** argv)
{
    quorvit::tuneHeapForLargeTrees();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvit-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral("3.7.5"));

    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty()) {
        printUsage(stderr);
        return Command::BadUsage;
    }
    const QString verb = arguments.takeFirst();
    if (verb == QLatin1String("--help") || verb == QLatin1String("-h") || verb == QLatin1String("help")) {
        printUsage(stdout);
        return Command::Success;
    }
    if (verb == QLatin1String("--version")) {
        std::printf("quorvit-cli 3.7.5\n");
        return Command::Success;
    }
    for (const auto& command : commands()) {
        if (command->name() == verb)
            return command->run(arguments);
    }
    std::fprintf(stderr, "quorvit-cli: unknown command \"%s\"\n\n", qPrintable(verb));
    printUsage(stderr);
    return Command::BadUsage;
}
