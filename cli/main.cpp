// vendrik-cli: writes, reads and compares Мелдор-2 devices from a script, one device or
// up to 64 at once, on the same device-programming and serial-link code as the
// window program. See --help.

#include "base/CoreApplication.h"
#include "cli/Arguments.h"
#include "cli/Gang.h"
#include "cli/Run.h"
#include "platform/StopSignals.h"
#include "platform/VisibleText.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <cstdio>

namespace {

void PrintJson(const QJsonObject& Object) {
    std::fputs(QJsonDocument(Object).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void PrintText(const QString& Text) {
    std::fputs(Text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    // No widget anywhere: Qt Core alone, and every message box goes to standard error.
    TCoreApplication app(argc, argv);
    QString error;
    const std::optional<TArguments> args = ParseArguments(app.arguments().mid(1), error);
    if (!args) {
        std::fprintf(stderr, "vendrik-cli: %s\nПодробнее: vendrik-cli --help\n",
                     VisibleText(error).toUtf8().constData());
        return ExitBadArguments;
    }
    if (args->help) {
        std::fputs(HelpText().toUtf8().constData(), stdout);
        return ExitDone;
    }
    TStopSignals stop;
    if (!stop.Install())
        std::fputs("vendrik-cli: Ctrl+C не перехвачен: работа прервётся без закрытия порта\n",
                   stderr);

    if (args->ports.size() == 1) {
        const TRunResult result = RunOnDevice(*args, stop);
        if (args->json)
            PrintJson(ToJson(result));
        else
            PrintText(SummaryLine(result) + u'\n');
        return result.code;
    }

    // A program file that does not load fails the whole gang once, not once a device.
    if (args->command != TCommand::Read) {
        TRunResult check;
        if (!LoadProgramForRun(args->file, check)) {
            if (args->json)
                PrintJson(QJsonObject{{"outcome", OutcomeName(ExitFileError)},
                                      {"exitCode", int(ExitFileError)}});
            return ExitFileError;
        }
    }
    const TGangResult gang = RunGang(QCoreApplication::applicationFilePath(), *args, stop);
    if (args->json)
        PrintJson(GangJson(gang));
    else
        PrintText(GangTable(gang));
    return gang.code;
}
