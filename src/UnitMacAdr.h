#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class TFormMacAdr;
}

// The MAC address window: reads the device's MAC address and writes a new one.
class TFormMacAdr : public QWidget
{
    Q_OBJECT

public:
    explicit TFormMacAdr(QWidget *parent = nullptr);
    ~TFormMacAdr() override;

    QString StatusText() const;
    void SetStatusText(const QString &text);
    // Puts a MAC text into the field whole, whatever the typing limit.
    void SetMacText(const QString &text);

    Ui::TFormMacAdr *ui() const { return m_ui.get(); }

public Q_SLOTS:
    void BtnSetClick();
    void BtnReadClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<Ui::TFormMacAdr> m_ui;
    bool m_shownOnce = false;
};

extern TFormMacAdr *FormMacAdr;
