#include "Pop3Jobs.h"

#include "Cp932.h"
#include "Messages.h"
#include "OAuthTokens.h"
#include "WSock.h"

#include <QPointer>

namespace {
constexpr int TimedOutNumber = 10060;

QByteArray FirstLineBytes(const QByteArray &reply)
{
    const qsizetype end = reply.indexOf("\r\n");
    return end < 0 ? reply : reply.left(end);
}

QString FirstLine(const QByteArray &reply)
{
    return Cp932::Decode(FirstLineBytes(reply));
}

/// A listing's line as shown in a failure: printable and short.
QString ShownLine(const QByteArray &line)
{
    constexpr qsizetype MaxShown = 80;
    QString shown = Cp932::Decode(line.left(MaxShown));
    for (QChar &c : shown) {
        if (c.unicode() < 0x20)
            c = QLatin1Char('?');
    }
    return line.size() > MaxShown ? shown + QStringLiteral("...") : shown;
}

/// Two multi-line answers carry the same lines after their status lines.
bool SameListing(const QByteArray &a, const QByteArray &b)
{
    const qsizetype aStart = a.indexOf("\r\n"), bStart = b.indexOf("\r\n");
    return aStart >= 0 && bStart >= 0 &&
           QByteArrayView(a).sliced(aStart) == QByteArrayView(b).sliced(bStart);
}

} // namespace

int StatMessageCount(const QByteArray &reply)
{
    const QByteArray line = FirstLineBytes(reply);
    const qsizetype blank = line.indexOf(' ');
    if (blank < 0)
        return -1;
    const QByteArray rest = line.mid(blank + 1).trimmed();
    const qsizetype next = rest.indexOf(' ');
    bool ok = false;
    const int count = (next < 0 ? rest : rest.left(next)).toInt(&ok);
    return ok && count >= 0 ? count : -1;
}

bool ReadListing(const QByteArray &answer, int count, QList<QByteArray> *fields,
                 QByteArray *badLine)
{
    fields->clear();
    // Never more than the answer's lines, whatever STAT claimed.
    fields->reserve(qMin<qsizetype>(count, answer.size() / 4));
    const char *data = answer.constData();
    const qsizetype size = answer.size();
    qsizetype pos = answer.indexOf("\r\n");
    pos = pos < 0 ? size : pos + 2;
    while (pos < size) {
        qsizetype end = answer.indexOf("\r\n", pos);
        if (end < 0)
            end = size;
        QByteArrayView line(data + pos, end - pos);
        pos = end + 2;
        if (line == ".")
            break;
        if (line.startsWith(".")) // dot-stuffed
            line = line.sliced(1);
        const qsizetype blank = line.indexOf(' ');
        bool ok = blank > 0;
        const int number = ok ? line.first(blank).toInt(&ok) : 0;
        QByteArrayView field = ok ? line.sliced(blank + 1).trimmed() : QByteArrayView();
        if (const qsizetype more = field.indexOf(' '); more >= 0) // LIST may add more
            field = field.first(more);
        // A unique-id (or a size) is printable ASCII without blanks.
        for (const char c : field)
            ok = ok && c > 0x20 && c < 0x7f;
        if (!ok || number != fields->size() + 1 || field.isEmpty() || fields->size() >= count) {
            *badLine = line.toByteArray();
            return false;
        }
        fields->append(field.toByteArray());
    }
    if (fields->size() != count) {
        *badLine = FirstLineBytes(answer);
        return false;
    }
    return true;
}

Pop3Job::Pop3Job(const Pop3Settings &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_tokens(settings.oauth.tokens)
{
    newLine();
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &Pop3Job::onDeadline);
}

void Pop3Job::newLine()
{
    m_line = std::make_unique<LineSession>(m_settings.limits);
    LineSession *line = m_line.get();
    connect(line, &LineSession::statusText, this, &Pop3Job::statusText);
    connect(line, &LineSession::replied, this, &Pop3Job::onReply);
    connect(line, &LineSession::failed, this, &Pop3Job::failed);
    connect(line, &LineSession::closed, this, [this] {
        m_deadline.stop();
        Q_EMIT closed();
    });
    connect(line, &LineSession::secured, this, &Pop3Job::login);
}

