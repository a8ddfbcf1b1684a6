#pragma once
// The floor for a mail check: a minimal blocking POP3 client on plain POSIX
// sockets, one command at a time, each reply read whole before the next
// command goes out.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

struct FloorResult
{
    /// Connect to the last RETR answer read whole (QUIT not included).
    double seconds = 0;
    /// Mean time from the end of reading one answer (STAT's, then each RETR's)
    /// to the write of the next RETR: taking the reply apart, undoing the
    /// dot-stuffing and formatting the command. The digest is computed after
    /// the check and counts in neither figure.
    double clientUsPerRetr = 0;
    /// The message count STAT gave; all of them are retrieved.
    int messages = 0;
    /// SHA-1 over the contents of all RETR answers in order. A content is what
    /// follows the status line, dot-stuffing undone, up to but excluding the
    /// terminating "." line: the lines with their CRLFs, empty for an empty
    /// message.
    QByteArray digest;
    bool ok = false;
    QString error;
};

/// One check of 127.0.0.1:port: greeting, USER, PASS, STAT, RETR 1..n, QUIT.
/// With answers, each RETR answer is also kept as it came, status line to
/// terminating "." line, in mailbox order (a copy inside the timed loop:
/// leave it null for timed runs).
FloorResult RunFloorCheck(quint16 port, const char *user, const char *pass,
                          QList<QByteArray> *answers = nullptr);

struct FloorUidlResult
{
    /// Connect to the QUIT reply read whole.
    double seconds = 0;
    /// The message count STAT gave.
    int messages = 0;
    /// UIDL's content as it came: one "n unique-id" line each, with CRLFs,
    /// without the status line and the terminating "." line.
    QByteArray listing;
    bool ok = false;
    QString error;
};

/// One check that only lists the mailbox, as a desk that knows every memo
/// needs: greeting, USER, PASS, STAT, UIDL, QUIT.
FloorUidlResult RunFloorUidl(quint16 port, const char *user, const char *pass);
