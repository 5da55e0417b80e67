<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>FediverseSignIn</name>
    <message>
        <source>このアドレスはXMLのAPIにもMastodon形式のAPIにも答えません: %1</source>
        <translation>This address answers neither the XML API nor the Mastodon-style client API: %1</translation>
    </message>
    <message>
        <source>サインインの要求を始められませんでした</source>
        <translation>Could not start the sign-in request</translation>
    </message>
    <message>
        <source>サーバーの応答を読み取れませんでした: %1</source>
        <translation>Could not read the server&apos;s answer: %1</translation>
    </message>
    <message>
        <source>サインインできませんでした: %1</source>
        <translation>Sign-in failed: %1</translation>
    </message>
    <message>
        <source>サインインできませんでした: %1 (%2)</source>
        <translation>Sign-in failed: %1 (%2)</translation>
    </message>
    <message>
        <source>この認証コードは今回のサインインのものではありません</source>
        <translation>This code does not belong to this sign-in</translation>
    </message>
    <message>
        <source>先に認証ページを開き、表示されたコードを貼り付けてください</source>
        <translation>Open the authorisation page first, then paste the code it shows</translation>
    </message>
    <message>
        <source>トークン、またはユーザ名とパスワードを入れてください</source>
        <translation>Enter a token, or the user name and password</translation>
    </message>
    <message>
        <source>暗号化されない http:// ではサインインしません。https:// のアドレスをお使いください: %1</source>
        <translation>No sign-in over unencrypted http://. Please use an https:// address: %1</translation>
    </message>
</context>
<context>
    <name>HttpErrors</name>
    <message>
        <source>TLS 接続を確立できませんでした (%1): %2</source>
        <translation>Could not establish a TLS connection (%1): %2</translation>
    </message>
    <message>
        <source>証明書を拒否しました (%1): 発行者を信頼できません</source>
        <translation>Certificate refused (%1): the issuer is not trusted</translation>
    </message>
    <message>
        <source>証明書を拒否しました (%1): 有効期限が切れています</source>
        <translation>Certificate refused (%1): it has expired</translation>
    </message>
    <message>
        <source>証明書を拒否しました (%1): まだ有効になっていません</source>
        <translation>Certificate refused (%1): it is not valid yet</translation>
    </message>
    <message>
        <source>証明書を拒否しました (%1): ホスト名が一致しません</source>
        <translation>Certificate refused (%1): the host name does not match</translation>
    </message>
    <message>
        <source>証明書を拒否しました (%1): %2</source>
        <translation>Certificate refused (%1): %2</translation>
    </message>
</context>
<context>
    <name>PostOutcome</name>
    <message>
        <source>サーバーの応答がつぶやきではありません: %1</source>
        <translation>The server&apos;s reply is not a status: %1</translation>
    </message>
    <message>
        <source>サーバーのメッセージ: %1</source>
        <translation>The server says: %1</translation>
    </message>
</context>
<context>
    <name>ReadOutcome</name>
    <message>
        <source>認証できませんでした</source>
        <translation>Authentication failed</translation>
    </message>
    <message>
        <source>サーバーがエラーを返しました: %1</source>
        <translation>The server returned an error: %1</translation>
    </message>
    <message>
        <source>接続できませんでした: %1</source>
        <translation>Could not connect: %1</translation>
    </message>
    <message>
        <source>プロキシが接続を拒否しました: %1</source>
        <translation>The proxy refused the connection: %1</translation>
    </message>
    <message>
        <source>応答を読み取れませんでした: %1</source>
        <translation>Could not read the reply: %1</translation>
    </message>
    <message>
        <source>応答がタイムラインではありません: %1</source>
        <translation>The reply is not a timeline: %1</translation>
    </message>
    <message>
        <source>接続できませんでした (%1): %2</source>
        <translation>Could not connect (%1): %2</translation>
    </message>
    <message>
        <source>応答を読み取れませんでした (%1): %2</source>
        <translation>Could not read the reply (%1): %2</translation>
    </message>
    <message>
        <source>サーバーが別のアドレスへ転送しようとしました: %1</source>
        <translation>The server tried to redirect to another address: %1</translation>
    </message>
    <message>
        <source>プロキシ %1</source>
        <translation>proxy %1</translation>
    </message>