void Pop3Job::login()
{
    if (m_settings.oauth.enabled)
        command(Pop3State::Capa, QStringLiteral("CAPA"), ReplyForm::Pop3MultiLine);
    else
        command(Pop3State::User, QStringLiteral("USER ") + m_settings.userId);
}

void Pop3Job::authenticate(const QByteArray &capabilities)
{
    QByteArrayList offered;
    for (const QByteArray &line : capabilities.split('\n')) {
        const QByteArrayList words = line.simplified().split(' ');
        if (words.value(0).toUpper() == "SASL")
            offered += words.mid(1);
    }
    m_mechanism = ChooseSaslMechanism(offered);
    // The token goes in a line of its own: it is too long for the command.
    command(Pop3State::Auth, QStringLiteral("AUTH ") + SaslMechanismName(m_mechanism),
            ReplyForm::Pop3Sasl);
}

void Pop3Job::onContinuation(const LineReply &reply)
{
    const QString hidden = QStringLiteral("AUTH ****");
    if (m_state == Pop3State::Auth) {
        command(Pop3State::AuthToken,
                QString::fromLatin1(SaslOAuthResponse(m_mechanism, m_settings.oauth,
                                                      m_settings.server, m_settings.port)),
                ReplyForm::Pop3Sasl, hidden);
    } else if (m_state == Pop3State::AuthToken) {
        // A refusal, told as a challenge; the final "-ERR" follows the answer.
        m_tokenRefused = true;
        command(Pop3State::AuthError, QString::fromLatin1(SaslErrorAnswer(m_mechanism)),
                ReplyForm::Pop3Line, hidden);
    } else {
        fail(QStringLiteral("recv:") + FirstLine(reply.bytes));
    }
}

void Pop3Job::start()
{
    m_state = Pop3State::Idle;
    m_due.setRemainingTime(m_settings.bounds.allowanceMs);
    m_deadline.start(m_settings.bounds.allowanceMs);
    // A fresh token first; the deadline covers the wait for it too.
    const auto then = [this](const QString &error) {
        if (m_line->isClosed()) // past the deadline already
            return;
        if (error.isEmpty())
            start();
        else
            failBeforeConnecting(QStringLiteral("AUTH:") + error);
    };
    if (m_settings.tls.configError.isEmpty() &&
        OAuthTokens::fetchFor(&m_settings.oauth, this, then))
        return;
    const OAuthLogin &oauth = m_settings.oauth;
    if (oauth.enabled && oauth.accessToken.isEmpty() && m_settings.tls.configError.isEmpty()) {
        failBeforeConnecting(QStringLiteral("AUTH:") + Msg::NotSignedIn);
        return;
    }
    for (const QString &argument : oauth.enabled
                                       ? QStringList{oauth.user, oauth.accessToken}
                                       : QStringList{m_settings.userId, m_settings.password}) {
        if (!IsSafeArgument(argument)) {
            // Never sent: it would end the command early and start another.
            const QString shown = oauth.enabled                     ? QStringLiteral("AUTH")
                                  : argument == m_settings.password ? QStringLiteral("PASS")
                                                                    : QStringLiteral("USER");
            failBeforeConnecting(shown + QLatin1Char(':') + Msg::UnsafeArgument + shown);
            return;
        }
    }
    m_line->open(m_settings.server, m_settings.port, ReplyForm::Pop3Line, m_settings.tls);
}

void Pop3Job::failBeforeConnecting(const QString &errorText)
{
    QTimer::singleShot(0, this, [this, errorText] {
        Q_EMIT failed(errorText);
        m_line->abort();
    });
}

