#pragma once
// vendrik-cli run as the operator's script runs it, against simulated devices on
// pseudo-terminals in this process.

#include "platform/ChildProcess.h"
#include "tests/common/TestSupport.h"
#include "tools/simdevice/SimDevice.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

struct CliRun {
    int code = -1; // -1: killed or timed out
    QByteArray out;
    QByteArray err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
    QString errText() const { return QString::fromUtf8(err); }
};

inline CliRun RunCli(const QStringList& Args, int TimeoutMs = 90000) {
    TChildProcess child;
    CliRun r;
    if (!child.Start(QStringLiteral(VENDRIK_CLI_BIN), Args))
        return r;
    const bool ended = child.WaitForExit(TimeoutMs);
    r.out = child.Output;
    r.err = child.Error;
    r.code = ended ? child.ExitCode() : -1;
    return r;
}

// A program image whose bytes differ from sector to sector and from 0xFF.
inline QByteArray Pattern(int Size, int Seed = 1) {
    QByteArray bytes(Size, '\0');
    for (int i = 0; i < Size; ++i)
        bytes[i] = char((i * 7 + i / 256 * 13 + Seed * 31) % 251);
    return bytes;
}

// A simulated device switched on by every opening of its port.
inline std::unique_ptr<sim::SimDevice> StartSim(const QStringList& Faults = {}) {
    sim::SimConfig config;
    for (const QString& text : Faults) {
        QString error;
        const auto rule = sim::ParseFaultRule(text, &error);
        if (!rule)
            return nullptr;
        config.faults.rules.push_back(*rule);
    }
    auto device = std::make_unique<sim::SimDevice>(config);
    if (!device->Start())
        return nullptr;
    return device;
}
