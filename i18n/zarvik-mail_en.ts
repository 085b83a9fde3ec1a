<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>AlertRules</name>
    <message>
        <source>RB1が&quot;L&quot;になりました</source>
        <translation>RB1 went &quot;L&quot;</translation>
    </message>
    <message>
        <source>RB1が&quot;H&quot;になりました</source>
        <translation>RB1 went &quot;H&quot;</translation>
    </message>
    <message>
        <source>RB0が&quot;L&quot;になりました</source>
        <translation>RB0 went &quot;L&quot;</translation>
    </message>
    <message>
        <source>RB0が&quot;H&quot;になりました</source>
        <translation>RB0 went &quot;H&quot;</translation>
    </message>
    <message>
        <source>温度が %1℃を超えました。</source>
        <translation>The temperature is over %1℃.</translation>
    </message>
    <message>
        <source>温度が %1℃より下がりました。</source>
        <translation>The temperature is under %1℃.</translation>
    </message>
    <message>
        <source>応答がありません (%1秒)</source>
        <translation>No reply (%1 s)</translation>
    </message>
    <message>
        <source>温度が %1℃を下回り、正常に戻りました。</source>
        <translation>The temperature is back below %1℃.</translation>
    </message>
    <message>
        <source>温度が %1℃を上回り、正常に戻りました。</source>
        <translation>The temperature is back above %1℃.</translation>
    </message>
    <message>
        <source>温度が %1℃を超えたままです。</source>
        <translation>The temperature is still over %1℃.</translation>
    </message>
    <message>
        <source>温度が %1℃より下がったままです。</source>
        <translation>The temperature is still under %1℃.</translation>
    </message>
    <message>
        <source>%1が%2に戻りました</source>
        <translation>%1 is back to %2</translation>
    </message>
    <message>
        <source>%1が%2のままです</source>
        <translation>%1 is still %2</translation>
    </message>
    <message>
        <source>応答が戻りました</source>
        <translation>The board replies again</translation>
    </message>
    <message>
        <source>応答がないままです (%1秒)</source>
        <translation>Still no reply (%1 s)</translation>
    </message>
</context>
<context>
    <name>ErrorReport</name>
    <message>
        <source>Unknown error</source>
        <translation>Unknown error</translation>
    </message>
</context>
<context>
    <name>FormChart</name>
    <message>
        <source>10 分</source>
        <translation>10 min</translation>
    </message>
    <message>
        <source>1 時間</source>
        <translation>1 hour</translation>
    </message>
    <message>
        <source>24 時間</source>
        <translation>24 hours</translation>
    </message>
    <message>
        <source>ZARVIK Mail - グラフ</source>
        <translation>ZARVIK Mail - Graph</translation>
    </message>
    <message>
        <source>表示範囲:</source>
        <translation>Range:</translation>
    </message>
    <message>
        <source>上限</source>
        <translation>Upper</translation>
    </message>
    <message>
        <source>下限</source>
        <translation>Lower</translation>
    </message>
    <message>
        <source>警報</source>
        <translation>Alert</translation>
    </message>
    <message>
        <source>温度</source>
        <translation>Temperature</translation>
    </message>
</context>
<context>
    <name>HttpServer</name>
    <message>
        <source>%1 address &quot;%2&quot; is not host:port (say 127.0.0.1:%3) - not served</source>
        <translation>%1 address &quot;%2&quot; is not host:port (say 127.0.0.1:%3) - not served</translation>
    </message>
    <message>
        <source>%1 host &quot;%2&quot; cannot be resolved: %3 - not served</source>
        <translation>%1 host &quot;%2&quot; cannot be resolved: %3 - not served</translation>
    </message>
    <message>
        <source>the certificate or its key was refused</source>
        <translation>the certificate or its key was refused</translation>
    </message>
    <message>
        <source>the HTTP server did not start</source>
        <translation>the HTTP server did not start</translation>
    </message>
    <message>
        <source>Cannot serve %1 on %2 port %3: %4</source>
        <translation>Cannot serve %1 on %2 port %3: %4</translation>
    </message>
</context>
<context>
    <name>InstanceLock</name>
    <message>
        <source>ZARVIK Mail は既に起動しています。
%1</source>
        <translation>ZARVIK Mail is already running.
