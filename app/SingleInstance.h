#pragma once
// One running copy per program folder and user. The first copy holds a local
// server; a second copy finds it, tells the user and asks the first copy to
// bring its window back.

#include <QByteArray>
#include <QObject>
#include <QString>

class QLocalServer;

class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(const QString &programFolder, QObject *parent = nullptr);
    ~SingleInstance() override;

    /// The server name: the program title, the user id and a digest of the
    /// program folder, in the user's runtime folder when there is one.
    static QString ServerName(const QString &programFolder);
    QString serverName() const { return m_name; }

    /// Takes the name for this copy. False when another copy holds it. A name
    /// left behind by a copy that ended without removing it is taken over.
    bool claim();

    /// From a second copy: asks the copy holding the name to restore its
    /// window. True when the request was handed over.
    bool askFirstToRestore(int timeoutMs = 3000);

Q_SIGNALS:
    /// A second copy asked this one to show its window.
    void restoreRequested();

private:
    void onNewConnection();

    QString m_name;
    QLocalServer *m_server = nullptr;
};
