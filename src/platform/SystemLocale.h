#pragma once

namespace quorvit {

/// Returns true when the user's preferred interface language is Japanese.
bool isJapaneseSystem();

} // namespace quorvit