</context>
<context>
    <name>Settings</name>
    <message>
        <source>設定ファイルの API</source>
        <translation>API in the settings file</translation>
    </message>
    <message>
        <source>既定値</source>
        <translation>default</translation>
    </message>
    <message>
        <source>サービスのアドレスが使えません (%1): %2 (%3)</source>
        <translation>The service address cannot be used (%1): %2 (%3)</translation>
    </message>
</context>
<context>
    <name>TDesktopNotifier</name>
    <message numerus="yes">
        <source>新着 %n 件: %1</source>
        <translation>
            <numerusform>%n new status: %1</numerusform>
            <numerusform>%n new statuses: %1</numerusform>
        </translation>
    </message>
    <message>
        <source>表示</source>
        <translation>Show</translation>
    </message>
    <message numerus="yes">
        <source>@返信 %n 件: %1</source>
        <translation>
            <numerusform>%n new mention: %1</numerusform>
            <numerusform>%n new mentions: %1</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TForm1</name>
    <message>
        <source>お気に入り発言スター</source>
        <translation>Favorite status star</translation>
    </message>
    <message>
        <source>ユーザ名とパスワードが入力されていませんので、
ログインボタンからご入力下さい</source>
        <translation>No user name and password have been entered.
Please enter them through the Login menu.</translation>
    </message>
    <message>
        <source>キーリングがロックされているか使えないため、パスワードを読み出せませんでした。
ログインボタンからご入力下さい</source>
        <translation>The password could not be read: the keyring is locked or unavailable.
Please enter it through the Login menu.</translation>
    </message>
    <message>
        <source>status idが取得できません</source>
        <translation>Cannot get the status id</translation>
    </message>
    <message>
        <source>Favorite()strStatusIdがありません。</source>
        <translation>Favorite(): no strStatusId.</translation>
    </message>
    <message>
        <source>情報</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>設定ファイルに書き込めません: %1
%2</source>
        <translation>Cannot write the settings file: %1