%1</translation>
    </message>
</context>
<context>
    <name>MailOutlet</name>
    <message>
        <source>キーリングからパスワードを読めませんでした。パスワードなしで送信します: %1</source>
        <translation>Could not read the password from the keyring. Sending without a password: %1</translation>
    </message>
</context>
<context>
    <name>MailService</name>
    <message>
        <source>ZARVIK Mail からのテストメールです。</source>
        <translation>This is a test mail from ZARVIK Mail.</translation>
    </message>
    <message>
        <source>送信日時: %1</source>
        <translation>Sent: %1</translation>
    </message>
    <message>
        <source>送信できなかったメールを保存できませんでした: %1</source>
        <translation>Could not keep the unsent mail: %1</translation>
    </message>
    <message numerus="yes">
        <source>保存できるメールは %1 通までです。古いメール %n 通を削除しました。</source>
        <translation>
            <numerusform>At most %1 mails can be kept. %n old mail was deleted.</numerusform>
            <numerusform>At most %1 mails can be kept. %n old mails were deleted.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>Monitor</name>
    <message>
        <source>CSV に記録できません: %1</source>
        <translation>Cannot write the CSV log: %1</translation>
    </message>
    <message>
        <source>サーバーがログイン (AUTH) を受け付けないため、パスワードを使わずに送信しました。</source>
        <translation>Sent without the password: the server does not accept login (AUTH).</translation>
    </message>
    <message>
        <source>MQTT に接続できません: %1</source>
        <translation>Cannot connect to MQTT: %1</translation>
    </message>
    <message>
        <source>通知停止の記録を読めません。通知します: %1</source>
        <translation>Cannot read the saved mute. Notifying: %1</translation>
    </message>
    <message>
        <source>通知停止を記録できません (この実行の間だけ有効です): %1</source>
        <translation>Cannot save the mute (it holds only until the program ends): %1</translation>
    </message>
    <message>
        <source>%1 への通知を送信できませんでした。保存して後で再送します: %2</source>
        <translation>Could not send the notification to %1. Kept to send again later: %2</translation>
    </message>
    <message>
        <source>%1 への通知を送信できませんでした: %2</source>
        <translation>Could not send the notification to %1: %2</translation>
    </message>
    <message>
        <source>確認済み: %1</source>
        <translation>Acknowledged: %1</translation>
    </message>
</context>
<context>
    <name>MuteMenu</name>
    <message>
        <source>通知停止(&amp;N)</source>
        <translation>Mute &amp;notifications</translation>
    </message>
    <message>
        <source>30 分(&amp;3)</source>
        <translation>&amp;30 minutes</translation>
    </message>
    <message>
        <source>1 時間(&amp;1)</source>
        <translation>&amp;1 hour</translation>
    </message>
    <message>
        <source>4 時間(&amp;4)</source>
        <translation>&amp;4 hours</translation>
    </message>
    <message>
        <source>時刻を指定(&amp;T)...</source>
        <translation>Until a &amp;time...</translation>
    </message>
    <message>
        <source>通知停止を終了(&amp;E)</source>
        <translation>&amp;End mute</translation>
    </message>
    <message>
        <source>通知停止</source>
        <translation>Mute notifications</translation>
    </message>
    <message>
        <source>通知を止める時刻 (例 14:30):</source>
        <translation>Mute until (e.g. 14:30):</translation>
    </message>
    <message>
        <source>&apos;%1&apos; は時刻ではありません (例 14:30)</source>
        <translation>&apos;%1&apos; is not a time of day (e.g. 14:30)</translation>
    </message>
</context>
<context>
    <name>OutboxSender</name>
    <message numerus="yes">
        <source>保存していたメール %n 通を送信しました。</source>
        <translation>
            <numerusform>Sent %n kept mail.</numerusform>
            <numerusform>Sent %n kept mails.</numerusform>
        </translation>
    </message>
    <message>
        <source>保存していたメールを読めません (%1): %2</source>
        <translation>Cannot read a kept mail (%1): %2</translation>
    </message>
    <message>
        <source>保存していたメールは一部の宛先に届きませんでした: %1</source>
        <translation>A kept mail did not reach some recipients: %1</translation>
    </message>
    <message>
        <source>保存していたメールは送信を拒否されました: %1</source>
        <translation>A kept mail was refused: %1</translation>
    </message>
