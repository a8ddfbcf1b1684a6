#pragma once
// The interfaces by which the program reaches its two plugin components.
// Only calls cross; results carry no information and callers ignore them.

#include <QObject>
#include <QString>

class ITavOptions
{
public:
    virtual ~ITavOptions() = default;
    /// Shows the about box modally; returns 0.
    virtual int ShowAbout() = 0;
    /// Shows the settings dialog modally; returns 0 when it closes.
    virtual int ShowSetting() = 0;
};

class ITavReply
{
public:
    virtual ~ITavReply() = default;
    /// Opens a reply window for a memo and returns at once: 0, or another
    /// number when the window could not be shown; LastError then says why.
    virtual int ShowReply(const QString &address, const QString &name, const QString &text) = 0;
    virtual QString LastError() const = 0;
};

#define ITavOptions_iid "jp.tavrino.TavOptions.clsTavOptions/1.0"
#define ITavReply_iid "jp.tavrino.TavReply.clsTavReply/1.1"

Q_DECLARE_INTERFACE(ITavOptions, ITavOptions_iid)
Q_DECLARE_INTERFACE(ITavReply, ITavReply_iid)