%2</translation>
    </message>
    <message>
        <source>Brimlark_Simple(右クリックでメニュー)</source>
        <translation>Brimlark_Simple (right-click for the menu)</translation>
    </message>
    <message>
        <source>(ローテーション停止中)</source>
        <translation>(rotation paused)</translation>
    </message>
    <message>
        <source>お気に入り</source>
        <translation>Favorite</translation>
    </message>
    <message>
        <source>クリックでお気に入りに登録</source>
        <translation>Click to mark as favorite</translation>
    </message>
    <message>
        <source>お気に入りスター</source>
        <translation>Favorite star</translation>
    </message>
    <message>
        <source>つぶやき本文</source>
        <translation>Status text</translation>
    </message>
    <message>
        <source>フレンドタイムライン</source>
        <translation>Friends timeline</translation>
    </message>
    <message>
        <source>タイムライン</source>
        <translation>Timeline</translation>
    </message>
    <message>
        <source>ログイン(&amp;L)</source>
        <translation>&amp;Login</translation>
    </message>
    <message>
        <source>ログイン設定...(&amp;L)</source>
        <translation>&amp;Login settings...</translation>
    </message>
    <message>
        <source>表示モード(&amp;V)</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>名前を表示しない</source>
        <translation>Hide names</translation>
    </message>
    <message>
        <source>自動更新タイマー</source>
        <translation>Auto reload timer</translation>
    </message>
    <message>
        <source>ローテーションタイマー</source>
        <translation>Rotation timer</translation>
    </message>
    <message>
        <source>最前面に表示</source>
        <translation>Always on top</translation>
    </message>
    <message>
        <source>通常リストモード(&amp;L)</source>
        <translation>&amp;List mode</translation>
    </message>
    <message>
        <source>コンパクトモード(&amp;C)</source>
        <translation>&amp;Compact mode</translation>
    </message>
    <message>
        <source>ガジェット/ウィジェットモード(&amp;W)</source>
        <translation>Gadget/&amp;widget mode</translation>
    </message>
    <message>
        <source>設定...(S)</source>
        <translation>Settings...</translation>
    </message>
    <message>
        <source>リロード(&amp;R)</source>
        <translation>&amp;Reload</translation>
    </message>
    <message>
        <source>もっと前を読む(&amp;G)</source>
        <translation>Read &amp;older</translation>
    </message>
    <message>
        <source>つぶやく...(&amp;T)</source>
        <translation>&amp;Post...</translation>
    </message>
    <message>
        <source>バージョン(&amp;H)</source>
        <translation>&amp;About</translation>
    </message>
    <message>
        <source>つぶやく(&amp;T)</source>
        <translation>&amp;Post</translation>
    </message>
    <message>
        <source>もっと読む(&amp;M)</source>
        <translation>Read &amp;more</translation>
    </message>
    <message>
        <source>自動取得タイマー(&amp;R)</source>
        <translation>Auto &amp;reload timer</translation>
    </message>
    <message>
        <source>設定...(&amp;S)</source>
        <translation>&amp;Settings...</translation>
    </message>
    <message>
        <source>リロード</source>
        <translation>Reload</translation>
    </message>
    <message>
        <source>バージョン(&amp;V)</source>
        <translation>&amp;Version</translation>
    </message>
    <message>
        <source>閉じる(&amp;C)</source>
        <translation>&amp;Close</translation>
    </message>
    <message>
        <source>ユーザ</source>
        <translation>User</translation>
    </message>
    <message>
        <source>お気に入りに登録</source>
        <translation>Mark as favorite</translation>
    </message>
    <message>
        <source>未読の数</source>
        <translation>Unseen statuses</translation>
    </message>
    <message>
        <source>新着をデスクトップに通知</source>
        <translation>Notify me of new statuses</translation>
    </message>
    <message>
        <source>設定ファイルに書き込めません: %1</source>
        <translation>Cannot write the settings file: %1</translation>
    </message>
    <message>
        <source>リピート済み</source>
        <translation>Repeated</translation>
    </message>
    <message>
        <source>返信(&amp;E)...</source>
        <translation>R&amp;eply...</translation>
    </message>
    <message>
        <source>リピート(&amp;P)</source>
        <translation>Re&amp;peat</translation>
    </message>
    <message>
        <source>ブラウザで開く(&amp;B)</source>
        <translation>Open in &amp;browser</translation>
    </message>
    <message>
        <source>リピートしました</source>
        <translation>Repeated.</translation>
    </message>
    <message>
        <source>このつぶやきをリピートしますか？</source>
        <translation>Repeat this status?</translation>
    </message>
    <message>
        <source>このつぶやきのページがわかりません</source>
        <translation>This status has no web page to open.</translation>
    </message>
    <message>
        <source>メンションのみ</source>
        <translation>Mentions only</translation>
    </message>
    <message>
        <source>@返信</source>
        <translation>Mentions</translation>
    </message>
    <message>
        <source>発言(&amp;S)</source>
        <translation>&amp;Status</translation>
    </message>
</context>
<context>
    <name>THttpCli</name>
    <message>
        <source>CA 証明書ファイルを読めません: %1 (%2)</source>
        <translation>Cannot read the CA certificate file: %1 (%2)</translation>
    </message>
    <message>
        <source>CA 証明書ファイルに証明書がありません: %1</source>
        <translation>The CA certificate file holds no certificate: %1</translation>
    </message>
</context>
<context>
    <name>TMentionsTab</name>
    <message>
        <source>@返信</source>
        <translation>Mentions</translation>
    </message>
    <message>
        <source>@返信 (%1)</source>
        <translation>Mentions (%1)</translation>
    </message>
