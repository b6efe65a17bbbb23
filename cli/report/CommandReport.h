#pragma once

#include "run/DeviceJob.h"
#include "run/Fleet.h"
#include "run/Outcome.h"

#include "download/FirmwareImage.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace cli {

// One value a command reports for each device: its key in the JSON document (null when the
// device did not give it) and its columns in CSV and in a table.
struct ResultField
{
    QString name;
    QString jsonHelp; // its JSON form as the help describes it
    std::function<QJsonValue(const Outcome &)> json;
    QStringList csvColumns;
    std::function<QStringList(const Outcome &)> csv;
};

// What the report knows of the run, whatever the command.
struct RunFacts
{
    QString commandName; // as typed
    QList<Target> targets; // in the order given
    // Looks for devices: only those that answered are listed, and an address without one is no
    // failure.
    bool search = false;
    JobSettings job;
    FleetSettings fleet;
};

// The human report's text for a device, failed or not.
using DeviceText = std::function<QString(const Outcome &)>;

// What a command adds to the report of its run; the report knows the command by this alone.
class CommandReport
{
public:
    virtual ~CommandReport() = default;

    // Its values for each device.
    virtual const QList<const ResultField *> &Fields() const = 0;
    // The human report's text for a device that succeeded.
    virtual QString SuccessText(const Outcome &outcome) const = 0;
    // The human report is one table at the end rather than a line per device.
    virtual bool Table() const = 0;
    // A dry run: only reads go out, if anything.
    virtual bool DryRun() const { return false; }
    // The blocks a flash writes to each device, for its progress; none for other commands.
    virtual std::optional<download::DownloadPlan> Download() const { return std::nullopt; }
    // Adds the command's own keys to the JSON document.
    virtual void AddToDocument(QJsonObject &document) const { Q_UNUSED(document); }
    // Said in the human report before the summary; empty for nothing.
    virtual QString Note() const { return QString(); }
    // The human report is the run's plan, with what each device said.
    virtual bool PlanReport() const { return false; }
    // No device is contacted: the plan is the whole run.
    virtual bool SendsNothing() const { return false; }
    virtual QString PlanText(const QList<Outcome> &outcomes, const RunFacts &run,
                             const DeviceText &deviceText) const
    {
        Q_UNUSED(outcomes);
        Q_UNUSED(run);
        Q_UNUSED(deviceText);
        return QString();
    }
};

} // namespace cli
