#pragma once

#include "run/DeviceJob.h"

#include "core/DeviceSession.h"

#include <QByteArray>

#include <optional>

// The exchanges that plans share; each sends one command on the job's connection and puts what
// the device answered into the job's outcome. A command's own steps live with the command.
namespace cli::steps {

// Opens the job's connection and lets it settle; every plan begins with it.
Step Connect();
// Closes the connection and waits `delayMs` before the next step (a new Connect()).
Step Disconnect(int delayMs);
// Runs `check` on what the job has so far, without a word to the device; it ends the step
// (or the job) itself.
Step Check(std::function<void(DeviceJob &job)> check);

// Into the outcome's `into`: its version, or the version read after a flash.
Step ReadVersion(std::optional<QString> Outcome::*into = &Outcome::version);
// Reads the version once more, after its own command, and fails unless it is what `read` (just
// read) holds. What arrives after the settle window cannot be told from an answer by order: a
// line the device sent by itself passes for one answer, not for two that agree.
Step ConfirmVersion(std::optional<QString> Outcome::*read);
Step ReadAddresses();
Step ReadMac();
// A refusal fails the job with `failure` (the window's text by default); an acceptance is told to
// `accepted`, if any, before the next step. An answer that does not come leaves the device's
// state unknown, and the job fails saying so.
Step SetAddresses(const core::DeviceSession::Addresses &addresses,
                  const QString &failure = QStringLiteral("IP Address Set Failed"),
                  std::function<void(DeviceJob &job)> accepted = {});
Step SetMac(const QByteArray &mac,
            const QString &failure = QStringLiteral("MAC Address Set Failed"));

} // namespace cli::steps
