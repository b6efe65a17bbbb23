#pragma once

#include "io/Targets.h"

#include "core/DeviceSession.h"
#include "download/FirmwareImage.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace cli {

struct CommandDef;

inline constexpr int DefaultConnectTimeoutMs = 3000;
inline constexpr int DefaultReplyTimeoutMs = 5000;
inline constexpr int DefaultSettleMs = 100;
inline constexpr int DefaultSizeWaitMs = download::DownloadSequence::SizeWaitTicks * 100;
inline constexpr int DefaultResultWaitMs = download::DownloadSequence::ResultWaitTicks * 100;
inline constexpr int DefaultVerifyDelayMs = 5000;

// apply: what one device is to hold. A value left empty in the plan is left as it is.
struct PlannedConfig
{
    std::array<std::optional<QByteArray>, 5> addresses; // in the window's order
    std::optional<QByteArray> mac;
};

// What every device of the run is asked; the same for all of them.
struct Request
{
    const CommandDef *command = nullptr;
    core::DeviceSession::Addresses addresses; // set-addresses, as typed
    QByteArray mac; // set-mac, as typed (the session upper-cases it)
    QByteArray image; // flash: at most what the download can write
    quint32 baseAddress = download::MainBaseAddress;
    int connectTimeoutMs = DefaultConnectTimeoutMs;
    int replyTimeoutMs = DefaultReplyTimeoutMs;
    // After connecting, what the device says before the first command is written is read and
    // ignored for this long: a greeting or a stale reply sent within it is never taken for an
    // answer. A line that comes later can be: see steps::ConfirmVersion().
    int settleMs = DefaultSettleMs;

    // flash
    int sizeWaitMs = DefaultSizeWaitMs;
    int resultWaitMs = DefaultResultWaitMs;
    std::optional<QString> skipVersion; // a device that runs it already is left alone
    std::optional<QString> verifyVersion; // read on a new connection after the flash
    int verifyDelayMs = DefaultVerifyDelayMs;
    // Attempts after the first, while no block byte has been written.
    int retries = 0;
    // Once this many devices have failed no further one is started; 0: no limit.
    int maxFailures = 0;
    // The first this many devices are done before any other starts; the others only if all of
    // them succeeded.
    int canary = 0;
    // flash: nothing is sent; apply: only the reads are.
    bool dryRun = false;

    // apply, by the device's label
    QHash<QString, PlannedConfig> plans;
};

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
