#include "core/GlideSpeed.h"

#include <algorithm>
#include <cmath>

namespace skiro {

void GlideSpeed::start(double base) {
    m_speed = base;
    m_accel = 0;
}

double GlideSpeed::target(double base, double extent, const std::vector<WaitingText>& waiting,
                          std::uint32_t nowMs, double current) {
    const double ceiling = std::max(base, extent / kCeilingMsPerExtent);
    double wanted = base;
    double before = 0; // pixels that enter ahead of the item
    for (const WaitingText& item : waiting) {
        if (item.pixels <= 0)
            continue;
        // Unsigned difference: tick counts wrap.
        const double age = static_cast<double>(static_cast<std::uint32_t>(nowMs - item.arrivedMs));
        const double toStart = std::max(kStartWithinMs - age, kLateMs);
        const double toIn = std::max(kInWithinMs - age, kLateMs);
        wanted = std::max({wanted, before / toStart, (before + item.pixels) / toIn});
        before += item.pixels;
    }
    // Plan the way back: no faster than lets the ramp come down to the base speed by the time
    // the last waiting pixel is in.
    const double ahead = std::max(0.0, before - current * 2 / kOmegaPerMs);
    const double braking = std::sqrt(base * base + 2 * kBrakeAccel * ahead);
    return std::clamp(std::min(wanted, braking), base, ceiling);
}

double GlideSpeed::advance(double dtMs, double target) {
    // Small steps keep the follower stable and the distance exact at any frame interval.
    constexpr double kStepMs = 2;
    double moved = 0;
    while (dtMs > 0) {
        const double h = std::min(dtMs, kStepMs);
        const double pull =
            kOmegaPerMs * kOmegaPerMs * (target - m_speed) - 2 * kOmegaPerMs * m_accel;
        m_accel = std::clamp(m_accel + pull * h, -kMaxAccel, kMaxAccel);
        const double next = std::max(0.0, m_speed + m_accel * h);
        moved += (m_speed + next) / 2 * h;
        m_speed = next;
        dtMs -= h;
    }
    return moved;
}

} // namespace skiro
