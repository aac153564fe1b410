// The program's own acts on the server, remembered for the run: an upload,
// a delete or the clock probe changes the time of the folder it happens in,
// and the site whose remote folder lists that folder would otherwise report
// it as changed. Internal to engine/.
#pragma once

namespace engine {

// Notes that the program changed something in `folder` (a remote folder as
// a site names it; "/" or "\" between levels, leading and trailing ones
// ignored) on `host`.
void NoteOwnAct(const char* host, const char* folder);

// True when the program changed something in `folder` on `host` since the
// last call for it; the note is then forgotten.
bool TakeOwnAct(const char* host, const char* folder);

} // namespace engine
