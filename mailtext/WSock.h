#pragma once
// Socket helpers shared by the program and the reply component.

#include <QAbstractSocket>
#include <QString>

/// The Japanese text of a Windows Sockets error number; "(n)" for numbers
/// without a text.
QString WSAErrorText(int number);

/// The Windows Sockets error number that stands for a Qt socket error.
int SocketErrorNumber(QAbstractSocket::SocketError error);

/// "step:" followed by the text of the error, e.g. "connect:接続が拒否された。".
QString SocketErrorMessage(const QString &step, QAbstractSocket::SocketError error);

class QTcpSocket;

/// Starts a non-blocking connect to server (a name is resolved without
/// blocking) on port, given as configured text; with encrypted (socket is
/// then a QSslSocket), the TLS handshake follows at once. A socket other than
/// a QSslSocket is opened unbuffered: its owner reads it directly. False,
/// with nothing started, when the port is not a number from 1 to 65535.
bool StartConnect(QTcpSocket *socket, const QString &server, const QString &port,
                  bool encrypted = false);

/// The error number reported for a port that is not a usable number.
inline constexpr int BadPortNumber = 10049;
