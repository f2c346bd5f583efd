#include "UpdateCommand.h"

#include "platform/UserDefaults.h"
#include "update/UpdateChecker.h"
#include "update/UpdateSchedule.h"

#include <QJsonDocument>
#include <QJsonObject>

QString UpdateCommand::summary() const
{
    return QStringLiteral("Checks whether a newer version of Quorvit exists.");
}

void UpdateCommand::configure(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("json"), QStringLiteral("Print the answer as one JSON object.")});
    parser.addOption({QStringLiteral("server"),
                      QStringLiteral("The update server to ask (default: the UpdateServerURL preference, "
                                     "else the maker's)."),
                      QStringLiteral("URL")});
}

int UpdateCommand::execute(const QCommandLineParser& parser)
{
    UpdateChecker checker;
    checker.setServerURL(parser.isSet(QStringLiteral("server"))
                             ? parser.value(QStringLiteral("server"))
                             : UpdateSchedule::serverURL(quorvit::UserDefaults::standard()));
    const UpdateChecker::Result result = checker.checkAndWait();
    if (!result.succeeded)
        return fail(QStringLiteral("could not reach the update server: %1").arg(result.error));

    const QString current = UpdateFiles::kCurrentVersion.toString();
    if (parser.isSet(QStringLiteral("json"))) {
        QJsonObject object{{QStringLiteral("current"), current},
                           {QStringLiteral("available"), result.version.toString()},
                           {QStringLiteral("newer"), result.newer}};
        if (result.newer) {
            object.insert(QStringLiteral("description"), result.description.text);
            object.insert(QStringLiteral("download"), result.description.urlPath);
        }
        printOut(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
    } else {
        QByteArray out = "current version: " + current.toUtf8() + '\n' +
                         "available version: " + result.version.toString().toUtf8() + '\n';
        if (result.newer) {
            out += "download: " + result.description.urlPath.toUtf8() + '\n';
            if (!result.description.text.isEmpty())
                out += '\n' + result.description.text.toUtf8() + '\n';
        } else {
            out += "Quorvit is up to date.\n";
        }
        printOut(out);
    }
    return result.newer ? int(NewerVersion) : int(Success);
}
