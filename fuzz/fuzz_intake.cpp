// Received bytes in pieces of any size give the same lines, the same current line and the same
// backlog as the same bytes in one piece.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>

#include "tests/core/ViewRig.h"

namespace {

struct Outcome {
    std::vector<std::string> lines;
    std::string current;
    std::string backlog;
    bool operator==(const Outcome&) const = default;
};

Outcome take(std::string_view text, std::uint32_t seed, std::size_t maxPiece) {
    skiro::testing::ViewRig rig;
    std::minstd_rand random(seed);
    while (!text.empty()) {
        const std::size_t piece =
            maxPiece == 0 ? text.size()
                          : std::min(text.size(), 1 + static_cast<std::size_t>(random() % maxPiece));
        rig.intake.receiveText(text.substr(0, piece));
        text.remove_prefix(piece);
    }
    Outcome outcome;
    outcome.current = rig.intake.currentLine();
    outcome.backlog = std::string(rig.intake.backlog());
    rig.intake.recordUnshownLines();
    outcome.lines = rig.recorder.lines;
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    // The first bytes choose how the rest is cut: a seed and the largest piece.
    const std::uint32_t seed = data[0];
    const std::size_t maxPiece = 1 + data[1] % 64;
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
    if (!(take(text, seed, maxPiece) == take(text, 0, 0)))
        std::abort();
    return 0;
}