void Pop3Job::extendDeadline(qint64 bytes)
{
    const qint64 rate = qMax<qint64>(1, m_settings.bounds.minBytesPerSecond);
    const qint64 ms = bytes / rate * 1000 + bytes % rate * 1000 / rate;
    m_due += ms;
    m_deadline.start(int(qBound<qint64>(0, m_due.remainingTime(), qint64(INT_MAX))));
}

void Pop3Job::onDeadline()
{
    if (m_line->isClosed())
        return;
    // Whatever the server is doing, the session is over: nothing of the desk
    // waits on it any longer.
    QPointer<Pop3Job> self(this);
    Q_EMIT failed(QStringLiteral("recv:") + WSAErrorText(TimedOutNumber));
    if (self)
        m_line->abort();
}

void Pop3Job::command(Pop3State next, const QString &text, ReplyForm form, const QString &shown)
{
    m_state = next;
    m_line->send(Cp932::Encode(text), form, shown.isEmpty() ? text : shown);
}

void Pop3Job::quit(bool shown)
{
    if (m_line->isClosed())
        return;
    const bool loggingIn = m_state == Pop3State::Pass || m_state == Pop3State::AuthToken ||
                           m_state == Pop3State::AuthError;
    if (!m_loggedIn && !loggingIn) {
        m_line->abort();
        return;
    }
    m_state = Pop3State::Quit;
    if (shown && m_line->isIdle())
        Q_EMIT statusText(QStringLiteral("QUIT"));
    m_line->quit("QUIT");
}

void Pop3Job::fail(const QString &errorText)
{
    if (m_tokenRefused && m_tokens && !std::exchange(m_retried, true)) {
        // A token the server refused may only be stale: once more with a
        // fresh one, over a connection of its own, as the SMTP job does.
        // Nothing but the login was sent.
        LineSession *old = m_line.release();
        old->disconnect(this);
        old->abort();
        old->deleteLater();
        newLine();
        m_tokenRefused = false;
        m_tokens->dropAccessToken();
        m_settings.oauth.accessToken.clear();
        m_settings.oauth.tokens = m_tokens;
        start();
        return;
    }
    QPointer<Pop3Job> self(this);
    Q_EMIT failed(errorText);
    if (!self)
        return;
    if (m_loggedIn)
        quit();
    else
        m_line->abort();
}

void Pop3Job::failUnreadable(const QString &step, const QByteArray &line)
{
    fail(step + QLatin1Char(':') + Msg::UnreadableAnswer + QStringLiteral("\r\n") +
         ShownLine(line));
}

bool Pop3Job::readListing(const LineReply &reply, const QString &step, QList<QByteArray> *fields)
{
    QByteArray bad;
    if (!reply.tooLarge && ReadListing(reply.bytes, m_count, fields, &bad))
        return true;
    failUnreadable(step, reply.tooLarge ? reply.bytes : bad);
    return false;
}

void Pop3Job::negative(const QString &line)
{
    fail(QStringLiteral("recv:") + line);
}

