// The default audio endpoints, which Windows Vista and later read in place
// of the sound mapper's preferences, and the Norza's direct device.
#pragma once

namespace controlpanel {

// For each data flow and role whose default endpoint belongs to the direct
// device, makes the first active endpoint of that flow that belongs to
// another device the default. A role with no such endpoint, a platform
// without endpoints and a refusal to set a default all leave the role as it
// is. COM is initialized on the calling thread for this call only.
void ReassignDefaultAudioEndpoints();

}  // namespace controlpanel
