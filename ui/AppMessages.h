#pragma once
// The window texts: captions, tool tips and menu items of the main window,
// the memo viewer, the reply window, the status bar and the help window. Here
// beside the window helpers, which use them too; the texts the mail
// dialogues share with the components live in Messages.h.

#include <QString>

namespace AppMsg {

// Main window: recipients
inline const QString FrameMembers = QStringLiteral("メンバー");
inline const QString SelectAll = QStringLiteral("すべて選択(&A)");
inline const QString SelectAllTip = QStringLiteral("全員を選択します");
inline const QString DeselectAll = QStringLiteral("すべて解除(&D)");
inline const QString DeselectAllTip = QStringLiteral("選択を解除します");

// Main window: caller
inline const QString FrameCaller = QStringLiteral("Caller情報");
inline const QString DepartmentTip = QStringLiteral("会社や組織");
inline const QString CallerTip = QStringLiteral("名前");
inline const QString CallerSuffix = QStringLiteral("様より");
inline const QString MessageTip = QStringLiteral("メッセージを入力してください");
inline const QString Cover = QStringLiteral("封をする");

// Main window: buttons
inline const QString Send = QStringLiteral("送信(&S)");
inline const QString SendTip = QStringLiteral("メッセージ送信");
inline const QString SettingsTip = QStringLiteral("アプリケーションの設定");
inline const QString ExitTip = QStringLiteral("アプリケーションの終了");

// Notification icon menu
inline const QString MenuFile = QStringLiteral("ﾌｧｲﾙ(&F)");
inline const QString MenuExit = QStringLiteral("終了(&X)");
inline const QString MenuHelp = QStringLiteral("ヘルプ(&H)");

// Status bar panels
inline const QString PanelUser = QStringLiteral("あなた");
inline const QString PanelCommand = QStringLiteral("コマンド実行状況");
inline const QString PanelDate = QStringLiteral("今日の日付");
inline const QString PanelTime = QStringLiteral("現在の時刻");
inline const QString PanelMessageId = QStringLiteral("MessageID");

// Memo viewer
inline const QString ViewerCaptionPrefix = QStringLiteral("メッセージ - ");
inline const QString Unseal = QStringLiteral("封(&G)");
inline const QString Reply = QStringLiteral("返信(&R)");
inline const QString ReplyTip = QStringLiteral("返信します");
inline const QString Delete = QStringLiteral("削除(&D)");
inline const QString DeleteTip = QStringLiteral("メッセージを削除します");
inline const QString Sender = QStringLiteral("発信者：");
// Accessible names of the viewer's two boxes that carry neither caption nor tip.
inline const QString SummaryName = QStringLiteral("用件");
inline const QString ViewerMessageName = QStringLiteral("メッセージ");

// Reply window
inline const QString ReplyCaptionPrefix = QStringLiteral("返信 - ");
inline const QString ReplyFrame = QStringLiteral("返信");
inline const QString ReplyTo = QStringLiteral("ＴＯ：");
inline const QString OriginalMarker = QStringLiteral("---Original Message---");
inline const QString CoverTip = QStringLiteral("メッセージに封をします");
inline const QString Cancel = QStringLiteral("ｷｬﾝｾﾙ(&C)");
inline const QString CancelTip = QStringLiteral("キャンセル");
// Accessible names of the reply window's two recipient labels.
inline const QString ReplyToName = QStringLiteral("宛先の名前");
inline const QString ReplyToAddress = QStringLiteral("宛先のアドレス");

// Characters the mail cannot carry
inline const QString LostCharacters = QStringLiteral("次の文字は送信できないため「?」になります: ");
inline const QString SendAnyway = QStringLiteral("送信");
inline const QString GoBack = QStringLiteral("戻る");

// Memo list
inline const QString MemoListCaptionPrefix = QStringLiteral("伝言一覧 - ");
inline const QString MemoListName = QStringLiteral("伝言一覧");
inline const QString MemoListColumns = QStringLiteral("日時|用件|会社や組織|名前|発信者|封");
inline const QString SealedMark = QStringLiteral("封");

// Notification icon menu and tool tip, failures
inline const QString MenuOpen = QStringLiteral("開く(&O)");
inline const QString MenuCheckNow = QStringLiteral("今すぐ確認(&C)");
inline const QString MenuMemoList = QStringLiteral("伝言一覧(&L)");
inline const QString TipOpen = QStringLiteral("開いているメッセージ: %1 件");
inline const QString TipLastCheck = QStringLiteral("最終確認: %1");
inline const QString TipFailure = QStringLiteral("受信エラー %1〜: %2");
inline const QString ReceivingAgain = QStringLiteral("受信を再開しました。");
inline const QString SideReceive = QStringLiteral("受信 (POP3 %1:%2)");
inline const QString SideSend = QStringLiteral("送信 (SMTP %1:%2)");
// Signing in, from the settings dialog or from the box that asks for it.
inline const QString SignIn = QStringLiteral("サインイン");
inline const QString SignInTip = QStringLiteral("ブラウザーでサインインします");

// Help window
inline const QString HelpCaption = QStringLiteral("Tavrino ヘルプ");

} // namespace AppMsg