void Pop3Job::onReply(const LineReply &reply)
{
    const QString line = FirstLine(reply.bytes);
    if (IsContinuation(reply.bytes)) {
        onContinuation(reply);
        return;
    }
    if (!IsPositive(reply.bytes)) {
        Q_EMIT statusText(line);
        if (m_state == Pop3State::Capa) {
            authenticate(QByteArray()); // no capabilities told: XOAUTH2
            return;
        }
        if (m_state == Pop3State::AuthToken || m_state == Pop3State::AuthError)
            m_tokenRefused = true;
        if (m_state == Pop3State::Stls)
            fail(QStringLiteral("STLS:") + Msg::TlsNotOffered.arg(QStringLiteral("STLS")) +
                 QStringLiteral("\r\n") + line);
        else if (m_loggedIn)
            negative(line);
        else
            fail(QStringLiteral("recv:") + line);
        return;
    }
    if (!reply.tooLarge)
        Q_EMIT statusText(line);
    switch (m_state) {
    case Pop3State::Idle:
        Q_EMIT greeted();
        if (m_settings.tls.mode == TlsMode::Upgrade)
            command(Pop3State::Stls, QStringLiteral("STLS"));
        else
            login();
        return;
    case Pop3State::Stls:
        m_line->startTls();
        return;
    case Pop3State::User:
        command(Pop3State::Pass, QStringLiteral("PASS ") + m_settings.password, ReplyForm::Pop3Line,
                QStringLiteral("PASS ") + QString(m_settings.password.size(), QLatin1Char('*')));
        return;
    case Pop3State::Capa:
        authenticate(reply.bytes);
        return;
    case Pop3State::AuthError:
        fail(QStringLiteral("recv:") + line);
        return;
    case Pop3State::Auth:
    case Pop3State::AuthToken:
    case Pop3State::Pass:
        m_loggedIn = true;
        command(Pop3State::Stat, QStringLiteral("STAT"));
        return;
    case Pop3State::Stat:
        m_count = StatMessageCount(reply.bytes);
        if (m_count < 0) {
            // Read as an empty mailbox, it would make every memo new again.
            failUnreadable(QStringLiteral("STAT"), FirstLineBytes(reply.bytes));
            return;
        }
        extendDeadline(qint64(m_count) * m_settings.bounds.listingLineBytes * 2);
        listed(m_count);
        return;
    default:
        positive(reply);
        return;
    }
}

Pop3Check::Pop3Check(const Pop3Settings &settings, Wanted wanted, QObject *parent)
    : Pop3Job(settings, parent), m_wanted(std::move(wanted))
{
    connect(this, &Pop3Job::closed, this, [this] {
        if (m_complete)
            Q_EMIT checkFinished(m_count == 0);
    });
}

void Pop3Check::listed(int count)
{
    if (count == 0) {
        m_state = Pop3State::Empty;
        Q_EMIT statusText(Msg::NoMessage);
        m_complete = true;
        quit(false);
        return;
    }
    command(Pop3State::Uidl, QStringLiteral("UIDL"), ReplyForm::Pop3MultiLine);
}

void Pop3Check::positive(const LineReply &reply)
{
    switch (m_state) {
    case Pop3State::Uidl: {
        if (!reply.tooLarge && SameListing(reply.bytes, m_knownListing)) {
            // Line for line the listing of the last check: nothing to look at.
            m_unchanged = true;
            m_uidlAnswer = m_knownListing;
            finish();
            return;
        }
        QList<QByteArray> uids;
        if (!readListing(reply, QStringLiteral("UIDL"), &uids))
            return;
        m_uidlAnswer = reply.bytes;
        m_fetchAll = !m_wanted;
        if (m_wanted)
            m_fetch = m_wanted(uids);
        if (m_fetch.isEmpty() && !m_fetchAll) {
            finish();
            return;
        }
        command(Pop3State::List, QStringLiteral("LIST"), ReplyForm::Pop3MultiLine);
        return;
    }
    case Pop3State::List: {
        QList<QByteArray> sizes;
        if (!readListing(reply, QStringLiteral("LIST"), &sizes))
            return;
        for (int n = 1; m_fetchAll && n <= m_count; ++n)
            m_fetch.append(n);
        qint64 bytes = 0;
        m_skip.fill(false, m_fetch.size());
        for (qsizetype i = 0; i < m_fetch.size(); ++i) {
            bool ok = false;
            const qint64 size = sizes.value(m_fetch[i] - 1).toLongLong(&ok);
            if (!ok || size < 0) {
                failUnreadable(QStringLiteral("LIST"), sizes.value(m_fetch[i] - 1));
                return;
            }
            // Too large to keep by its size alone: not one byte of it is fetched.
            m_skip[i] = size > m_settings.limits.maxAnswer;
            bytes += m_skip[i] ? 0 : size;
        }
        extendDeadline(bytes);
        m_next = 0;
        retrieveNext(std::nullopt);
        return;
    }
    case Pop3State::Retr:
        // The next command goes out before this answer is looked at: the
        // server works on it meanwhile. Still one command at a time.
        retrieveNext(std::pair{m_fetch.at(m_next - 1), reply});
        return;
    default:
        return;
    }
}