</context>
<context>
    <name>TPasswordStore</name>
    <message>
        <source>キーリングが使えないため、パスワードは設定ファイルに保存します</source>
        <translation>The keyring cannot be used, so the password is kept in the settings file</translation>
    </message>
</context>
<context>
    <name>TTimelineFeed</name>
    <message>
        <source>ロード中...</source>
        <translation>Loading...</translation>
    </message>
    <message>
        <source>ロード完了</source>
        <translation>Loaded</translation>
    </message>
    <message>
        <source>Twitterで認証しました</source>
        <translation>Signed in to Twitter</translation>
    </message>
    <message>
        <source>次の自動更新は %1 です (%2秒後)</source>
        <translation>Next automatic reload at %1 (in %2 s)</translation>
    </message>
    <message>
        <source>リロード中</source>
        <translation>Reloading</translation>
    </message>
    <message>
        <source>リロード完了</source>
        <translation>Reloaded</translation>
    </message>
    <message>
        <source>前回 %1 に読み込んだ内容を表示しています</source>
        <translation>Showing the statuses read at %1</translation>
    </message>
</context>
<context>
    <name>TTimelineModel</name>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>つぶやき</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>[%1 がリピート] </source>
        <translation>[repeated by %1] </translation>
    </message>
    <message>
        <source>[注意] </source>
        <translation>[CW] </translation>
    </message>
</context>
<context>
    <name>TfrmLogin</name>
    <message>
        <source>ログイン情報</source>
        <translation>Login</translation>
    </message>
    <message>
        <source>ユーザ名</source>
        <translation>User</translation>
    </message>
    <message>
        <source>パスワード</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>このアドレスは http:// です。パスワードは暗号化されずに送られます。https:// のアドレスをお使いください。</source>
        <translation>This address is http://: the password is sent unencrypted. Please use an https:// address.</translation>
    </message>
    <message>
        <source>ブラウザで認証ページを開く</source>
        <translation>Open the authorisation page in the browser</translation>
    </message>
    <message>
        <source>認証コード</source>
        <translation>Code</translation>
    </message>
    <message>
        <source>トークン</source>
        <translation>Token</translation>
    </message>
    <message>
        <source>ブラウザでこのプログラムを許可し、表示されたコードを貼り付けてください</source>
        <translation>Allow this program in the browser, then paste the code it shows</translation>
    </message>
    <message>
        <source>サーバーが認証を拒否しました。もう一度サインインしてください</source>
        <translation>The server refused the sign-in. Please sign in again</translation>
    </message>
    <message>
        <source>サーバーが認証を拒否しました: %1</source>
        <translation>The server refused the sign-in: %1</translation>
    </message>
    <message>
        <source>このアドレスはMastodon形式のAPIのサーバーです (%1)</source>
        <translation>This address is a server of the Mastodon-style client API (%1)</translation>
    </message>
    <message>
        <source>認証ページを用意しています...</source>
        <translation>Preparing the authorisation page...</translation>
    </message>
    <message>
        <source>サーバーに確認しています...</source>
        <translation>Asking the server...</translation>
    </message>
