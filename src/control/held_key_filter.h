#pragma once

#include <chrono>
#include <optional>

namespace krt {

// Tells a key that is held from one pressed again. A window system's auto-repeat may send a
// held key as pairs of release and press (X does, 40 ms apart, once the repeat delay has
// passed); a move driven by the key must start once and stop once, at the real release. So a
// release only ends the hold when no press of the same key follows within the grace time.
class HeldKeyFilter {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kDefaultGrace{100};

    enum class Press { Starts, Continues };

    explicit HeldKeyFilter(std::chrono::milliseconds grace = kDefaultGrace) : m_grace(grace) {}

    // Starts: a new hold (a move to send). Continues: the same key still held (send nothing).
    Press press(int key, Clock::time_point now);
    // The hold of that key may be ending; nothing for a key not held.
    void release(int key, Clock::time_point now);
    // The key whose release stood for the grace time by now: its hold is over (send the stop).
    std::optional<int> expire(Clock::time_point now);
    // When expire() should be asked next; nothing while no release is pending.
    std::optional<Clock::time_point> deadline() const;
    // Forgets the key (the window lost the keys): the caller stops the move itself.
    void reset();

    std::optional<int> heldKey() const { return m_key; }

  private:
    std::chrono::milliseconds m_grace;
    std::optional<int> m_key;
    std::optional<Clock::time_point> m_releasedAt;
};

}  // namespace krt