void Pop3Check::negative(const QString &line)
{
    if (m_state == Pop3State::Uidl) {
        // No unique-ids on this server: every message is read, as the only
        // way left to tell them apart (listed once LIST has shown them).
        m_fetchAll = true;
        command(Pop3State::List, QStringLiteral("LIST"), ReplyForm::Pop3MultiLine);
        return;
    }
    Pop3Job::negative(line);
}

void Pop3Check::retrieveNext(const std::optional<std::pair<int, LineReply>> &answer)
{
    // Messages too large by their listed size are told in their place in order.
    qsizetype next = m_next;
    while (next < m_fetch.size() && m_skip[next])
        ++next;
    const qsizetype skippedFrom = m_next;
    m_next = next + 1;
    if (next < m_fetch.size())
        command(Pop3State::Retr, QStringLiteral("RETR ") + QString::number(m_fetch[next]),
                ReplyForm::Pop3MultiLine);
    const QPointer<Pop3Check> self(this);
    if (answer)
        Q_EMIT messageRetrieved(answer->first, answer->second.bytes, answer->second.tooLarge);
    for (qsizetype i = skippedFrom; self && i < next; ++i)
        Q_EMIT messageRetrieved(m_fetch[i], QByteArray(), true);
    if (self && next >= m_fetch.size())
        finish();
}

void Pop3Check::finish()
{
    if (m_line->isClosed() || m_line->isEnding())
        return;
    m_complete = true;
    Q_EMIT statusText(QString());
    quit(false);
}

Pop3Delete::Pop3Delete(const Pop3Settings &settings, const QByteArray &uid, const QString &key,
                       KeyOf keyOf, QObject *parent)
    : Pop3Job(settings, parent), m_uid(uid), m_key(key), m_keyOf(std::move(keyOf))
{
}

void Pop3Delete::listed(int count)
{
    if (count == 0) {
        Q_EMIT notFound();
        quit();
    } else if (!m_uid.isEmpty()) {
        command(Pop3State::Uidl, QStringLiteral("UIDL"), ReplyForm::Pop3MultiLine);
    } else {
        retrieveNext();
    }
}

void Pop3Delete::retrieveNext()
{
    if (m_index >= m_count) {
        Q_EMIT notFound();
        quit();
        return;
    }
    ++m_index;
    command(Pop3State::Retr, QStringLiteral("RETR ") + QString::number(m_index),
            ReplyForm::Pop3MultiLine);
}

void Pop3Delete::deleteMessage(int number)
{
    command(Pop3State::Dele, QStringLiteral("DELE ") + QString::number(number));
}

void Pop3Delete::positive(const LineReply &reply)
{
    switch (m_state) {
    case Pop3State::Uidl: {
        QList<QByteArray> uids;
        if (!readListing(reply, QStringLiteral("UIDL"), &uids))
            return;
        const qsizetype at = uids.indexOf(m_uid);
        if (at < 0) {
            Q_EMIT notFound();
            quit();
            return;
        }
        deleteMessage(int(at + 1));
        return;
    }
    case Pop3State::Retr:
        if (m_keyOf(reply.bytes, reply.tooLarge) == m_key)
            deleteMessage(m_index);
        else
            retrieveNext();
        return;
    case Pop3State::Dele:
        // Marked only: the server removes it when the session ends well.
        command(Pop3State::Quit, QStringLiteral("QUIT"));
        return;
    case Pop3State::Quit:
        Q_EMIT deleted();
        m_line->abort();
        return;
    default:
        return;
    }
}

void Pop3Delete::negative(const QString &line)
{
    if (m_state == Pop3State::Quit) {
        // The server did not commit the session: the memo is still there.
        QPointer<Pop3Delete> self(this);
        Q_EMIT failed(QStringLiteral("recv:") + line);
        if (self)
            m_line->abort();
        return;
    }
    Pop3Job::negative(line);
}
