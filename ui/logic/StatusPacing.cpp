#include "ui/logic/StatusPacing.h"

StatusStep OnStatusText(StatusPacing& pacing, std::uint32_t now, std::uint32_t& delay)
{
    delay = 0;
    if (pacing.paintDue || pacing.timerArmed) return StatusNothing;
    // Unsigned: the tick count may wrap between two paints.
    const std::uint32_t since = now - pacing.lastPaint;
    if (!pacing.painted || since >= kStatusFrameMs) {
        pacing.paintDue = true;
        return StatusInvalidate;
    }
    pacing.timerArmed = true;
    delay = kStatusFrameMs - since;
    return StatusArmTimer;
}

StatusStep OnStatusTimer(StatusPacing& pacing)
{
    pacing.timerArmed = false;
    if (pacing.paintDue) return StatusNothing;
    pacing.paintDue = true;
    return StatusInvalidate;
}

void OnStatusPainted(StatusPacing& pacing, std::uint32_t now)
{
    pacing.paintDue = false;
    pacing.painted = true;
    pacing.lastPaint = now;
}
