#pragma once

// When the session did not set XDG_RUNTIME_DIR (a root shell, su, a cron job),
// points it at the private folder Qt would fall back to, so the program starts
// without Qt's warning about it. Leaves it unset when that folder is not a
// private folder of this user; Qt then warns, rightly.
void EnsureRuntimeFolder();

// Keeps the page engine's start-up notes off the terminal: its settings dump,
// the sandbox note (the program itself turns the sandbox off as root) and the
// missing graphics backend (pages are then drawn without the GPU, as headless
// runs always are). Every other message still reaches stderr.
void SilenceEngineStartupNotes();
