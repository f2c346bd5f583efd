#pragma once

#include <functional>
#include <vector>

namespace quorvit {

/// What a piece of work does beyond its own objects: log lines, alerts, notifications and the
/// program-wide state the formats keep. Work that runs beside other work records them here, and the
/// caller replays each record in the order the work would have run one after the other, so the program
/// ends up exactly as a run in that order leaves it.
class DeferredEffects
{
public:
    DeferredEffects() = default;
    DeferredEffects(const DeferredEffects&) = delete;
    DeferredEffects& operator=(const DeferredEffects&) = delete;

    /// While one lives, the effects of its thread's work are recorded instead of taking place.
    class Recording
    {
    public:
        explicit Recording(DeferredEffects& effects);
        ~Recording();
        Recording(const Recording&) = delete;
        Recording& operator=(const Recording&) = delete;

    private:
        DeferredEffects* m_outer;
    };

    /// Lets the recorded effects take place, in order, on the calling thread (or records them again
    /// when that thread is recording), and forgets them.
    void replay();
    bool isEmpty() const { return m_effects.empty(); }

    /// Runs the effect now, or records it when the calling thread is recording.
    static void perform(std::function<void()> effect);
    static bool isRecording();

private:
    std::vector<std::function<void()>> m_effects;
};

} // namespace quorvit
