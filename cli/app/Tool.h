#pragma once

#include "app/Arguments.h"

#include <QFile>
#include <QObject>
#include <QStringList>

#include <memory>

namespace cli {

class Fleet;
class Output;
class Report;

// One run of the tool, in whatever process hosts it: the command line read in full, then every
// device, then the report and the exit status.
class Tool : public QObject
{
    Q_OBJECT

public:
    explicit Tool(Output &output, QObject *parent = nullptr);
    ~Tool() override;

    // Reads the command line (the program name first); QL_T36.ini is looked for in
    // `programFolder`. False when the run is over already, a usage error or the help written
    // out, with ExitStatus() set.
    bool Prepare(const QStringList &arguments, const QString &programFolder);
    // Contacts the devices; finished() follows from the event loop.
    void Start();
    // Stops every device at once, as the signal `signalNumber` asks; finished() follows.
    void Interrupt(int signalNumber);
    int ExitStatus() const { return m_exitStatus; }

Q_SIGNALS:
    void finished(int exitStatus);

private:
    void Finish(const QList<Outcome> &outcomes);
    // Raises the open-file limit to what the run needs; false, with the figures said, if it
    // cannot be.
    bool CheckOpenFiles();

    Output &m_output;
    Invocation m_invocation;
    std::unique_ptr<Fleet> m_fleet;
    std::unique_ptr<QFile> m_log;
    std::unique_ptr<Report> m_report;
    int m_exitStatus = 0;
    int m_signalNumber = 0;
    QString m_openFilesNote; // for the trace, once the report is there
};

} // namespace cli