</context>
<context>
    <name>TfrmSettings</name>
    <message>
        <source>設定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>自動更新</source>
        <translation>Reload</translation>
    </message>
    <message>
        <source>秒ごと</source>
        <translation>seconds</translation>
    </message>
    <message>
        <source>Twitterは60秒で70リクエストの制限のため</source>
        <translation>(Twitter: at most 70 requests/min)</translation>
    </message>
    <message>
        <source>取得分のローテーション</source>
        <translation>Rotate</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>TfrmTwitt</name>
    <message>
        <source>つぶやく</source>
        <translation>Post</translation>
    </message>
    <message>
        <source>本文</source>
        <translation>Text</translation>
    </message>
    <message numerus="yes">
        <source>%n文字</source>
        <translation>
            <numerusform>%n character</numerusform>
            <numerusform>%n characters</numerusform>
        </translation>
    </message>
    <message>
        <source>文字数</source>
        <translation>Length</translation>
    </message>
    <message>
        <source>(最大140文字)</source>
        <translation>(max. 140 characters)</translation>
    </message>
    <message>
        <source>Ctrl+Enterでもつぶやけます</source>
        <translation>Ctrl+Enter posts too</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>140文字を超えているようです。このまま書き込みますか？</source>
        <translation>The text seems to be longer than 140 characters. Post it anyway?</translation>
    </message>
    <message>
        <source>%1/%2</source>
        <translation>%1/%2</translation>
    </message>
    <message>
        <source>(文字数の制限なし)</source>
        <translation>(no length limit)</translation>
    </message>
    <message>
        <source>(最大%1文字)</source>
        <translation>(%1 characters at most)</translation>
    </message>
    <message>
        <source>%1文字を超えているようです。このまま書き込みますか？</source>
        <translation>The text seems to be longer than %1 characters. Post it anyway?</translation>
    </message>
    <message>
        <source>投稿を中止しました。サーバーには届いている可能性があります</source>
        <translation>Post abandoned. The server may have received it.</translation>
    </message>
    <message>
        <source>投稿しました</source>
        <translation>Posted.</translation>
    </message>
    <message>
        <source>つぶやく - @%1 への返信</source>
        <translation>Post - reply to @%1</translation>
    </message>
</context>
<context>
    <name>TfrmVersion</name>
    <message>
        <source>バージョン</source>
        <translation>About</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>更新履歴</source>
        <translation>History</translation>
    </message>
    <message>
        <source>[v0.6]
お気に入りスターの機能が稼動
XMLライブラリ内の&lt;Id&gt;のバグを修正
[v0.5]
リンクURLのジャンプ機能を搭載
フレンドタイムライン取得に成功</source>
        <translation>[v0.6]
The favorite star works
Fixed the &lt;Id&gt; bug in the XML library
[v0.5]
Links in a status open
The friends timeline is read</translation>
    </message>
</context>
<context>
    <name>TimelineData</name>
    <message>
        <source>&apos;%1&apos; は有効な整数値ではありません</source>
        <translation>&apos;%1&apos; is not a valid integer</translation>
    </message>
</context>
<context>
    <name>XMLDoc</name>
    <message>
        <source>アクティブドキュメントがありません</source>
        <translation>No active document</translation>
    </message>
</context>
<context>
    <name>XMLErrors</name>
    <message>
        <source>%1<byte value="xd"/>
直線: %2<byte value="xd"/>
%3</source>
        <translation>%1<byte value="xd"/>
Line: %2<byte value="xd"/>
%3</translation>
    </message>
    <message>
        <source>Interface はサポートされていません</source>
        <translation>Interface not supported</translation>
    </message>
    <message>
        <source>リストのインデックスが範囲を超えています (%1)</source>
        <translation>List index out of bounds (%1)</translation>
    </message>
</context>
<context>
    <name>XMLNode</name>
    <message>
        <source>ノードの作成に DOM ノードが必要です</source>
        <translation>Creating a node needs a DOM node</translation>
    </message>
    <message>
        <source>要素は単一テキストノードを含んでいません</source>
        <translation>The element does not hold a single text node</translation>
    </message>
    <message>
        <source>要素名 &quot;%1&quot; は使用できません</source>
        <translation>The element name &quot;%1&quot; cannot be used</translation>
    </message>
    <message>
        <source>属性を持てるのは要素だけです</source>
        <translation>Only elements can have attributes</translation>
    </message>
    <message>
        <source>属性名 &quot;%1&quot; は使用できません</source>
        <translation>The attribute name &quot;%1&quot; cannot be used</translation>
    </message>
</context>
<context>
    <name>XMLNodeList</name>
    <message>
        <source>ノード &quot;%1&quot; が見つかりません</source>
        <translation>Node &quot;%1&quot; not found</translation>
    </message>
</context>
</TS>