</context>
<context>
    <name>PushChannels</name>
    <message numerus="yes">
        <source>保存していた通知 %n 件を送信しました。</source>
        <translation>
            <numerusform>Sent %n kept notification.</numerusform>
            <numerusform>Sent %n kept notifications.</numerusform>
        </translation>
    </message>
    <message>
        <source>保存していた %1 への通知は拒否されました: %2</source>
        <translation>A kept notification to %1 was refused: %2</translation>
    </message>
    <message>
        <source>送信できなかった通知を保存できませんでした: %1</source>
        <translation>Could not keep the unsent notification: %1</translation>
    </message>
    <message>
        <source>保存していた通知を読めません (%1): %2</source>
        <translation>Cannot read a kept notification (%1): %2</translation>
    </message>
    <message>
        <source>%1 のサーバーは %2 秒待つよう求めました。%1 へは 1 時間後まで送りません。</source>
        <translation>The %1 server asked to wait %2 s. Nothing goes to %1 for an hour.</translation>
    </message>
    <message>
        <source>%1 のサーバーの求めにより、%1 へは %2 秒後まで送りません。</source>
        <translation>The %1 server asked to wait: nothing goes to %1 for %2 s.</translation>
    </message>
</context>
<context>
    <name>PushOutlet</name>
    <message>
        <source>ZARVIK Mail からのテスト通知です。</source>
        <translation>This is a test notification from ZARVIK Mail.</translation>
    </message>
</context>
<context>
    <name>Shell</name>
    <message>
        <source>%1
The file will be kept as a backup beside it before it is next saved.</source>
        <translation>%1
The file will be kept as a backup beside it before it is next saved.</translation>
    </message>
</context>
<context>
    <name>StatusPage</name>
    <message>
        <source>アラート</source>
        <translation>Alert</translation>
    </message>
    <message>
        <source>復帰</source>
        <translation>Recovered</translation>
    </message>
    <message>
        <source>催促</source>
        <translation>Reminder</translation>
    </message>
    <message>
        <source>確認</source>
        <translation>Ack</translation>
    </message>
    <message>
        <source>通知停止</source>
        <translation>Mute</translation>
    </message>
    <message>
        <source>通知再開</source>
        <translation>Unmute</translation>
    </message>
    <message>
        <source>メール</source>
        <translation>Mail</translation>
    </message>
    <message>
        <source>プッシュ</source>
        <translation>Push</translation>
    </message>
    <message>
        <source>監視中</source>
        <translation>Watching</translation>
    </message>
    <message>
        <source>%1 から発報中</source>
        <translation>Raised since %1</translation>
    </message>
    <message>
        <source> (確認済み)</source>
        <translation> (acknowledged)</translation>
    </message>
    <message>
        <source>応答待ち</source>
        <translation>Waiting for a reply</translation>
    </message>
    <message>
        <source>%1 秒前</source>
        <translation>%1 s ago</translation>
    </message>
    <message>
        <source>通知停止中: %1 まで</source>
        <translation>Muted until %1</translation>
    </message>
    <message>
        <source>ルールは設定されていません</source>
        <translation>No rules are set</translation>
    </message>
    <message>
        <source>操作するには [Web] User とパスワードを設定してください (zarvik-maild --web-password)</source>
        <translation>To use the controls, set [Web] User and a password (zarvik-maild --web-password)</translation>
    </message>
    <message>
        <source>ログイン</source>
        <translation>Log in</translation>
    </message>
    <message>
        <source>すると操作できます</source>
        <translation>to use the controls</translation>
    </message>
    <message>
        <source>30 分</source>
        <translation>30 min</translation>
    </message>
    <message>
        <source>1 時間</source>
        <translation>1 hour</translation>
    </message>
    <message>
        <source>4 時間</source>
        <translation>4 hours</translation>
    </message>
    <message>
        <source>1 日</source>
        <translation>1 day</translation>
    </message>
    <message>
        <source>失敗しました: %1</source>
        <translation>Failed: %1</translation>
    </message>
    <message>
        <source>ZARVIK Mail に接続できません</source>
        <translation>Cannot reach ZARVIK Mail</translation>
    </message>
    <message>
        <source>ルール</source>
        <translation>Rules</translation>
    </message>
    <message>
        <source>操作</source>
        <translation>Controls</translation>
    </message>
    <message>
        <source>グラフ</source>
        <translation>Graph</translation>
    </message>
    <message>
        <source>過去 1 時間</source>
        <translation>Last hour</translation>
    </message>
    <message>
        <source>過去 1 日</source>
        <translation>Last day</translation>
    </message>
    <message>
        <source>イベント</source>
        <translation>Events</translation>
    </message>
    <message>
        <source>ja</source>
        <comment>the page&apos;s lang attribute</comment>
        <translation>en</translation>
    </message>
