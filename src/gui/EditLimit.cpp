#include "EditLimit.h"

#include <QLineEdit>
#include <QPointer>
#include <QValidator>

namespace gui {

namespace {

class TypingLimit final : public QValidator
{
public:
    TypingLimit(QLineEdit *edit, int maxChars)
        : QValidator(edit), m_maxChars(maxChars), m_lastSize(edit->text().size())
    {
        connect(edit, &QLineEdit::textChanged, this,
                [this](const QString &text) { m_lastSize = text.size(); });
    }

    State validate(QString &input, int &pos) const override
    {
        const qsizetype cap = std::max<qsizetype>(m_maxChars, m_lastSize);
        if (input.size() <= cap)
            return Acceptable;
        // Keep what was there and as much of the insertion (which ends at the cursor) as fits.
        const qsizetype excess = input.size() - cap;
        if (pos < excess)
            return Invalid;
        input.remove(pos - excess, excess);
        pos -= static_cast<int>(excess);
        return Acceptable;
    }

private:
    int m_maxChars;
    qsizetype m_lastSize;
};

} // namespace

void LimitText(QLineEdit *edit, int maxChars)
{
    // QLineEdit would cut a longer text the program puts in; the typing limit is the validator.
    edit->setMaxLength(1 << 20);
    edit->setValidator(new TypingLimit(edit, maxChars));
}

void SetEditText(QLineEdit *edit, const QString &text)
{
    // Without the validator the text goes in whole and the field counts it as valid input, so
    // the limit applies again to the next keystroke.
    QPointer<const QValidator> validator = edit->validator();
    edit->setValidator(nullptr);
    edit->setText(text);
    edit->setValidator(validator.data());
}

} // namespace gui
