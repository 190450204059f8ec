#include "check/NetworkHint.h"

namespace
{
    using Kind = CheckFinding::Kind;

    struct Text
    {
        Kind kind;
        bool onlyWhenBlocking;      // a firewall that surely keeps the mixer out, not one that may
        const char* english;
        const char* japanese;
    };

    // Written here as valid UTF-8, so the conversion below never meets malformed input.
    // At most two lines in the window: the command fills the second where there is one.
    constexpr Text texts[] = {
        { Kind::other, false,
          "No mixer yet? It must be on the same network as this PC, and waiting for the update.",
          "ミキサーが接続しない場合: ミキサーがこの PC と同じネットワークにあり、アップデートを待つ状態か確認してください。" },
        { Kind::noInterface, false,
          "This PC is on no network. Connect it to the mixer's network by cable or Wi-Fi.",
          "この PC はネットワークにつながっていません。ケーブルか Wi-Fi でミキサーのネットワークにつないでください。" },
        { Kind::noReachableInterface, false,
          "No network of this PC can reach the mixer. Connect it to the mixer's network by cable or Wi-Fi.",
          "この PC のネットワークからはミキサーに届きません。ケーブルか Wi-Fi でミキサーのネットワークにつないでください。" },
        { Kind::interfaceDown, false,
          "{name} is down: connect its cable, or switch it on.",
          "{name} は切断されています。ケーブルをつなぐか、有効にしてください。" },
        { Kind::tunnel, false,
          "{name} is a VPN or tunnel, and the mixer is never behind one. Connect this PC to the mixer's own network.",
          "{name} は VPN またはトンネルで、その先にミキサーはありません。この PC をミキサーのネットワークにつないでください。" },
        { Kind::linkLocal, false,
          "{name} got no address from the network (169.254...). On a direct cable, give the mixer a 169.254 address too.",
          "{name} はネットワークからアドレスを得ていません（169.254...）。直接つなぐ場合は、ミキサーにも 169.254 のアドレスを設定してください。" },
        { Kind::noBroadcast, false,
          "{name} has a /31 or /32 address, where the mixer cannot hear this PC. Give it an address in the mixer's subnet.",
          "{name} のアドレスは /31 または /32 で、ミキサーに届きません。ミキサーと同じサブネットのアドレスを設定してください。" },
        { Kind::portHeld, false,
          "{name} holds TCP port {port}, which the mixer connects to. End it, then update again.",
          "{name} が TCP ポート {port} を使用しています。終了してから、もう一度アップデートしてください。" },
        { Kind::announcementsAstray, false,
          "This PC's announcements leave by another route, such as a VPN. Disconnect the VPN.",
          "この PC からの通知が VPN などの別の経路に送られています。VPN を切断してください。" },
        { Kind::firewallBlocks, true,
          "The firewall ({name}) keeps the mixer out. To let it in:\n{command}",
          "ファイアウォール（{name}）がミキサーの接続を妨げています。許可するには:\n{command}" },
        { Kind::firewallBlocks, false,
          "The firewall ({name}) may keep the mixer out. To let it in:\n{command}",
          "ファイアウォール（{name}）がミキサーの接続を妨げている可能性があります。許可するには:\n{command}" },
        { Kind::firewallOn, false,
          "The firewall ({name}) is on. To let the mixer in:\nsudo ufw allow {port}/tcp",
          "ファイアウォール（{name}）が有効です。ミキサーを許可するには:\nsudo ufw allow {port}/tcp" },
        { Kind::windowsFirewallBlocks, false,
          "Windows Firewall keeps the mixer out on this {network} network. Run allow-firewall.cmd beside this program (it asks for administrator rights).",
          "Windows ファイアウォールが、この{network}ネットワークでミキサーの接続を妨げています。このプログラムの横の allow-firewall.cmd を実行してください（管理者の権限を求められます）。" },
        { Kind::windowsFirewallAsks, false,
          "Windows Firewall has no rule for this program on this {network} network. Set the network to Private, or run allow-firewall.cmd beside this program.",
          "Windows ファイアウォールに、この{network}ネットワークでこのプログラムの規則がありません。ネットワークをプライベートにするか、このプログラムの横の allow-firewall.cmd を実行してください。" },
    };

    // Windows' network kinds as its own settings name them.
    juce::String networkKind (const juce::String& kind, int language)
    {
        if (language != 1)
            return kind;

        return kind == "Private" ? juce::String (juce::CharPointer_UTF8 ("プライベート"))
             : kind == "Domain" ? juce::String (juce::CharPointer_UTF8 ("ドメイン"))
                                : juce::String (juce::CharPointer_UTF8 ("パブリック"));
    }

    bool tellsApart (const CheckFinding& f)
    {
        return f.kind != Kind::other;
    }
}

NetworkHint NetworkHint::from (const std::vector<CheckFinding>& findings, int port)
{
    for (const auto wanted : { CheckFinding::blocking, CheckFinding::warning })
        for (auto& f : findings)
            if (tellsApart (f) && (f.status == wanted || (wanted == CheckFinding::warning && f.status == CheckFinding::unchecked)))
                return { f.kind, f.status, f.name, f.command.isNotEmpty() ? f.command : f.fix, port };

    return { Kind::other, CheckFinding::ok, {}, {}, port };
}

juce::String NetworkHint::text (int language) const
{
    for (auto& t : texts)
    {
        if (t.kind != kind || (t.onlyWhenBlocking && status != CheckFinding::blocking))
            continue;

        return juce::String (juce::CharPointer_UTF8 (language == 1 ? t.japanese : t.english))
            .replace ("{name}", name)
            .replace ("{command}", command)
            .replace ("{port}", juce::String (port))
            .replace ("{network}", networkKind (name, language));
    }

    return {};
}

bool NetworkHint::operator== (const NetworkHint& other) const noexcept
{
    return kind == other.kind && status == other.status && name == other.name && command == other.command && port == other.port;
}
