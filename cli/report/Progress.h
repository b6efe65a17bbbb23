#pragma once

#include "run/Outcome.h"

#include "download/FirmwareImage.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

namespace cli {

class DeviceJob;
class Output;

// A flash's progress in the human report. On a terminal each running device has a live line
// (block k of n, bytes, percent, elapsed) kept at the bottom, and other lines are printed above
// them; otherwise each finished block gets a line of its own.
class Progress : public QObject
{
    Q_OBJECT

public:
    Progress(const download::DownloadPlan &plan, Output &output, bool live,
             QObject *parent = nullptr);

    void Watch(DeviceJob *job);
    // Prints a line above the live lines (or just prints it).
    void PrintOut(const QString &line);
    void PrintErr(const QString &line);
    void Forget(const DeviceJob *job);

private:
    struct Running
    {
        const DeviceJob *job = nullptr;
        int blocks = 0;
        qint64 bytes = 0;
    };

    QString LiveLine(const Running &running) const;
    void Clear();
    void Draw();

    int m_blocks;
    qint64 m_bytes;
    Output &m_output;
    bool m_live;
    QList<Running> m_running;
    int m_drawn = 0;
    QTimer m_redraw;
};

} // namespace cli
