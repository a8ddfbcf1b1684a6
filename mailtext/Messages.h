#pragma once
// The system's own texts, gathered in one place. They are shown to the user
// exactly as written here.

#include <QString>

namespace Msg {

inline const QString Title = QStringLiteral("Tavrino");

// Start-up
inline const QString AlreadyRunning = QStringLiteral("は既に起動されています");
inline const QString Ending = QStringLiteral("を終了します。");
inline const QString AppError = QStringLiteral("アプリケーションエラー！");

// Configuration file write failure; the text begins with a blank.
inline const QString IniWriteError =
    QStringLiteral(" ファイルの書き込み時にエラーが発生しました。");

// Run-time error descriptions used with AppError.
inline const QString ErrFileNotFound = QStringLiteral("ファイルが見つかりません。");
inline const QString ErrPathNotFound = QStringLiteral("パスが見つかりません。");
inline const QString ErrPermission = QStringLiteral("書き込みできません。");
inline const QString ErrBadArgument =
    QStringLiteral("プロシージャの呼び出し、または引数が不正です。");
inline const QString ErrFileIo = QStringLiteral("ファイル I/O エラーです。");
inline const QString ErrPluginMissing =
    QStringLiteral("ActiveX コンポーネントはオブジェクトを作成できません。");

// Socket and protocol progress
inline const QString Connecting = QStringLiteral("Connecting...");
inline const QString SocketClosed = QStringLiteral("Socket Closed.");
inline const QString NoMessage = QStringLiteral("No Message.");
inline const QString MessageSent = QStringLiteral("Message Sent!");

// Received mail and the mail check
inline const QString TooLargeSkipped =
    QStringLiteral("メッセージ %1 は大きすぎるため読み飛ばしました。");
inline const QString BodyCut =
    QStringLiteral("（ここから先は表示していません。メールの大きさ: %1 バイト）");
inline const QString MemosWaiting = QStringLiteral("表示待ちのメッセージ: %1 件");
// A listing the desk cannot rely on; the step and the line follow.
inline const QString UnreadableAnswer = QStringLiteral("メールサーバーの応答を読み取れません。");

// A command argument that could smuggle in a command of its own.
inline const QString UnsafeArgument =
    QStringLiteral("改行などの制御文字を含むため送信できません: ");

// Encrypted and authenticated connections. A failure of any of them ends
// the dialogue before a password or a mail has been sent.
inline const QString TlsNotOffered =
    QStringLiteral("サーバーが %1 に対応していないため、暗号化できません。"
                   "パスワードもメッセージも送らずに接続を終了しました。");
inline const QString TlsFailed =
    QStringLiteral("サーバーとの暗号化通信を確立できませんでした。"
                   "パスワードもメッセージも送らずに接続を終了しました。");
inline const QString CertificateRejected =
    QStringLiteral("サーバーの証明書を信頼できません。"
                   "パスワードもメッセージも送らずに接続を終了しました。");
inline const QString TlsUnavailable =
    QStringLiteral("この環境では暗号化通信 (TLS) を利用できません。");
inline const QString AuthNotOffered =
    QStringLiteral("サーバーが SMTP 認証 (AUTH PLAIN または LOGIN) に対応していないため、"
                   "パスワードもメッセージも送らずに接続を終了しました。");
// Signing in with OAuth 2.0 (Microsoft 365, Google and the like).
inline const QString OAuthNeedsTls =
    QStringLiteral("OAuth によるサインインには暗号化通信が必要です。"
                   "Tavrino.ini の %1 を %2 または tls にしてください。");
inline const QString NotSignedIn =
    QStringLiteral("サインインしていません。設定画面の「サインイン」でサインインしてください。");
inline const QString SignInAgain =
    QStringLiteral("サインインの有効期限が切れたか、取り消されました。"
                   "設定画面の「サインイン」でサインインし直してください。");
inline const QString TokenFailed =
    QStringLiteral("サインインを更新できませんでした。しばらくしてからもう一度お試しください: %1");
inline const QString SignInTimedOut =
    QStringLiteral("5 分以内にサインインが終わらなかったため、中止しました。");
inline const QString SignInRefused = QStringLiteral("サインインできませんでした: %1");
// The pages the browser shows at the end of a sign-in.
inline const QString SignInPageDone =
    QStringLiteral("Tavrino のサインインが完了しました。このページは閉じてかまいません。");
inline const QString SignInPageFailed =
    QStringLiteral("Tavrino のサインインは完了していません。このページを閉じて、"
                   "Tavrino からもう一度サインインしてください。");
inline const QString BadSetting = QStringLiteral("Tavrino.ini の %1 の値が正しくありません: %2");
inline const QString CaFileUnreadable = QStringLiteral("CAFile の証明書を読み込めません: %1");

// Sending
inline const QString MayBeDelivered = QStringLiteral(
    "メッセージは既に配送されている可能性があります。再送信すると重複することがあります。");
inline const QString RefusedRecipient = QStringLiteral("宛先: ");

// Memo form
inline const QString NoRecipient = QStringLiteral("宛先を指定してください！");
inline const QString Kind0 = QStringLiteral("お電話ください。");
inline const QString Kind1 = QStringLiteral("またお電話いたします。");
inline const QString Kind2 = QStringLiteral("電話がありました。");
inline const QString Kind3 = QStringLiteral("来訪されました。");

// Viewer
inline const QString DeleteTimedOut =
    QStringLiteral("メールサーバーが応答しないため、メッセージを削除できませんでした。");
// The server did not commit a deletion; the reason follows on the next line.
inline const QString DeleteFailed =
    QStringLiteral("メッセージを削除できませんでした。メッセージはサーバーに残っています。");

/// The summary sentence for a memo kind character; empty for any other.
QString KindSentence(QChar kind);
/// A number in the pattern "###,###,###": digits grouped by three.
QString GroupThousands(quint64 number);

} // namespace Msg
