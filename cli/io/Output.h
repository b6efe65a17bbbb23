#pragma once

#include <QString>

#include <functional>

namespace cli {

// Where a run's report, trace and errors go: standard output and error for the program, a
// buffer for whoever runs the tool in its own process.
class Output
{
public:
    virtual ~Output() = default;
    virtual void Out(const QString &text) = 0;
    virtual void Err(const QString &text) = 0;
    // Live lines are redrawn only on a terminal.
    virtual bool OutIsTerminal() const = 0;
    // Takes the last `lines` lines of output back off the terminal, leaving the cursor at the
    // start of the first of them.
    virtual void EraseLines(int lines);
    // Why a write failed ("standard output: No space left on device"); empty while none has.
    QString Failure() const { return m_failure; }
    // Called once, at the first write that fails.
    void OnFailure(std::function<void()> handler) { m_onFailure = std::move(handler); }
    // A write that failed, here or in a file the run writes beside (its log).
    void Failed(const QString &why);

private:
    QString m_failure;
    std::function<void()> m_onFailure;
};

// The process's standard output and error, written through at once.
class StandardOutput final : public Output
{
public:
    void Out(const QString &text) override;
    void Err(const QString &text) override;
    bool OutIsTerminal() const override;
    void EraseLines(int lines) override;
};

} // namespace cli
