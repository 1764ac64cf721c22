#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace skiro {

class Profile;

// The audience web view: whether the program serves the captions to browsers on the network,
// where, and behind which access code. Kept in the profile's [Web] section.
struct WebSettings {
    static constexpr std::int32_t kDefaultPort = 8730;
    static constexpr std::size_t kAccessCodeMax = 32;
    // A shorter code is guessed too soon, even at the ten tries a minute an address is allowed.
    static constexpr std::size_t kAccessCodeMin = 6;

    std::int32_t Enabled = 0;
    std::int32_t Port = kDefaultPort;
    bool BindAll = false;   // "all": every interface; "local" (the default): this machine only
    std::string AccessCode; // empty: no code asked
    // Host names the pages may be asked for besides this machine's own names and addresses
    // (a name the hall's network gives the machine, a proxy's), separated by spaces or commas.
    // Any other name in a request is refused, so that a page of another site cannot reach the
    // captions through a name of its own that it points at this machine.
    std::string Hosts{};

    bool operator==(const WebSettings&) const = default;
};

// Whether a port number can be listened on at all (1 to 65535).
bool validWebPort(std::int32_t port);
// An access code is letters and digits only, at most 32 of them, so that it travels in an
// address and a QR code unchanged.
bool validAccessCode(std::string_view code);
// Whether the web view can be served behind `code`: no code at all, or one of at least
// kAccessCodeMin characters.
bool accessCodeLongEnough(std::string_view code);
// A new code of `length` letters and digits, leaving out those easily taken for one another
// on a projector or read aloud (0 O o, 1 l I), drawn from `random`, a uniform source of 32-bit
// values.
std::string makeAccessCode(std::size_t length, const std::function<std::uint32_t()>& random);

// The names of WebSettings::Hosts, lower case, without a trailing dot.
std::vector<std::string> webHostNames(std::string_view hosts);

// Missing keys keep the defaults; a Bind value other than "all" means "local", and a port out of
// range the default port. A code written into the profile by hand is taken as it is: only the
// dialog restricts what can be typed, so a code is never dropped and the page left open.
void loadWebSettings(const Profile& profile, WebSettings& web);
// Writes the section only where the profile has one already or the settings differ from the
// defaults, so a profile that never used the web view stays as it was.
void saveWebSettings(const WebSettings& web, Profile& profile);

} // namespace skiro
