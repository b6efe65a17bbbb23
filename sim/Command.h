#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QtGlobal>

namespace sim {
Q_NAMESPACE

enum class CommandKind { SetIp, ReqIp, SetMac, ReqMac, ReqVer, Download, Unknown };
Q_ENUM_NS(CommandKind)

// One command line as the device understands it. The line is given without its CR.
//
// The request commands must match exactly. For the three commands with an argument list the
// keyword before the first '(' decides the kind, and `valid` says whether the rest has the
// expected shape, so that a garbled set command is still answered with its failure reply.
struct Command
{
    CommandKind kind = CommandKind::Unknown;
    // The line has the command's full shape: the argument list in parentheses closing the line
    // and, for Download, two numbers that each fit in 32 bits.
    bool valid = false;
    // SetIp: the texts between the commas; SetMac: the whole text in the parentheses;
    // Download: the two number texts ("0x01000000", "0x20000").
    QList<QByteArray> arguments;
    // Download only, meaningful when valid.
    quint32 address = 0;
    quint32 length = 0;
    // Download only: written exactly as the tool writes it, eight lower-case digits for the
    // address and the length in lower-case without leading zeros. Other spellings are still
    // taken (any case, any width that fits); this flag lets tests hold the tool to its form.
    bool exactForm = false;
};

Command parseCommand(QByteArrayView line);

// Four dot-separated decimal numbers of one to three digits, each at most 255. Nothing else:
// no blanks, signs or fewer parts. Zero-padded groups ("192.168.000.010") are decimal.
bool isDottedDecimalIpv4(QByteArrayView text);

// Exactly twelve hexadecimal digits, either case, no separators.
bool isMacText(QByteArrayView text);

const char *commandKindName(CommandKind kind);

} // namespace sim
