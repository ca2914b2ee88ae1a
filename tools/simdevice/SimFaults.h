#pragma once
// Faults the simulated device can be told to commit, chosen per frame by a rule list
// or at random with a fixed seed so a failing run can be repeated.

#include <QString>
#include <optional>
#include <random>
#include <vector>

namespace sim {

enum class FaultKind {
    NoReply,     // the frame is taken but nothing is sent back
    Late,        // the reply leaves after `param` ms (default 400)
    WrongAck,    // a write is acknowledged with "E" instead of "!"
    BadChecksum, // a read reply whose checksum byte is off by one
    Short,       // a read reply of 259 bytes
    Long,        // a read reply of 261 bytes; a write acknowledgement with more text after "!"
    Noise,       // `param` noise bytes (default 3, never "!") precede the reply
    HangUp,      // the device drops the line (closes its side) instead of replying
    BadCell,     // a write is acknowledged but byte `param` of the sector is stored inverted
    Trail,       // a write is acknowledged, then a carriage return follows `param` ms later
                 // (default 400, after the write wait), as from a device echoing a line end
};

// Frame kinds as they appear on the wire.
constexpr char WriteOp = 'W';
constexpr char ReadOp = 'R';

struct FaultRule {
    char op = 0;     // WriteOp, ReadOp or 0 for both
    int sector = -1; // -1: every sector
    FaultKind kind = FaultKind::NoReply;
    int times = 1; // matching frames it hits; -1: all of them
    int param = 0; // Late, Trail: delay in ms; Noise: byte count; 0 takes the default
};

struct Fault {
    FaultKind kind;
    int param;
};

// Parses "OP:SECTOR:KIND[:TIMES[:PARAM]]", e.g. "W:3:noreply:1" or "R:*:late:-1:500";
// OP and SECTOR accept "*". Returns nothing and sets `error` when the text is malformed.
std::optional<FaultRule> ParseFaultRule(const QString& text, QString* error);
QString FaultKindName(FaultKind kind);

class FaultPlan {
public:
    std::vector<FaultRule> rules;
    double randomRate = 0; // chance per frame of a random fault, 0 to 1
    unsigned seed = 1;

    // The fault for this frame, if any; consumes one hit of the rule that matched.
    // A random fault only picks kinds that change the outcome of that frame kind.
    std::optional<Fault> take(char op, int sector);

private:
    std::mt19937 rng_{1};
    bool seeded_ = false;
};

} // namespace sim
