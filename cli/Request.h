#pragma once

#include "Targets.h"

#include "core/DeviceSession.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace cli {

enum class Command { Version, Addresses, SetAddresses, Mac, SetMac, Flash, Scan };

// What every device of the run is asked; the same for all of them.
struct Request
{
    Command command = Command::Version;
    core::DeviceSession::Addresses addresses; // set-addresses, as typed
    QByteArray mac; // set-mac, as typed (the session upper-cases it)
    QByteArray image; // flash: at most the 2 MiB the download can write
    quint32 baseAddress = 0;
    int connectTimeoutMs = 3000;
    int replyTimeoutMs = 5000;
};

struct BlockResult
{
    quint32 address = 0;
    qint32 length = 0;
    QString result; // "Update Complete", the device's "Failed:..."/"Error:...", "Error!!(Timeout)"
};

// How one device's part of the run ended (or where it stood when the run was interrupted).
struct Outcome
{
    Target target;
    bool ok = false;
    QString error; // one line; empty when ok
    double seconds = 0;
    QString version;
    QStringList addresses;
    QString mac;
    QList<BlockResult> blocks;
};

} // namespace cli
