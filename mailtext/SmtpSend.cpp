#include "SmtpSend.h"

#include "Cp932.h"
#include "Messages.h"
#include "WSock.h"

#include <QTimer>

namespace {
constexpr int TimedOutNumber = 10060;

QString ReplyText(const QByteArray &reply)
{
    QByteArray text = reply;
    if (text.endsWith("\r\n"))
        text.chop(2);
    return Cp932::Decode(text);
}

/// An argument as it can be shown: control characters become "?".
QString Shown(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20)
            c = QLatin1Char('?');
    }
    return text;
}
} // namespace

QByteArray SmtpDataBlock(const QByteArray &mailText)
{
    QByteArray out;
    out.reserve(mailText.size() + mailText.size() / 32 + 8);
    qsizetype pos = 0;
    while (pos < mailText.size()) {
        qsizetype end = mailText.indexOf("\r\n", pos);
        if (end < 0)
            end = mailText.size();
        // A line that begins with "." gets one more in front, the first line included.
        if (mailText.at(pos) == '.')
            out += '.';
        out.append(mailText.constData() + pos, end - pos);
        out += "\r\n";
        pos = end + 2;
    }
    out += "\r\n.\r\n";
    return out;
}

SmtpSend::SmtpSend(const Settings &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_line(settings.limits)
{
    connect(&m_line, &LineSession::statusText, this, &SmtpSend::statusText);
    connect(&m_line, &LineSession::replied, this, &SmtpSend::onReply);
    connect(&m_line, &LineSession::failed, this, &SmtpSend::onFailed);
    connect(&m_line, &LineSession::closed, this, &SmtpSend::closed);
}

void SmtpSend::sendMail(const QString &fromAddress, const QStringList &recipients,
                        const QByteArray &mailText)
{
    m_from = fromAddress;
    m_recipients.clear();
    for (const QString &r : recipients) {
        if (!r.trimmed().isEmpty())
            m_recipients.append(r.trimmed());
    }
    m_mail = mailText;
    m_state = State::Greeting;
    // Checked before connecting: such an argument would end its command early
    // and smuggle in one of its own.
    QString unsafe;
    if (!IsSafeArgument(m_settings.heloName))
        unsafe = QStringLiteral("HELO:") + Msg::UnsafeArgument + Shown(m_settings.heloName);
    else if (!IsSafeArgument(m_from))
        unsafe = QStringLiteral("MAIL FROM:") + Msg::UnsafeArgument + Shown(m_from);
    for (const QString &r : std::as_const(m_recipients)) {
        if (unsafe.isEmpty() && !IsSafeArgument(r))
            unsafe = QStringLiteral("RCPT TO:") + Msg::UnsafeArgument + Shown(r);
    }
    if (!unsafe.isEmpty()) {
        QTimer::singleShot(0, this, [this, unsafe] {
            fail(unsafe);
            m_line.abort();
        });
        return;
    }
    m_line.open(m_settings.server, m_settings.port, ReplyForm::Smtp);
}

void SmtpSend::cancel()
{
    m_done = true;
    m_line.abort();
}

void SmtpSend::command(State next, const QString &text)
{
    m_state = next;
    m_line.send(Cp932::Encode(text), ReplyForm::Smtp, text);
}

void SmtpSend::fail(const QString &errorText)
{
    if (m_done)
        return;
    m_done = true;
    Q_EMIT failed(errorText);
    m_line.abort();
}

void SmtpSend::onFailed(const QString &errorText)
{
    if (m_done)
        return; // the mail was accepted; how the connection ends does not matter
    QString text = errorText;
    if (m_state == State::EndOfData &&
        errorText == QStringLiteral("recv:") + WSAErrorText(TimedOutNumber)) {
        // The server has the whole mail and did not answer: it may have stored it.
        text += QStringLiteral("\r\n") + Msg::MayBeDelivered;
    }
    m_done = true;
    Q_EMIT failed(text);
}

void SmtpSend::onReply(const LineReply &reply)
{
    const QString text = ReplyText(reply.bytes);
    Q_EMIT statusText(text);
    const QByteArray code = reply.bytes.left(3);
    auto expect = [&](const char *wanted) {
        if (code == wanted)
            return true;
        QString error = QStringLiteral("recv:") + text;
        if (m_state == State::Rcpt || m_state == State::LastRcpt) {
            if (!m_lastRecipient.isEmpty())
                error += QStringLiteral("\r\n") + Msg::RefusedRecipient + Shown(m_lastRecipient);
        }
        fail(error);
        return false;
    };
    switch (m_state) {
    case State::Greeting:
        if (expect("220"))
            command(State::Helo, QStringLiteral("HELO ") + m_settings.heloName);
        return;
    case State::Helo:
        if (!expect("250"))
            return;
        if (m_recipients.isEmpty()) {
            fail(QStringLiteral("recv:") + text); // nobody to send to: nothing goes out
            return;
        }
        command(State::Rcpt, QStringLiteral("MAIL FROM:<") + m_from + QLatin1Char('>'));
        return;
    case State::Rcpt:
        if (!expect("250"))
            return;
        m_lastRecipient = m_recipients.takeFirst();
        command(m_recipients.isEmpty() ? State::LastRcpt : State::Rcpt,
                QStringLiteral("RCPT TO:<") + m_lastRecipient + QLatin1Char('>'));
        return;
    case State::LastRcpt:
        if (expect("250"))
            command(State::Data, QStringLiteral("DATA"));
        return;
    case State::Data: {
        if (!expect("354"))
            return;
        m_state = State::EndOfData;
        const QByteArray block = SmtpDataBlock(m_mail);
        // The last line of the mail shows while the server takes the data.
        const qsizetype lastLineEnd = block.size() - 7;
        const qsizetype lastLineStart = block.lastIndexOf("\r\n", lastLineEnd - 1);
        const qsizetype from = lastLineStart < 0 ? 0 : lastLineStart + 2;
        Q_EMIT statusText(QString::fromLatin1(block.mid(from, lastLineEnd - from)));
        m_line.sendBlock(block, ReplyForm::Smtp);
        return;
    }
    case State::EndOfData:
        if (!code.startsWith('2')) {
            fail(QStringLiteral("recv:") + text);
            return;
        }
        m_done = true;
        m_state = State::Quit;
        Q_EMIT sent();
        // A polite end: the server would log an abrupt close otherwise.
        m_line.quit("QUIT");
        return;
    case State::Quit:
        return;
    }
}
