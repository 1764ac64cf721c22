#include "core/WebSettings.h"

#include "core/Profile.h"

namespace skiro {

namespace {

constexpr std::string_view kWeb = "Web";

bool isAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace

bool validWebPort(std::int32_t port) {
    return port >= 1 && port <= 65535;
}

bool validAccessCode(std::string_view code) {
    if (code.size() > WebSettings::kAccessCodeMax)
        return false;
    for (const char c : code) {
        if (!isAsciiAlnum(c))
            return false;
    }
    return true;
}

bool accessCodeLongEnough(std::string_view code) {
    return code.empty() || code.size() >= WebSettings::kAccessCodeMin;
}

std::string makeAccessCode(std::size_t length, const std::function<std::uint32_t()>& random) {
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnpqrstuvwxyz23456789";
    constexpr auto kSize = static_cast<std::uint32_t>(kAlphabet.size());
    // Values past the last whole multiple of the alphabet are drawn again, so that every
    // character is as likely as every other.
    constexpr std::uint32_t kLimit = 0xFFFFFFFFu - 0xFFFFFFFFu % kSize;
    std::string code;
    while (code.size() < length) {
        const std::uint32_t value = random();
        if (value < kLimit)
            code.push_back(kAlphabet[value % kSize]);
    }
    return code;
}

std::vector<std::string> webHostNames(std::string_view hosts) {
    std::vector<std::string> names;
    std::string name;
    const auto take = [&] {
        while (!name.empty() && name.back() == '.')
            name.pop_back();
        if (!name.empty())
            names.push_back(name);
        name.clear();
    };
    for (const char c : hosts) {
        if (c == ' ' || c == ',' || c == '\t') {
            take();
            continue;
        }
        name.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
    }
    take();
    return names;
}

void loadWebSettings(const Profile& profile, WebSettings& web) {
    web.Enabled = profile.readInt(kWeb, "Enabled", web.Enabled) != 0 ? 1 : 0;
    const std::int32_t port = profile.readInt(kWeb, "Port", web.Port);
    web.Port = validWebPort(port) ? port : WebSettings::kDefaultPort;
    web.BindAll =
        equalsIgnoringCase(profile.readText(kWeb, "Bind", web.BindAll ? "all" : "local"), "all");
    web.AccessCode = profile.readText(kWeb, "AccessCode", web.AccessCode);
    web.Hosts = profile.readText(kWeb, "Hosts", web.Hosts);
}

void saveWebSettings(const WebSettings& web, Profile& profile) {
    const bool present = profile.contains(kWeb, "Enabled") || profile.contains(kWeb, "Port") ||
                         profile.contains(kWeb, "Bind") || profile.contains(kWeb, "AccessCode");
    if (!present && web == WebSettings{})
        return;
    profile.writeInt(kWeb, "Enabled", web.Enabled);
    profile.writeInt(kWeb, "Port", web.Port);
    profile.writeText(kWeb, "Bind", web.BindAll ? "all" : "local");
    profile.writeText(kWeb, "AccessCode", web.AccessCode);
    // Written only where it is used, so that other profiles keep their four keys.
    if (!web.Hosts.empty() || profile.contains(kWeb, "Hosts"))
        profile.writeText(kWeb, "Hosts", web.Hosts);
}

} // namespace skiro
