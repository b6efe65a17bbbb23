#include "UnitMacAdr.h"
#include "ui_UnitMacAdr.h"

#include "gui/FormUtil.h"
#include "UnitComNet.h"
#include "UnitMain.h"
#include "core/DeviceSession.h"
#include "gui/EditLimit.h"
#include "protocol/Commands.h"

#include <QShowEvent>

TFormMacAdr *FormMacAdr = nullptr;

TFormMacAdr::TFormMacAdr(QWidget *parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::TFormMacAdr>())
{
    m_ui->setupUi(this);
    UseFixedDialogFrame(this);
    setAttribute(Qt::WA_QuitOnClose, false);
    gui::LimitText(m_ui->EdtMacAdr, m_ui->EdtMacAdr->property("typingLimit").toInt());
    connect(m_ui->BtnSet, &QPushButton::clicked, this, &TFormMacAdr::BtnSetClick);
    connect(m_ui->BtnRead, &QPushButton::clicked, this, &TFormMacAdr::BtnReadClick);
}

TFormMacAdr::~TFormMacAdr() = default;

void TFormMacAdr::showEvent(QShowEvent *event)
{
    if (IsProgramShow(event) && !m_shownOnce) {
        m_shownOnce = true;
        CenterOver(this, FormMain);
    }
    QWidget::showEvent(event);
}

QString TFormMacAdr::StatusText() const
{
    return ::StatusText(m_ui->SBar);
}

void TFormMacAdr::SetStatusText(const QString &text)
{
    ::SetStatusText(m_ui->SBar, text);
}

void TFormMacAdr::SetMacText(const QString &text)
{
    gui::SetEditText(m_ui->EdtMacAdr, text);
}

void TFormMacAdr::BtnSetClick()
{
    if (protocol::Trim(m_ui->EdtMacAdr->text()).isEmpty())
        return;
    FormComNet->ConnectLink();
    // Untrimmed; the session upper-cases it.
    FormComNet->Session().SetMac(protocol::ToWire(m_ui->EdtMacAdr->text()));
    SetStatusText(QString());
}

void TFormMacAdr::BtnReadClick()
{
    m_ui->EdtMacAdr->clear();
    FormComNet->ConnectLink();
    FormComNet->Session().RequestMac();
    SetStatusText(QString());
}