</context>
<context>
    <name>StoredTextValidator</name>
    <message numerus="yes">
        <source>設定ファイルに保存できるのは %n 文字までです</source>
        <translation>
            <numerusform>The settings file holds at most %n character</numerusform>
            <numerusform>The settings file holds at most %n characters</numerusform>
        </translation>
    </message>
    <message>
        <source>「%1」は設定ファイル (Shift-JIS) に保存できません</source>
        <translation>&quot;%1&quot; cannot be saved in the settings file (Shift-JIS)</translation>
    </message>
</context>
<context>
    <name>TFormZARVIK_Mail</name>
    <message>
        <source>通知停止中: %1 まで</source>
        <translation>Muted until %1</translation>
    </message>
    <message>
        <source>Temp:</source>
        <translation>Temp:</translation>
    </message>
    <message>
        <source>Now</source>
        <translation>Now</translation>
    </message>
    <message>
        <source>Sensor</source>
        <translation>Sensor</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>確認</source>
        <translation>Ack</translation>
    </message>
    <message>
        <source>アラートを確認済みにする (Ctrl+K): 催促を止めます</source>
        <translation>Acknowledge the alerts (Ctrl+K): stops the reminders</translation>
    </message>
    <message>
        <source>設定(&amp;T)</source>
        <translation>&amp;Settings</translation>
    </message>
    <message>
        <source>終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>アプリケーションを終了する</source>
        <translation>Exit the application</translation>
    </message>
    <message>
        <source>グラフ(&amp;G)</source>
        <translation>&amp;Graph</translation>
    </message>
    <message>
        <source>ファイル(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>表示(&amp;V)</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>アラートを確認(&amp;A)</source>
        <translation>&amp;Acknowledge alerts</translation>
    </message>
    <message>
        <source>監視(&amp;W)</source>
        <translation>&amp;Watch</translation>
    </message>
    <message numerus="yes">
        <source>応答なし %n 秒</source>
        <translation>
            <numerusform>No reply for %n second</numerusform>
            <numerusform>No reply for %n seconds</numerusform>
        </translation>
    </message>
    <message>
        <source>受信したデータに誤りがあります</source>
        <translation>The received data is wrong</translation>
    </message>
    <message>
        <source>データ数が一致しません</source>
        <translation>The data count does not match</translation>
    </message>
    <message>
        <source>テストメールを送信しました。</source>
        <translation>The test mail was sent.</translation>
    </message>
    <message>
        <source>%1 にテスト通知を送信しました。</source>
        <translation>A test notification was sent to %1.</translation>
    </message>
    <message>
        <source>%1 にテスト通知を送信できませんでした: %2</source>
        <translation>Could not send a test notification to %1: %2</translation>
    </message>
</context>
<context>
    <name>TToolSettingDlg</name>
    <message>
        <source>&quot;H&quot;で発信</source>
        <translation>Alert on &quot;H&quot;</translation>
    </message>
    <message>
        <source>&quot;L&quot;で発信</source>
        <translation>Alert on &quot;L&quot;</translation>
    </message>
    <message>
        <source>発信しない</source>
        <translation>No alert</translation>
    </message>
    <message>
        <source>設定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>ZARVIK IP Address:</source>
        <translation>ZARVIK IP Address:</translation>
    </message>
    <message>
        <source>Port No. :</source>
        <translation>Port No. :</translation>
    </message>
    <message>
        <source>Read Cycle :</source>
        <translation>Read Cycle :</translation>
    </message>
    <message>
        <source>mSec</source>
        <translation>mSec</translation>
    </message>
    <message>
        <source>Temp</source>
        <translation>Temp</translation>
    </message>
    <message>
        <source>Upper Temp</source>
        <translation>Upper Temp</translation>
    </message>
    <message>
        <source>Lower Temp</source>
        <translation>Lower Temp</translation>
    </message>
    <message>
        <source>Offset :</source>
        <translation>Offset :</translation>
    </message>
    <message>
        <source>読み取った温度に足す値 (℃、-20〜20、小数可)。表示、判定、グラフ、CSV、メトリクス、通知のすべてに効きます。</source>
        <translation>Added to the temperature read (℃, -20 to 20, decimals allowed). It applies to the display, the rules, the graph, CSV, metrics and notifications.</translation>
    </message>
    <message>
        <source>Sensor</source>
        <translation>Sensor</translation>
    </message>
    <message>
        <source>MAIL</source>
        <translation>MAIL</translation>
    </message>
    <message>
        <source>SMTP Server :</source>
        <translation>SMTP Server :</translation>
    </message>
    <message>
        <source>User ID :</source>
        <translation>User ID :</translation>
    </message>
    <message>
        <source>From :</source>
        <translation>From :</translation>
    </message>
    <message>
        <source>To :</source>
        <translation>To :</translation>
    </message>
    <message>
        <source>Priority</source>
        <translation>Priority</translation>
    </message>
    <message>
        <source>High</source>
        <translation>High</translation>
    </message>
    <message>
        <source>Normal</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>Low</source>
        <translation>Low</translation>
    </message>
    <message>
        <source>Password :</source>
        <translation>Password :</translation>
    </message>
    <message>
        <source>Security :</source>
        <translation>Security :</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>None</source>
        <translation>None</translation>
    </message>
    <message>
        <source>テスト送信</source>
        <translation>Send test</translation>
    </message>
    <message>
        <source>Watch</source>
        <translation>Watch</translation>
    </message>
    <message>
        <source>No reply for</source>
        <translation>No reply for</translation>
    </message>
    <message>
        <source>sec</source>
        <translation>sec</translation>
    </message>
    <message>
        <source>送信失敗時に再送する</source>
        <translation>Resend when sending fails</translation>
    </message>
    <message>
        <source>CSV に記録</source>
        <translation>Log to CSV</translation>
    </message>
    <message>
        <source>デスクトップ通知</source>
        <translation>Desktop notifications</translation>
    </message>
    <message>
        <source>Metrics :</source>
        <translation>Metrics :</translation>
    </message>
    <message>
        <source>自動で再監視</source>
        <translation>Re-arm after</translation>
    </message>
    <message>
        <source>Hysteresis :</source>
        <translation>Hysteresis :</translation>
    </message>
    <message>
        <source>Remind every :</source>
        <translation>Remind every :</translation>
    </message>
    <message>
        <source>min</source>
        <translation>min</translation>
    </message>
    <message>
        <source>Hold :</source>
        <translation>Hold :</translation>
    </message>
    <message>
        <source>条件がこの秒数続いたときだけ通知します (0: すぐに通知)</source>
        <translation>Notifies only once the condition has held this many seconds (0: at once)</translation>
    </message>
    <message>
        <source>Push</source>
        <translation>Push</translation>
    </message>
    <message>
        <source>Webhook :</source>
        <translation>Webhook :</translation>
    </message>
    <message>
        <source>Bot token</source>
        <translation>Bot token</translation>
    </message>
    <message>
        <source>Chat ID :</source>
        <translation>Chat ID :</translation>
    </message>
    <message>
        <source>Bot API :</source>
        <translation>Bot API :</translation>
    </message>
    <message>
        <source>Words</source>
        <translation>Words</translation>
    </message>
    <message>
        <source>Subject :</source>
        <translation>Subject :</translation>
    </message>
    <message>
        <source>Body :</source>
        <translation>Body :</translation>
    </message>
    <message>
        <source>メールと通知の件名と本文。空欄なら従来の文面です。
差し込み項目: {subject} {message} {temperature} {rb1} {rb0} {rules} {time} {board} {memo}
本文の \n は改行です。件名は 1 行で書きます。</source>
        <translation>Subject and body of mails and notifications; left empty, the usual wording.
Fields: {subject} {message} {temperature} {rb1} {rb0} {rules} {time} {board} {memo}
In the body, \n is a line break. The subject is one line.</translation>
    </message>
    <message>
        <source>Broker :</source>
        <translation>Broker :</translation>
    </message>
    <message>
        <source>User :</source>
        <translation>User :</translation>
    </message>
    <message>
        <source>Prefix :</source>
        <translation>Prefix :</translation>
    </message>
    <message>
        <source>Node ID :</source>
        <translation>Node ID :</translation>
    </message>
    <message>
        <source>Home Assistant からの操作を受け付ける</source>
        <translation>Accept commands from Home Assistant</translation>
    </message>
    <message>
        <source>Web</source>
        <translation>Web</translation>
    </message>
    <message>
        <source>Listen :</source>
        <translation>Listen :</translation>
    </message>
    <message>
        <source>Cert file :</source>
        <translation>Cert file :</translation>
    </message>
    <message>
        <source>Key file :</source>
        <translation>Key file :</translation>
    </message>
    <message>
        <source>HTTPS とログインが無い場合はループバックのみで公開されます</source>
        <translation>Without HTTPS and a login, the page is served on loopback only</translation>
    </message>
    <message>
        <source>(設定済み)</source>
        <translation>(set)</translation>
    </message>
    <message>
        <source>キーリングなし: 今回のみ保持</source>
        <translation>No keyring: kept for this run only</translation>
    </message>
    <message>
        <source>パスワードを保存できるキーリングがありません。パスワードはこの実行中だけ保持されます。
</source>
        <translation>There is no keyring to save the password in. The password is kept only while this run lasts.
</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>ヘルプ(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>Language :</source>
        <translation>Language :</translation>
    </message>
    <message>
        <source>システムに合わせる</source>
        <translation>Match the system</translation>
    </message>
    <message>
        <source>次回の起動から有効です</source>
        <translation>Takes effect at the next start</translation>
    </message>
</context>
<context>
    <name>UdpEndpoint</name>
    <message>
        <source>Cannot open a UDP port: %1</source>
        <translation>Cannot open a UDP port: %1</translation>
    </message>
    <message>
        <source>Board address &quot;%1&quot; cannot be resolved: %2 - nothing sent</source>
        <translation>Board address &quot;%1&quot; cannot be resolved: %2 - nothing sent</translation>
    </message>
    <message>
        <source>No board address is set - nothing sent</source>
        <translation>No board address is set - nothing sent</translation>
    </message>
    <message>
        <source>Board port &quot;%1&quot; is not a number from 1 to 65535 - nothing sent</source>
        <translation>Board port &quot;%1&quot; is not a number from 1 to 65535 - nothing sent</translation>
    </message>
    <message>
        <source>Cannot send to the board at %1 port %2: %3</source>
        <translation>Cannot send to the board at %1 port %2: %3</translation>
    </message>
</context>
<context>
    <name>WebOutlet</name>
    <message>
        <source>応答なし %1 秒</source>
        <translation>No reply for %1 s</translation>
    </message>
    <message>
        <source>通知停止を終了しました</source>
        <translation>Mute ended</translation>
    </message>
    <message>
        <source>通知停止中: %1 まで</source>
        <translation>Muted until %1</translation>
    </message>
    <message>
        <source>Reset: 全ルールを再監視します</source>
        <translation>Reset: watching every rule again</translation>
    </message>
    <message>
        <source>送信しました</source>
        <translation>Sent</translation>
    </message>
    <message>
        <source>送信できません。再送します: %1</source>
        <translation>Cannot send. Will send again: %1</translation>
    </message>
    <message>
        <source>送信できません: %1</source>
        <translation>Cannot send: %1</translation>
    </message>
    <message>
        <source>%1: 送信しました</source>
        <translation>%1: sent</translation>
    </message>
    <message>
        <source> (通知停止中に発報)</source>
        <translation> (raised while muted)</translation>
    </message>
    <message>
        <source> (通知停止中)</source>
        <translation> (muted)</translation>
    </message>
    <message>
        <source>確認しました</source>
        <translation>Acknowledged</translation>
    </message>
    <message>
        <source>確認するアラートはありません</source>
        <translation>No alerts to acknowledge</translation>
    </message>
</context>
</TS>
