#pragma once

#include "Targets.h"

#include "core/DeviceSession.h"
#include "download/FirmwareImage.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace cli {

struct CommandDef;

inline constexpr int DefaultConnectTimeoutMs = 3000;
inline constexpr int DefaultReplyTimeoutMs = 5000;
inline constexpr int DefaultSettleMs = 100;

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
    // ignored for this long: a greeting or a stale reply is never taken for an answer.
    int settleMs = DefaultSettleMs;
};

struct BlockResult
{
    quint32 address = 0;
    qint32 length = 0;
    QString result; // "Update Complete", the device's "Failed:..."/"Error:...", "Error!!(Timeout)"
};

// The block an interrupt cut short: announced, and `written` of its bytes handed to the system.
struct CutBlock
{
    quint32 address = 0;
    qint32 length = 0;
    qint64 written = 0;
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
};

} // namespace cli
