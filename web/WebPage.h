#pragma once
#include <QByteArray>

#include "core/Colour.h"

namespace skiro {

// The audience page: one HTML file with its style and script inside, built into the program,
// and the Content-Security-Policy that allows exactly that style and that script (by their
// hashes) and nothing from anywhere else.
struct WebPage {
    // The page's backgrounds (its --bg), against which colours from the lines are made
    // readable.
    static constexpr Colour kDarkBackground = rgb(0x00, 0x00, 0x00);
    static constexpr Colour kLightBackground = rgb(0xFB, 0xFB, 0xF8);

    QByteArray html;
    QByteArray styleHash;  // "'sha256-...'"
    QByteArray scriptHash; // "'sha256-...'"

    static const WebPage& instance();
    // The policy for the page, with the stream's own address allowed for connections:
    // `streamOrigin` is "ws://host:port", or empty where the request named no usable host.
    QByteArray contentSecurityPolicy(const QByteArray& streamOrigin) const;

    // What a viewer without the right access code gets instead of the page: a short page in
    // Japanese that says why and asks for the code, sending it back to the page's own address.
    // `codeGiven` tells a wrong code from none at all.
    static QByteArray codeRequest(bool codeGiven);
    static QByteArray codeRequestPolicy();
};

} // namespace skiro
