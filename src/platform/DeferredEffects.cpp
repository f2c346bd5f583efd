#include "platform/DeferredEffects.h"

#include <utility>

namespace quorvit {

namespace {
thread_local DeferredEffects* t_recording = nullptr;
} // namespace

DeferredEffects::Recording::Recording(DeferredEffects& effects) : m_outer(t_recording)
{
    t_recording = &effects;
}

DeferredEffects::Recording::~Recording()
{
    t_recording = m_outer;
}

void DeferredEffects::replay()
{
    std::vector<std::function<void()>> effects = std::exchange(m_effects, {});
    for (const auto& effect : effects)
        perform(effect);
}

void DeferredEffects::perform(std::function<void()> effect)
{
    if (t_recording)
        t_recording->m_effects.push_back(std::move(effect));
    else
        effect();
}

bool DeferredEffects::isRecording()
{
    return t_recording != nullptr;
}

} // namespace quorvit
