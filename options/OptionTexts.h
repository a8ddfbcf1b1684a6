#pragma once
// The texts of the options component's windows: captions, tool tips and
// messages, exactly as the user sees them.

#include <QString>

namespace OptMsg {

// Settings dialog
inline const QString FrameSignIn = QStringLiteral("サインイン");
inline const QString AuthMethod = QStringLiteral("ログイン方法");
inline const QString AuthMethods[] = {QStringLiteral("パスワード"), QStringLiteral("Microsoft 365"),
                                      QStringLiteral("Google"), QStringLiteral("その他 (OAuth)")};
inline const QString SignOut = QStringLiteral("サインアウト");
inline const QString SignOutTip = QStringLiteral("保存してあるサインインを消します");
inline const QString SignedInAs = QStringLiteral("サインイン済み: %1");
inline const QString NotSignedIn = QStringLiteral("サインインしていません");
inline const QString SettingCaptionPrefix = QStringLiteral("設定 - ");
inline const QString Window = QStringLiteral("「Tavrino.ini」設定画面");
inline const QString FrameUserInfo = QStringLiteral("POP3サーバー情報＆ユーザ情報");
inline const QString FrameServerInfo = QStringLiteral("SMTPサーバー情報");
inline const QString FrameList = QStringLiteral("メンバーリストファイル");
inline const QString FrameTiming = QStringLiteral("タイミング");
inline const QString Address = QStringLiteral("Address:");
inline const QString Server = QStringLiteral("Server:");
inline const QString Port = QStringLiteral("Port:");
inline const QString Security = QStringLiteral("暗号化");
inline const QString SecurityChoices[] = {QStringLiteral("なし"), QStringLiteral("STARTTLS"),
                                          QStringLiteral("SSL/TLS")};
inline const QString Pop3SecurityTip = QStringLiteral("POP3サーバとの通信の暗号化方式");
inline const QString SmtpSecurityTip = QStringLiteral("SMTPサーバとの通信の暗号化方式");
inline const QString SmtpAuth = QStringLiteral("SMTP認証");
inline const QString SmtpAuthTip = QStringLiteral("送信時にSMTPサーバでユーザ認証を行う");
inline const QString StartAtLogon = QStringLiteral("ログオン時に起動する");
inline const QString StartAtLogonTip =
    QStringLiteral("ログオン時に通知領域で起動し、メッセージを待ちます");
inline const QString List = QStringLiteral("List:");
inline const QString ListTip = QStringLiteral("メンバーリストファイルを指定");
inline const QString Browse = QStringLiteral("...");
inline const QString BrowseTip = QStringLiteral("参照");
inline const QString Edit = QStringLiteral("編集(&E)");
inline const QString EditTip = QStringLiteral("メンバーリストを編集する");
inline const QString Save = QStringLiteral("保存(&S)");
inline const QString SaveTip = QStringLiteral("設定を保存");
inline const QString Cancel = QStringLiteral("ｷｬﾝｾﾙ(&C)");
inline const QString CancelTip = QStringLiteral("キャンセル");
inline const QString About = QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)");
inline const QString AboutTip = QStringLiteral("バージョン情報を表示");
inline const QString HelpName = QStringLiteral("ヘルプ");
inline const QString ListFilter = QStringLiteral("ﾒﾝﾊﾞｰﾘｽﾄ ﾌｧｲﾙ (*.lst);;すべてのﾌｧｲﾙ (*.*)");
inline const QString Restart =
    QStringLiteral("変更を有効にするためにプログラムを再起動してください。");

// Member list editor
inline const QString EditCaptionPrefix = QStringLiteral("メンバーリストの設定 - ");
inline const QString EditWindow = QStringLiteral("メンバーリスト：");
inline const QString EditFrame = QStringLiteral("編集");
inline const QString MembersName = QStringLiteral("メンバー");
inline const QString Up = QStringLiteral("上へ移動");
inline const QString Down = QStringLiteral("下へ移動");
inline const QString UserName = QStringLiteral("ユーザ名：");
inline const QString UserNameTip = QStringLiteral("ユーザ名を入力してください");
inline const QString MemberAddress = QStringLiteral("アドレス：");
inline const QString MemberAddressTip = QStringLiteral("アドレスを入力してください");
inline const QString Add = QStringLiteral("登録(&A)");
inline const QString AddTip = QStringLiteral("登録");
inline const QString Remove = QStringLiteral("削除(&D)");
inline const QString RemoveTip = QStringLiteral("削除");
inline const QString Comment = QStringLiteral(
    "「区切り」を登録したい場合はユーザ名として --- を指定、アドレスをブランクにしてください。");
inline const QString SelectToMove = QStringLiteral("移動したいユーザを選択してください。");
inline const QString EnterName = QStringLiteral("ユーザ名を入力してください。");
inline const QString EnterAddress = QStringLiteral("アドレスを入力してください。");
inline const QString SelectWhere = QStringLiteral("追加したい場所を選択してください。");
inline const QString SelectToDelete = QStringLiteral("削除したいメンバーを選択してください。");
inline const QString ListSaved = QStringLiteral("メンバーリストが更新されました。");
inline const QString ListRestart =
    QStringLiteral("変更を有効にするためにはプログラムを再起動してください。");
inline const QString ListTooLong =
    QStringLiteral("メンバーリストには 32,767 行までしか登録できません。");

// About box
inline const QString AboutCaptionSuffix = QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報");
inline const QString Version = QStringLiteral("Version ");
inline const QString Copyright = QStringLiteral("Copyright (C) 2026 Tavrino developers");
inline const QString MemoryPrefix = QStringLiteral("Windowsが使用できる物理ﾒﾓﾘ: ");
inline const QString MemorySuffix = QStringLiteral(" KB");
inline const QString Ok = QStringLiteral("OK");
inline const QString SysInfo = QStringLiteral("ｼｽﾃﾑ情報(&S)...");
inline const QString NoSysInfo = QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません");

} // namespace OptMsg
