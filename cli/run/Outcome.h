#pragma once

#include "io/Targets.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace cli {

// A block of a download as the device answered it.
struct BlockResult
{
    quint32 address = 0;
    qint32 length = 0;
    QString result; // "Update Complete", the device's "Failed:..."/"Error:...", "Error!!(Timeout)"
};

// The block an interrupt cut short: announced, and `sent` of its bytes handed to the system (not
// all of which need have reached the device).
struct CutBlock
{
    quint32 address = 0;
    qint32 length = 0;
    qint64 sent = 0;
};

// How one device's part of the run ended (or where it stood when the run was interrupted).
// A value the device never gave stays empty.
struct Outcome
{
    Target target;
    bool ok = false;
    QString error; // one line; empty when ok
    double seconds = 0;
    std::optional<QString> version;
    std::optional<QStringList> addresses; // the five, in the window's order
    std::optional<QString> mac;
    QList<BlockResult> blocks;
    std::optional<CutBlock> cut;

    // "ok" or "failed", or what else became of the device: "skipped", "not started", "busy",
    // "interrupted"; apply: "unchanged", "changed", "would change"; a dry run: "planned".
    QString status;
    int attempts = 0; // connections tried for the device's part (not counting a verify's)
    std::optional<QString> versionAfter; // flash: read back on a new connection

    // apply: what differed from the plan as first read; where the device is after its IP was set
    struct Change
    {
        QString field; // "ip", ..., "mac"
        QString was;
        QString planned;
    };
    QList<Change> changes;
    // Where the device is when not at its own address: its IP was set, or it was found there.
    std::optional<QString> movedTo;
    // A command that sets, interrupted: what the interrupt left the device as ("untouched", "set
    // unacknowledged", "set not read back").
    std::optional<QString> left;
};

} // namespace cli
