#pragma once
// The command line of vendrik-cli: COMMAND FILE --port N|DEVICE [--port ...] [--verify]
// [--wait SECONDS] [--json] [--quiet] [--trace FILE], or --help.

#include <QString>
#include <QStringList>
#include <optional>

enum class TCommand { Write, Read, Compare };

struct TArguments {
    bool help = false;
    TCommand command = TCommand::Write;
    QString file;
    QStringList ports; // each "1".."8" or a path beginning with "/", in the order given
    bool verify = false;
    int waitMs = -1; // -1: wait for the device's announcement for ever
    bool json = false;
    bool quiet = false;
    QString trace; // empty: no wire trace; in a gang, each device's file is named after it
};

// Devices of one gang: a production bench's worth. COM numbers stay 1..8, so more than
// eight need device paths.
constexpr int MaxGangPorts = 64;

// Nullopt with the reason, in the operator's words, in Error.
std::optional<TArguments> ParseArguments(const QStringList& Args, QString& Error);

QString CommandName(TCommand Command);

QString HelpText();
