#include "core/ScrollEngine.h"

#include <algorithm>
#include <cmath>

#include "core/Intake.h"
#include "core/SettingRanges.h"

namespace skiro {

ScrollEngine::ScrollEngine(const Settings& settings, const Clock& clock, ViewState& state,
                           Intake& intake, ScrollTarget& target)
    : m_settings(settings), m_clock(clock), m_state(state), m_intake(intake), m_target(target),
      m_idleSince(clock.tickCount()) {
    m_state.lastPaintTick = m_idleSince;
}

void ScrollEngine::onTick() {
    if (m_state.scrolling) {
        scrollStep(m_settings.Step);
        return;
    }
    m_idleSince = m_clock.tickCount();
    // A line that arrived in small pieces leaves a gap of a step per piece behind it; once
    // nothing is pending the newest line is drawn against the incoming edge in one repaint.
    if (hasGapToClose()) {
        m_target.invalidate(m_target.clientRect(), true);
        m_state.entryOffset = 0;
        m_state.entryPhase = 0;
    }
}

bool ScrollEngine::hasGapToClose() const {
    return m_intake.hasNothingPending() &&
           m_state.entryOffset > 10 * scrollStepPixels(m_settings.Step);
}

int ScrollEngine::scrollStep(int step) {
    step = scrollStepPixels(step);
    const std::uint32_t scrolledFor = m_clock.tickCount() - m_idleSince;
    if (m_settings.SpeedUp && scrolledFor > static_cast<std::uint32_t>(m_settings.SpeedUpDelay))
        step *= 2;

    const bool vertical = m_settings.Direction == 1;
    const int dx = vertical ? step : 0;
    const int dy = vertical ? 0 : -step;
    m_target.movePicture(dx, dy);
    m_state.entryOffset += step;

    // A new current line may already have entered partly with the previous line's last steps,
    // drawn as it was then; repaint its whole band once.
    if (m_state.bandRepaintPending) {
        const Rect band =
            entryBand(m_target.clientRect(), m_settings.Direction, m_state.entryOffset);
        if (!band.isEmpty())
            m_target.invalidate(band, false);
        m_state.bandRepaintPending = false;
    }
    // The growing row moves with the picture; the rectangle's near edge stays on the incoming
    // edge.
    if (!m_state.partialRowRect.isEmpty()) {
        m_state.partialRowRect.right += dx;
        m_state.partialRowRect.top += dy;
    }
    return step;
}

void ScrollEngine::glideStart(double nowMs) {
    if (m_gliding)
        return;
    m_gliding = true;
    m_lastFrameMs = nowMs;
    m_idleSince = static_cast<std::uint32_t>(static_cast<std::int64_t>(std::floor(nowMs)));
    m_speed.start(baseSpeed(m_settings));
}

double ScrollEngine::glideFrame(double nowMs, const std::vector<WaitingText>& waiting) {
    if (!m_gliding)
        glideStart(nowMs);
    const double dt = std::clamp(nowMs - m_lastFrameMs, 0.0, kMaxFrameGapMs);
    m_lastFrameMs = nowMs;
    if (!m_state.scrolling) {
        m_gliding = false;
        return 0;
    }
    const double base = baseSpeed(m_settings);
    const Rect client = m_target.clientRect();
    const bool vertical = m_settings.Direction == 1;
    double target = base;
    const auto nowTick = static_cast<std::uint32_t>(static_cast<std::int64_t>(std::floor(nowMs)));
    if (m_settings.KeepUp) {
        target = GlideSpeed::target(base, vertical ? client.width() : client.height(), waiting,
                                    nowTick, m_speed.speed());
    } else if (m_settings.SpeedUp &&
               nowTick - m_idleSince > static_cast<std::uint32_t>(m_settings.SpeedUpDelay)) {
        target = 2 * base;
    }
    const double moved = m_speed.advance(dt, target);

    double phase = m_state.entryPhase + moved;
    const double whole = std::floor(phase);
    m_state.entryPhase = phase - whole;
    const int step = static_cast<int>(whole);
    if (step > 0) {
        m_state.entryOffset += step;
        if (!m_state.partialRowRect.isEmpty()) {
            if (vertical)
                m_state.partialRowRect.right += step;
            else
                m_state.partialRowRect.top -= step;
        }
    }
    return moved;
}

bool ScrollEngine::closeGapAtRest() {
    if (m_state.scrolling)
        return false;
    m_gliding = false;
    m_idleSince = m_clock.tickCount();
    if (!hasGapToClose())
        return false;
    m_target.invalidate(m_target.clientRect(), true);
    m_state.entryOffset = 0;
    m_state.entryPhase = 0;
    return true;
}

bool ScrollEngine::checkStall() {
    if (!m_state.scrolling)
        return false;
    const std::uint32_t now = m_clock.tickCount();
    if (now - m_state.lastPaintTick <= kStallMs)
        return false;
    m_intake.commitLine(0);
    m_state.lastPaintTick = now;
    m_target.invalidate(m_target.clientRect(), true);
    return true;
}

void ScrollEngine::paintDone() {
    m_state.lastPaintTick = m_clock.tickCount();
}

} // namespace skiro
