#pragma once
// The configuration file: a profile file with CR LF line ends, read and
// written the way the Windows profile functions do; code page 932 or UTF-8
// (see TextFile.h), written back in the encoding it has.

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

class IniFile
{
public:
    /// defaults, when given, is a file read for the keys appIniFile lacks and
    /// never written: what an administrator sets for every user. appIniFile is
    /// then the user's own, and its folder is made on the first write.
    explicit IniFile(const QString &appIniFile, const QString &defaults = QString())
        : m_path(appIniFile), m_defaults(defaults)
    {
    }

    const QString &path() const { return m_path; }
    const QString &defaults() const { return m_defaults; }
    /// The folder of the file: relative paths in it are found there.
    QString folder() const;

    /// The value of key in section (names compared without regard to case,
    /// blanks around the value removed, at most 254 bytes in the file's
    /// encoding); empty when the file, the section or the key is missing.
    QString GetIniParm(const QString &section, const QString &key) const;

    /// Writes key=value into section, creating the file and the section when
    /// missing and replacing an existing key in place; other lines and their
    /// order are kept. The file is replaced atomically. Returns false when the
    /// file could not be written.
    bool SetIniParm(const QString &section, const QString &key, const QString &value) const;

    /// Writes several keys in one replacement of the file: either all of them
    /// are written or, on failure, none. A key the file lacks and whose value
    /// is what the defaults give is left out, so that a later change of the
    /// defaults still reaches this file.
    bool SetIniParms(const QString &section,
                     const QList<std::pair<QString, QString>> &entries) const;

private:
    QString m_path;
    QString m_defaults;
};

/// The configuration of the program in programFolder: Tavrino.ini beside the
/// program while that folder can be written, as a portable folder has it;
/// otherwise the user's own file in $XDG_CONFIG_HOME/Tavrino (~/.config/Tavrino
/// when unset), over the administrator's defaults in /etc/tavrino/Tavrino.ini.
IniFile TavrinoIni(const QString &programFolder);

/// $XDG_CONFIG_HOME, or ~/.config when it is unset or not absolute.
QString XdgConfigHome();

/// The section of Tavrino.ini and its keys, in their order in the file: the
/// eleven the settings dialog shows as text boxes, then the optional ones of
/// encrypted and authenticated connections.
inline const QString TavrinoSection = QStringLiteral("Tavrino");
extern const QStringList TavrinoKeys;
/// Positions in TavrinoKeys and in the values read with ReadTavrinoValues.
namespace TavrinoKey {
enum : int {
    UserName,
    UserID,
    Password,
    Domain,
    Pop3Server,
    Pop3Port,
    SmtpServer,
    SmtpPort,
    List,
    Interval,
    Sleep,
    Pop3Security,      ///< "none", "stls" or "tls"
    SmtpSecurity,      ///< "none", "starttls" or "tls"
    SmtpAuth,          ///< "0" or "1"
    SmtpUserID,        ///< overrides UserID for SMTP AUTH
    SmtpPassword,      ///< overrides Password for SMTP AUTH
    CAFile,            ///< PEM certificate authorities trusted besides the system's
    AuthMethod,        ///< "password" (or empty) or "oauth"
    OAuthProvider,     ///< "microsoft", "google" or "custom"
    OAuthClientID,     ///< the office's own registered client
    OAuthClientSecret, ///< where the provider gives desktop clients one
    OAuthTenant,       ///< microsoft: the directory; "organizations" when empty
    OAuthAuthorizeURL, ///< custom: the authorization endpoint
    OAuthTokenURL,     ///< custom: the token endpoint
    OAuthScopes,       ///< custom: scopes separated by blanks
    TextBoxCount = Pop3Security
};
} // namespace TavrinoKey

/// The values of the file, in the order of TavrinoKeys; empty where
/// the file or the key is missing.
QStringList ReadTavrinoValues(const IniFile &ini);

/// The message shown when the configuration file cannot be written.
QString IniWriteErrorText(const QString &appIniFile);

/// A window coordinate as stored: the decimal text of a single-precision
/// number, with a leading blank when not negative (2880 -> " 2880").
QString FormatTwips(double value);

/// A stored coordinate read back: the leading numeric part of the text,
/// rounded half to even and held to the 16-bit range; empty gives 0.
qint16 ParseTwips(const QString &value);

/// Interval as a 16-bit count of seconds; what does not read as a whole
/// number from 0 counts as 0.
qint16 ParseInterval(const QString &value);

/// The folder of the program or library that holds the code at address: a
/// component passes a function of its own and finds its Tavrino.ini there.
QString ModuleFolderOf(const void *address);
