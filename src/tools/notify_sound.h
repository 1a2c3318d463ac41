#pragma once

#include <QString>

// The three notification sounds (what each means is up to the callers).
inline constexpr int FirstNotifySound = 101;
inline constexpr int LastNotifySound = 103;

// Path of sound number's file in the per-user data folder, written from the
// built-in sound when missing, so a file the user put there is kept; empty
// text for an unknown number or when the file cannot be written.
QString NotifySoundFile(int number);

// Plays sound number without waiting for it; failures stay silent.
void PlayNotifySound(int number);
